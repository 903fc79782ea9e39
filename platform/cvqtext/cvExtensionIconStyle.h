#pragma once

#include <QProxyStyle>

// Draws as its base style, but gives the tool bar and menu bar extension buttons the base style's
// built-in arrow pixmaps instead of its icon files. Qt decides an icon file's format from its
// contents, which loads every image format plugin; the menu bar asks for that icon when it is made.
class cvExtensionIconStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // Takes ownership of the base style.
    explicit cvExtensionIconStyle(QStyle *base);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
