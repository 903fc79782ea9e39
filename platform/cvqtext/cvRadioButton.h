#pragma once

#include <QRadioButton>
#include <QString>

// A QRadioButton that keeps its English source and shows it in the current language. Text set with
// setText() directly is not touched by a language switch unless a source was set.
class cvRadioButton : public QRadioButton
{
    Q_OBJECT
public:
    explicit cvRadioButton(const QString &englishSource = QString(), QWidget *parent = nullptr);

    void setSourceText(const QString &english);
    QString sourceText() const { return m_source; }
    void dealLangConfigChanged();

private:
    QString m_source;
};
