#pragma once

#include <QMap>
#include <QString>

// Reads a theme's style sheets and keeps registered themes by name.
class cvThemeMan
{
public:
    cvThemeMan();
    ~cvThemeMan();

    // The folder's *.qss files joined in file-name order (with subfolders, by relative path, when
    // recursive). A missing folder gives an empty text; unreadable files are skipped.
    QString ReadAllQssFile(const QString &folder, bool recursive);
    // Registers the sheet under the name, replacing an earlier one; false for an empty name.
    bool AddTheme(QString sheet, const QString &name);
    // The sheet registered under the name, empty when unknown.
    QString GetTheme(const QString &name);

private:
    QMap<QString, QString> m_themes;
};
