#include "IconFileCache.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writeImage(const QString &path, int size, QColor colour)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    return image.save(path, "PNG");
}

QColor centreColour(const QIcon &icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage();
    return image.isNull() ? QColor() : image.pixelColor(size / 2, size / 2);
}

} // namespace

class IconFileCacheTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { IconFileCache::clear(); }

    void unchangedFileIsDecodedOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("logo.png");
        QVERIFY(writeImage(path, 32, Qt::red));
        const QIcon first = IconFileCache::load(path);
        const QIcon second = IconFileCache::load(path);
        QVERIFY(!first.isNull());
        // One icon shared, not a second decode of the file.
        QCOMPARE(second.cacheKey(), first.cacheKey());
        QCOMPARE(centreColour(second, 32), QColor(Qt::red));
    }

    void changedOrReplacedFileIsReadAgain()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("logo.png");
        QVERIFY(writeImage(path, 32, Qt::red));
        const QIcon before = IconFileCache::load(path);

        // Same size, new content: the times tell. The file system may keep coarse times, so the new
        // time is set rather than waited for.
        const QDateTime written = QFileInfo(path).lastModified();
        QVERIFY(writeImage(path, 32, Qt::blue));
        {
            QFile touched(path);
            QVERIFY(touched.open(QIODevice::ReadWrite));
            QVERIFY(touched.setFileTime(written.addSecs(1), QFileDevice::FileModificationTime));
        }
        const QIcon edited = IconFileCache::load(path);
        QVERIFY(edited.cacheKey() != before.cacheKey());
        QCOMPARE(centreColour(edited, 32), QColor(Qt::blue));

        // Replaced by rename: the identity tells.
        const QString other = dir.filePath("other.png");
        QVERIFY(writeImage(other, 32, Qt::green));
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(other, path));
        QCOMPARE(centreColour(IconFileCache::load(path), 32), QColor(Qt::green));
    }

    void onlyTheSizesWindowsDrawAreRead()
    {
        // The program's icon holds 16 to 512 pixels; windows are given none above 128.
        const QIcon icon = IconFileCache::load(QStringLiteral(TARN_ICON_FILE));
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY(!sizes.isEmpty());
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(sizes.contains(QSize(128, 128)));
        for (const QSize &size : sizes) {
            QVERIFY2(size.width() <= IconFileCache::kMaxSide && size.height() <= IconFileCache::kMaxSide,
                     qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
        }
        QCOMPARE(icon.pixmap(512, 512).size(), QSize(128, 128));
    }

    void fileWithOnlyLargeEntriesStillGivesAnIcon()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("large.ico");
        QImage image(256, 256, QImage::Format_ARGB32);
        image.fill(Qt::magenta);
        QVERIFY(image.save(path, "ICO"));
        const QIcon icon = IconFileCache::load(path);
        QVERIFY(!icon.isNull());
        QCOMPARE(centreColour(icon, 64), QColor(Qt::magenta));
    }

    void missingFileIsNotRemembered()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("later.png");
        QVERIFY(IconFileCache::load(path).availableSizes().isEmpty());
        QVERIFY(writeImage(path, 16, Qt::yellow));
        const QIcon icon = IconFileCache::load(path);
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(16, 16)});
        QCOMPARE(centreColour(icon, 16), QColor(Qt::yellow));
    }

    void oldestEntriesMakeRoom()
    {
        QTemporaryDir dir;
        QList<qint64> keys;
        for (int i = 0; i <= IconFileCache::kMaxEntries; ++i) {
            const QString path = dir.filePath(QStringLiteral("icon%1.png").arg(i));
            QVERIFY(writeImage(path, 16, QColor(i * 20, 0, 0)));
            keys << IconFileCache::load(path).cacheKey();
        }
        // The newest ones are still there; the first one was dropped and is loaded afresh.
        QCOMPARE(
            IconFileCache::load(dir.filePath(QStringLiteral("icon%1.png").arg(IconFileCache::kMaxEntries)))
                .cacheKey(),
            keys.last());
        QVERIFY(IconFileCache::load(dir.filePath("icon0.png")).cacheKey() != keys.first());
    }
};

QTEST_MAIN(IconFileCacheTest)
#include "IconFileCacheTest.moc"
