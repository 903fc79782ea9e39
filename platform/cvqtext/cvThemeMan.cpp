#include "cvThemeMan.h"

#include "ETLLib.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>

#include <algorithm>

cvThemeMan::cvThemeMan() = default;
cvThemeMan::~cvThemeMan() = default;

QString cvThemeMan::ReadAllQssFile(const QString &folder, bool recursive)
{
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return QString();

    QStringList relativePaths;
    QDirIterator it(dir.absolutePath(), QStringList() << QStringLiteral("*.qss"),
                    QDir::Files | QDir::Readable,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext())
        relativePaths << dir.relativeFilePath(it.next());
    std::sort(relativePaths.begin(), relativePaths.end());

    QString sheet;
    for (const QString &relative : relativePaths) {
        QFile file(dir.filePath(relative));
        if (!file.open(QIODevice::ReadOnly)) {
            etlModuleTrace(4, "W:Theme", "skip unreadable style sheet %s", qUtf8Printable(file.fileName()));
            continue;
        }
        sheet += QString::fromUtf8(file.readAll());
        if (!sheet.endsWith(QLatin1Char('\n')))
            sheet += QLatin1Char('\n');
    }
    return sheet;
}

bool cvThemeMan::AddTheme(QString sheet, const QString &name)
{
    if (name.isEmpty())
        return false;
    m_themes.insert(name, sheet);
    return true;
}

QString cvThemeMan::GetTheme(const QString &name)
{
    return m_themes.value(name);
}
