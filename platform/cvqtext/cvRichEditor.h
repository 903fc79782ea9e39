#pragma once

#include <QString>
#include <QTextEdit>

// A QTextEdit whose placeholder text follows the language.
class cvRichEditor : public QTextEdit
{
    Q_OBJECT
public:
    explicit cvRichEditor(QWidget *parent = nullptr);

    void setPlaceholderSource(const QString &english);
    QString placeholderSource() const { return m_placeholderSource; }
    void dealLangConfigChanged();

private:
    QString m_placeholderSource;
};
