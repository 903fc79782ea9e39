#pragma once

#include <QIcon>
#include <QString>

// Icons loaded from files, with the sizes up to kMaxSide, kept while their file is unchanged. A multi-size
// .ico is decoded whole when it is loaded, and the window icon and the tray icon come from the same file, as
// does every theme reload; with the cache that file is decoded once. A file that changes (size, times or
// identity) is loaded anew at the next request. GUI thread only, like QIcon itself.
class IconFileCache
{
public:
    static QIcon load(const QString &path);
    // Forgets every icon; the next request reads its file again.
    static void clear();

    static constexpr int kMaxEntries = 8;
    // Entries of a multi-size file larger than this are not read.
    static constexpr int kMaxSide = 128;
};
