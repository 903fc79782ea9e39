#include "IconFileCache.h"

#include "ETLLib.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QPixmap>

#include <list>
#include <string>

namespace {

struct Entry
{
    QString path;
    std::string signature;
    QIcon icon;
};

// Most recently used first.
std::list<Entry> &entries()
{
    static std::list<Entry> cache;
    return cache;
}

void registerClearing()
{
    // Pixmaps must go while the application object still exists.
    static const bool registered = [] {
        qAddPostRoutine(&IconFileCache::clear);
        return true;
    }();
    (void)registered;
}

// Every top-level window sends every size of its icon to the X server when it is created, and the
// entries above 128 pixels of the program's icon file (256 and 512, a megabyte for the largest) are
// what it costs most to decode, convert and send. Window managers, the tray and the program's own
// pages draw it at 128 pixels at most, so only the entries up to that size are read. A file with no
// such entry, or whose entries' sizes cannot be told before decoding, is read whole.
QIcon readIcon(const QString &path)
{
    QImageReader reader(path);
    if (reader.imageCount() <= 1) {
        return QIcon(path);
    }
    QIcon icon;
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QSize size = reader.size();
        if (!size.isValid() || size.width() > IconFileCache::kMaxSide ||
            size.height() > IconFileCache::kMaxSide) {
            continue;
        }
        QImage image;
        if (reader.read(&image)) {
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon.isNull() ? QIcon(path) : icon;
}

} // namespace

QIcon IconFileCache::load(const QString &path)
{
    // A file that cannot be examined is never taken from the cache.
    const std::string signature = pathSignature(QFile::encodeName(path).toStdString());
    std::list<Entry> &cache = entries();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->path != path) {
            continue;
        }
        if (!signature.empty() && it->signature == signature) {
            cache.splice(cache.begin(), cache, it);
            return cache.front().icon;
        }
        cache.erase(it);
        break;
    }
    QIcon icon = readIcon(path);
    if (!signature.empty()) {
        registerClearing();
        cache.push_front(Entry{path, signature, icon});
        while (cache.size() > static_cast<size_t>(kMaxEntries)) {
            cache.pop_back();
        }
    }
    return icon;
}

void IconFileCache::clear()
{
    entries().clear();
}
