#include "cvWidget.h"

#include "cvTranslate.h"

cvWidget::cvWidget(QWidget *parent) : QWidget(parent) {}

void cvWidget::setSourceToolTip(const QString &english)
{
    m_toolTipSource = english;
    setToolTip(cvTranslate(english));
}

void cvWidget::dealLangConfigChanged()
{
    if (!m_toolTipSource.isEmpty())
        setToolTip(cvTranslate(m_toolTipSource));
    emit langConfigChanged();
}
