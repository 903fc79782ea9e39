#include "cvExtensionIconStyle.h"

#include <QIcon>
#include <QPixmap>

cvExtensionIconStyle::cvExtensionIconStyle(QStyle *base) : QProxyStyle(base) {}

QIcon cvExtensionIconStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option,
                                         const QWidget *widget) const
{
    if (standardIcon == SP_ToolBarHorizontalExtensionButton ||
        standardIcon == SP_ToolBarVerticalExtensionButton) {
        const QPixmap pixmap = baseStyle()->standardPixmap(standardIcon, option, widget);
        if (!pixmap.isNull())
            return QIcon(pixmap);
    }
    return QProxyStyle::standardIcon(standardIcon, option, widget);
}
