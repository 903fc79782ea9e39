#pragma once

#include <QString>
#include <QTextEdit>

// A QTextEdit whose placeholder text follows the language.
class cvTextEdit : public QTextEdit
{
    Q_OBJECT
public:
    explicit cvTextEdit(QWidget *parent = nullptr);

    void setPlaceholderSource(const QString &english);
    QString placeholderSource() const { return m_placeholderSource; }
    void ResetPlaceHolderText();

private:
    QString m_placeholderSource;
};
