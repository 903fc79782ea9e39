#pragma once

#include <QString>

class QWidget;

// What a screen reader says for a control is a text the user meets like any other: it keeps its
// English source in a property and follows the language with the window that holds it.
void cvSetAccessibleSource(QWidget *widget, const QString &english);
// Re-translates the accessible names of the widget and of every descendant that has a source.
void cvRetranslateAccessibleNames(QWidget *root);
