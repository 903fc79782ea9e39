#pragma once

#include <QPlainTextEdit>
#include <QString>

// A QPlainTextEdit whose placeholder text follows the language.
class cvPlainTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit cvPlainTextEdit(QWidget *parent = nullptr);

    void setPlaceholderSource(const QString &english);
    QString placeholderSource() const { return m_placeholderSource; }
    void ResetPlaceHolderText();

private:
    QString m_placeholderSource;
};
