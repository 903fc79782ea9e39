#include "TestIcon.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>

QString ensureTestIcon(const QString &root)
{
    const QString path = root + "/resource/drawable/1/common/logo/main.ico";
    if (QFile::exists(path)) {
        return path;
    }
    QDir().mkpath(root + "/resource/drawable/1/common/logo");
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(QColor(20, 120, 200));
    // Tests may run side by side: the file appears whole or not at all.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "ICO") || !file.commit()) {
        return QString();
    }
    return path;
}
