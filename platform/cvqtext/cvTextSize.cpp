#include "cvTextSize.h"

#include "cvFontWarmUp.h"

#include <QApplication>
#include <QFont>

namespace {
bool g_initialised = false;
int g_small = 9;
int g_normal = 10;
int g_title = 14;
} // namespace

void InitTextSizeCommon()
{
    if (g_initialised)
        return;
    g_initialised = true;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    cvFontWarmUp::start();
    QFont font = QApplication::font();
    if (font.pointSize() > 0 && font.pointSize() != g_normal) {
        font.setPointSize(g_normal);
        QApplication::setFont(font);
    }
}

int cvTextSizeSmall()
{
    return g_small;
}

int cvTextSizeNormal()
{
    return g_normal;
}

int cvTextSizeTitle()
{
    return g_title;
}
