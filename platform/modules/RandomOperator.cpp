#include "RandomOperator.h"

#include "ETLLib.h"
#include "cvActionText.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QVariant>

RandomOperator::RandomOperator(int intervalMs, QObject *parent)
    : QObject(parent), m_random(std::random_device{}())
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &RandomOperator::pokeOnce);
    m_timer.start();
}

bool RandomOperator::pokeOnce()
{
    QMainWindow *window = nullptr;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *candidate : windows) {
        if (candidate && candidate->objectName() == QLatin1String("MainWindow"))
            window = qobject_cast<QMainWindow *>(candidate);
    }
    if (!window || !window->menuBar())
        return false;

    QList<QAction *> candidates;
    for (QAction *menuAction : window->menuBar()->actions()) {
        if (!menuAction->menu())
            continue;
        for (QAction *action : menuAction->menu()->actions()) {
            const QVariant safe = action->property("cvRandomSafe");
            if (action->isSeparator() || action->menu() || !action->isEnabled() ||
                (safe.isValid() && !safe.toBool()))
                continue;
            candidates.append(action);
        }
    }
    if (candidates.isEmpty())
        return false;
    std::uniform_int_distribution<int> pick(0, candidates.size() - 1);
    QAction *chosen = candidates.at(pick(m_random));
    ++m_operations;
    etlModuleTrace(6, "I:RandomOperation", "trigger \"%s\"", qUtf8Printable(cvSourceOf(chosen)));
    chosen->trigger();
    return true;
}
