#include "FeedbackStore.h"

#include "ETLLib.h"
#include "UICommon.h"
#include "UniqueFd.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

QString FeedbackStore::folder()
{
    return QString::fromStdString(getAppDocPath()) + QStringLiteral("/feedback");
}

QString FeedbackStore::filePath()
{
    return folder() + QStringLiteral("/feedback.txt");
}

bool FeedbackStore::append(const QString &text, const QDateTime &when)
{
    const QByteArray dir = folder().toUtf8();
    if (!pathCreateDirectory(dir.toStdString())) {
        etlModuleTrace(4, "W:Modules", "cannot create %s", dir.constData());
        return false;
    }
    struct stat info;
    if (lstat(dir.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        etlModuleTrace(4, "W:Modules", "refusing feedback folder %s", dir.constData());
        return false;
    }
    chmod(dir.constData(), 0700);

    const QByteArray path = filePath().toUtf8();
    UniqueFd fd(open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isValid()) {
        etlModuleTrace(4, "W:Modules", "cannot open %s: errno %d", path.constData(), errno);
        return false;
    }
    fchmod(fd.get(), 0600);

    QByteArray entry = when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8();
    entry += "\n";
    entry += text.toUtf8();
    if (!entry.endsWith('\n'))
        entry += "\n";
    entry += "\n";

    bool ok = writeAll(fd.get(), entry.constData(), static_cast<size_t>(entry.size()));
    if (ok && fsync(fd.get()) != 0)
        ok = false;
    if (!fd.close())
        ok = false;
    if (!ok)
        etlModuleTrace(4, "W:Modules", "cannot write %s: errno %d", path.constData(), errno);
    return ok;
}
