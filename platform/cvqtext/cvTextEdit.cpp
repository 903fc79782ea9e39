#include "cvTextEdit.h"

#include "cvTranslate.h"

cvTextEdit::cvTextEdit(QWidget *parent) : QTextEdit(parent) {}

void cvTextEdit::setPlaceholderSource(const QString &english)
{
    m_placeholderSource = english;
    setPlaceholderText(cvTranslate(english));
}

void cvTextEdit::ResetPlaceHolderText()
{
    if (!m_placeholderSource.isEmpty())
        setPlaceholderText(cvTranslate(m_placeholderSource));
}
