#include "cvLabel.h"

#include "cvTranslate.h"

cvLabel::cvLabel(const QString &englishSource, QWidget *parent) : QLabel(parent)
{
    setSourceText(englishSource);
}

void cvLabel::setSourceText(const QString &english)
{
    setSourceText(english, QStringList());
}

void cvLabel::setSourceText(const QString &english, const QStringList &arguments)
{
    m_source = english;
    m_arguments = arguments;
    dealLangConfigChanged();
    if (english.isEmpty())
        clear();
}

void cvLabel::dealLangConfigChanged()
{
    if (m_source.isEmpty())
        return;
    QString text = cvTranslate(m_source);
    for (const QString &argument : m_arguments)
        text = text.arg(argument);
    setText(text);
}
