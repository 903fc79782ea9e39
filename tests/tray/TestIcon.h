#pragma once

#include <QString>

// Makes sure the installation root holds the tray icon; the path of the icon file.
QString ensureTestIcon(const QString &root);
