#pragma once

#include <QString>

class QAction;
class QMenu;
class QMenuBar;

// Menus and actions are not widgets the language switch reaches, so they keep their English
// source in a property and are re-translated together by their window.
void cvSetSourceTitle(QMenu *menu, const QString &english);
void cvSetSourceText(QAction *action, const QString &english);
// Appends an action with the English source; it goes before the menu's trailing group (the
// actions from the first one marked with cvMarkKeepLast(), with the separator before it).
QAction *cvAddSourceAction(QMenu *menu, const QString &english);
void cvMarkKeepLast(QAction *action);
// Re-translates the menus of the bar, their titles and every action that has a source.
void cvRetranslateMenuBar(QMenuBar *bar);
void cvRetranslateMenu(QMenu *menu);
QString cvSourceOf(const QAction *action);
