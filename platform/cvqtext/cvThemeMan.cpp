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

    // The suffix is compared by hand, as a "*.qss" name filter would (ignoring case): a filter is a
    // regular expression, and compiling one costs the start-up more than reading the sheets.
    QStringList relativePaths;
    QDirIterator it(dir.absolutePath(), QDir::Files | QDir::Readable,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().endsWith(QLatin1String(".qss"), Qt::CaseInsensitive))
            relativePaths << dir.relativeFilePath(path);
    }
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
