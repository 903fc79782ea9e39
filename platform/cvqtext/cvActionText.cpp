#include "cvActionText.h"

#include "cvTranslate.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QVariant>

namespace {
const char kSourceProperty[] = "cvSourceText";
const char kKeepLastProperty[] = "cvKeepLast";
} // namespace

void cvSetSourceTitle(QMenu *menu, const QString &english)
{
    if (!menu)
        return;
    menu->setProperty(kSourceProperty, english);
    menu->setTitle(cvTranslate(english));
}

void cvSetSourceText(QAction *action, const QString &english)
{
    if (!action)
        return;
    action->setProperty(kSourceProperty, english);
    action->setText(cvTranslate(english));
}

QAction *cvAddSourceAction(QMenu *menu, const QString &english)
{
    if (!menu)
        return nullptr;
    QAction *action = new QAction(menu);
    cvSetSourceText(action, english);

    const QList<QAction *> actions = menu->actions();
    QAction *before = nullptr;
    for (int i = 0; i < actions.size(); ++i) {
        if (actions.at(i)->property(kKeepLastProperty).toBool()) {
            before = actions.at(i);
            if (i > 0 && actions.at(i - 1)->isSeparator())
                before = actions.at(i - 1);
            break;
        }
    }
    menu->insertAction(before, action);
    return action;
}

void cvMarkKeepLast(QAction *action)
{
    if (action)
        action->setProperty(kKeepLastProperty, true);
}

QString cvSourceOf(const QAction *action)
{
    return action ? action->property(kSourceProperty).toString() : QString();
}

void cvRetranslateMenu(QMenu *menu)
{
    if (!menu)
        return;
    const QString title = menu->property(kSourceProperty).toString();
    if (!title.isEmpty())
        menu->setTitle(cvTranslate(title));
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions) {
        if (action->menu() && action->menu() != menu)
            cvRetranslateMenu(action->menu());
        const QString source = cvSourceOf(action);
        if (!source.isEmpty())
            action->setText(cvTranslate(source));
    }
}

void cvRetranslateMenuBar(QMenuBar *bar)
{
    if (!bar)
        return;
    const QList<QAction *> actions = bar->actions();
    for (QAction *action : actions)
        cvRetranslateMenu(action->menu());
}
