#include "IconFileCache.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

#include <cstdio>
#include <list>

namespace {

struct Entry
{
    QString path;
    QByteArray signature;
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

// Empty when the file cannot be examined; such a file is never taken from the cache.
QByteArray signatureOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return QByteArray();
    }
    char text[160];
    std::snprintf(text, sizeof text, "%llx:%llx:%llx:%lld.%09ld:%lld.%09ld",
                  static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
    return QByteArray(text);
}

} // namespace

QIcon IconFileCache::load(const QString &path)
{
    const QByteArray signature = signatureOf(path);
    std::list<Entry> &cache = entries();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->path != path) {
            continue;
        }
        if (!signature.isEmpty() && it->signature == signature) {
            cache.splice(cache.begin(), cache, it);
            return cache.front().icon;
        }
        cache.erase(it);
        break;
    }
    QIcon icon(path);
    if (!signature.isEmpty()) {
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
