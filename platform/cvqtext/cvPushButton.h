#pragma once

#include <QPushButton>
#include <QString>

// A QPushButton that keeps its English source and shows it in the current language. Text set with
// setText() directly is not touched by a language switch unless a source was set.
class cvPushButton : public QPushButton
{
    Q_OBJECT
public:
    explicit cvPushButton(const QString &englishSource = QString(), QWidget *parent = nullptr);

    void setSourceText(const QString &english);
    QString sourceText() const { return m_source; }
    void dealLangConfigChanged();

private:
    QString m_source;
};
