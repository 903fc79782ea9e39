#include "cvRichEditor.h"

#include "cvTranslate.h"

cvRichEditor::cvRichEditor(QWidget *parent) : QTextEdit(parent) {}

void cvRichEditor::setPlaceholderSource(const QString &english)
{
    m_placeholderSource = english;
    setPlaceholderText(cvTranslate(english));
}

void cvRichEditor::dealLangConfigChanged()
{
    if (!m_placeholderSource.isEmpty())
        setPlaceholderText(cvTranslate(m_placeholderSource));
}
