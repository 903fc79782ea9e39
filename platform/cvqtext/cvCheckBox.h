#pragma once

#include <QCheckBox>
#include <QString>

// A QCheckBox that keeps its English source and shows it in the current language. Text set with
// setText() directly is not touched by a language switch unless a source was set.
class cvCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit cvCheckBox(const QString &englishSource = QString(), QWidget *parent = nullptr);

    void setSourceText(const QString &english);
    QString sourceText() const { return m_source; }
    virtual void dealLangConfigChanged();

private:
    QString m_source;
};
