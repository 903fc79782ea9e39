#include "RegistryTestFiles.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <cstdio>

bool RegistryTestFiles::writeFile(const std::string &path, const QByteArray &bytes)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(bytes) == bytes.size();
}

bool RegistryTestFiles::replaceFile(const std::string &path, const QByteArray &bytes)
{
    const std::string temp = path + ".new";
    return writeFile(temp, bytes) && std::rename(temp.c_str(), path.c_str()) == 0;
}

QByteArray RegistryTestFiles::readFile(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool RegistryTestFiles::removeTree(const std::string &path)
{
    QDir dir(QString::fromStdString(path));
    return !dir.exists() || dir.removeRecursively();
}

bool RegistryTestFiles::makeFolder(const std::string &path)
{
    return QDir().mkpath(QString::fromStdString(path));
}

int RegistryTestFiles::mode(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}
