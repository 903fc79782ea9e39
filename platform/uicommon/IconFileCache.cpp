#include "IconFileCache.h"

#include "ETLLib.h"

#include <QCoreApplication>
#include <QFile>

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
    QIcon icon(path);
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
