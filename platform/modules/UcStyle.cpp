#include "UcStyle.h"

#include "ModuleTrace.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <QWidget>

void ucstyle_init(QApplication *application, QWidget *mainWindow)
{
    MODULE_TRACE();
    if (!application)
        return;
    // A light base for the style sheet; the sheet itself stays as the theme load set it.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
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
