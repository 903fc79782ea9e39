#include "cvPushButton.h"

#include "cvTranslate.h"

cvPushButton::cvPushButton(const QString &englishSource, QWidget *parent) : QPushButton(parent)
{
    setSourceText(englishSource);
}

void cvPushButton::setSourceText(const QString &english)
{
    m_source = english;
    setText(cvTranslate(english));
}

void cvPushButton::dealLangConfigChanged()
{
    if (!m_source.isEmpty())
        setText(cvTranslate(m_source));
}
