#include "cvPlainTextEdit.h"

#include "cvTranslate.h"

cvPlainTextEdit::cvPlainTextEdit(QWidget *parent) : QPlainTextEdit(parent) {}

void cvPlainTextEdit::setPlaceholderSource(const QString &english)
{
    m_placeholderSource = english;
    setPlaceholderText(cvTranslate(english));
}

void cvPlainTextEdit::ResetPlaceHolderText()
{
    if (!m_placeholderSource.isEmpty())
        setPlaceholderText(cvTranslate(m_placeholderSource));
}
