#include "UcStyle.h"

#include "ModuleTrace.h"

#include <QApplication>
#include <QPalette>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace {
// The style the application draws with; under a style sheet that is the sheet style's own base, and
// under a proxy the proxy's base.
QStyle *drawingStyle()
{
    QStyle *style = QApplication::style();
    if (style && style->inherits("QStyleSheetStyle")) {
        const QList<QStyle *> bases = style->findChildren<QStyle *>(QString(), Qt::FindDirectChildrenOnly);
        if (bases.size() == 1)
            style = bases.first();
    }
    while (auto *proxy = qobject_cast<QProxyStyle *>(style))
        style = proxy->baseStyle();
    return style;
}
} // namespace

void ucstyle_init(QApplication *application, QWidget *mainWindow)
{
    MODULE_TRACE();
    if (!application)
        return;
    // A light base for the style sheet; the sheet itself stays as the theme load set it. Setting a style
    // parses the whole sheet again and restyles every widget, so it is done only when the base differs.
    QStyle *current = drawingStyle();
    if (!current || current->objectName().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
            QApplication::setStyle(fusion);
    }
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0xf5, 0xf6, 0xf8));
    palette.setColor(QPalette::WindowText, QColor(0x1f, 0x23, 0x28));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xf0, 0xf2, 0xf5));
    palette.setColor(QPalette::Text, QColor(0x1f, 0x23, 0x28));
    palette.setColor(QPalette::Button, QColor(0xff, 0xff, 0xff));
    palette.setColor(QPalette::ButtonText, QColor(0x1f, 0x23, 0x28));
    palette.setColor(QPalette::Highlight, QColor(0x1f, 0x6f, 0xeb));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0x24, 0x29, 0x2f));
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8c, 0x95, 0x9f));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x8c, 0x95, 0x9f));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x8c, 0x95, 0x9f));
    QApplication::setPalette(palette);
    if (mainWindow)
        mainWindow->setPalette(palette);
}
