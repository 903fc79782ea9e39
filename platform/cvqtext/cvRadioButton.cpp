#include "cvRadioButton.h"

#include "cvTranslate.h"

cvRadioButton::cvRadioButton(const QString &englishSource, QWidget *parent) : QRadioButton(parent)
{
    setSourceText(englishSource);
}

void cvRadioButton::setSourceText(const QString &english)
{
    m_source = english;
    setText(cvTranslate(english));
}

void cvRadioButton::dealLangConfigChanged()
{
    if (!m_source.isEmpty())
        setText(cvTranslate(m_source));
}
