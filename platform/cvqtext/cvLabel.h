#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

// A label that keeps its English source and shows it in the current language. Arguments given
// with setSourceText(english, arguments) fill %1, %2, ... after translation; they are shown as
// they are. Labels showing data rather than words are plain QLabels.
class cvLabel : public QLabel
{
    Q_OBJECT
public:
    explicit cvLabel(const QString &englishSource = QString(), QWidget *parent = nullptr);

    void setSourceText(const QString &english);
    void setSourceText(const QString &english, const QStringList &arguments);
    QString sourceText() const { return m_source; }
    void dealLangConfigChanged();

private:
    QString m_source;
    QStringList m_arguments;
};
