#include "cvLineEdit.h"

#include "cvTranslate.h"

cvLineEdit::cvLineEdit(QWidget *parent) : QLineEdit(parent) {}

void cvLineEdit::setPlaceholderSource(const QString &english)
{
    m_placeholderSource = english;
    setPlaceholderText(cvTranslate(english));
}

void cvLineEdit::dealLangConfigChanged()
{
    if (!m_placeholderSource.isEmpty())
        setPlaceholderText(cvTranslate(m_placeholderSource));
}
