#include "cvAccessibleText.h"

#include "cvTranslate.h"

#include <QVariant>
#include <QWidget>

namespace {
const char kAccessibleSourceProperty[] = "cvAccessibleSource";

void retranslateOne(QWidget *widget)
{
    const QString source = widget->property(kAccessibleSourceProperty).toString();
    if (!source.isEmpty())
        widget->setAccessibleName(cvTranslate(source));
}
} // namespace

void cvSetAccessibleSource(QWidget *widget, const QString &english)
{
    if (!widget)
        return;
    widget->setProperty(kAccessibleSourceProperty, english);
    widget->setAccessibleName(cvTranslate(english));
}

void cvRetranslateAccessibleNames(QWidget *root)
{
    if (!root)
        return;
    retranslateOne(root);
    const QList<QWidget *> descendants = root->findChildren<QWidget *>();
    for (QWidget *widget : descendants)
        retranslateOne(widget);
}
