#include "HotkeyFilter.h"

#include "ETLLib.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

HotkeyFilter::HotkeyFilter(QObject *parent) : QObject(parent) {}

QKeySequence HotkeyFilter::sequence()
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T);
}

bool HotkeyFilter::bringMainWindowForward()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window && window->objectName() == QLatin1String("MainWindow")) {
            if (window->isMinimized())
                window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->showNormal();
            window->raise();
            window->activateWindow();
            etlModuleTrace(6, "I:Hotkey", "main window brought forward");
            return true;
        }
    }
    return false;
}

bool HotkeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched && watched->isWidgetType()) {
        QKeyEvent *key = static_cast<QKeyEvent *>(event);
        const int combined = key->key() | int(key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier |
                                                                  Qt::AltModifier | Qt::MetaModifier));
        if (!key->isAutoRepeat() && QKeySequence(combined) == sequence() && bringMainWindowForward())
            return true;
    }
    return QObject::eventFilter(watched, event);
}
