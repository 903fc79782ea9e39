#include "cvCheckBox.h"

#include "cvTranslate.h"

cvCheckBox::cvCheckBox(const QString &englishSource, QWidget *parent) : QCheckBox(parent)
{
    setSourceText(englishSource);
}

void cvCheckBox::setSourceText(const QString &english)
{
    m_source = english;
    setText(cvTranslate(english));
}

void cvCheckBox::dealLangConfigChanged()
{
    if (!m_source.isEmpty())
        setText(cvTranslate(m_source));
}
