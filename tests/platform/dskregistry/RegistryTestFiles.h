#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// File helpers shared by the configuration tests.
class RegistryTestFiles
{
public:
    static bool writeFile(const std::string &path, const QByteArray &bytes);
    // Writes a temporary file beside the path and renames it over the path.
    static bool replaceFile(const std::string &path, const QByteArray &bytes);
    static QByteArray readFile(const std::string &path);
    static bool removeTree(const std::string &path);
    static bool makeFolder(const std::string &path);
    // Permission bits of a file or folder, -1 when it does not exist.
    static int mode(const std::string &path);
};
