#include "RuntimeLocation.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

// Sets or removes one variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value) : m_name(name)
    {
        if (const char *old = getenv(name)) {
            m_had = true;
            m_old = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had = false;
    std::string m_old;
};

int modeOf(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class RuntimeLocationTest : public QObject
{
    Q_OBJECT

private slots:
    void folderRule()
    {
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const std::string root = base.path().toStdString();
        QVERIFY(mkdir((root + "/xdg").c_str(), 0700) == 0);
        ScopedEnv home("HOME", (root + "/home").c_str());
        {
            ScopedEnv runtime("XDG_RUNTIME_DIR", (root + "/xdg").c_str());
            ScopedEnv cache("XDG_CACHE_HOME", (root + "/cache").c_str());
            QCOMPARE(RuntimeLocation::folder(), root + "/xdg/tarn-desktop");
        }
        // Unset, relative or not a folder: never a shared /tmp name, always the user's own cache folder.
        for (const char *value :
             {static_cast<const char *>(nullptr), "", "relative/run", "/nonexistent/run"}) {
            ScopedEnv runtime("XDG_RUNTIME_DIR", value);
            {
                ScopedEnv cache("XDG_CACHE_HOME", (root + "/cache").c_str());
                QCOMPARE(RuntimeLocation::folder(), root + "/cache/tarn-desktop/run");
            }
            {
                ScopedEnv cache("XDG_CACHE_HOME", "relative/cache");
                QCOMPARE(RuntimeLocation::folder(), root + "/home/.cache/tarn-desktop/run");
            }
            ScopedEnv cache("XDG_CACHE_HOME", nullptr);
            QCOMPARE(RuntimeLocation::folder(), root + "/home/.cache/tarn-desktop/run");
            QVERIFY(RuntimeLocation::folder().rfind("/tmp/tarn-desktop", 0) != 0);
        }
    }

    void objectPathTakesSingleNamesOnly()
    {
        QCOMPARE(RuntimeLocation::objectPath("wddmpsharememory42"),
                 RuntimeLocation::folder() + "/wddmpsharememory42");
        for (const std::string &bad : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                                       std::string("../x"), std::string(251, 'n')})
            QVERIFY2(RuntimeLocation::objectPath(bad).empty(), bad.c_str());
    }

    void fallbackIsCreatedPrivate()
    {
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const std::string home = base.path().toStdString() + "/home";
        QVERIFY(mkdir(home.c_str(), 0755) == 0);
        ScopedEnv homeVar("HOME", home.c_str());
        ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
        ScopedEnv cache("XDG_CACHE_HOME", nullptr);
        std::string why;
        QCOMPARE(RuntimeLocation::ensure(&why), home + "/.cache/tarn-desktop/run");
        QVERIFY(why.empty());
        QCOMPARE(modeOf(home + "/.cache"), 0700);
        QCOMPARE(modeOf(home + "/.cache/tarn-desktop"), 0700);
        QCOMPARE(modeOf(home + "/.cache/tarn-desktop/run"), 0700);

        // Loosened later: tightened again on the next use.
        QVERIFY(chmod((home + "/.cache/tarn-desktop/run").c_str(), 0777) == 0);
        QCOMPARE(RuntimeLocation::ensure(&why), home + "/.cache/tarn-desktop/run");
        QCOMPARE(modeOf(home + "/.cache/tarn-desktop/run"), 0700);

        // A link planted for the folder is refused, with the reason.
        QVERIFY(rmdir((home + "/.cache/tarn-desktop/run").c_str()) == 0);
        QVERIFY(symlink(base.path().toStdString().c_str(), (home + "/.cache/tarn-desktop/run").c_str()) == 0);
        QVERIFY(RuntimeLocation::ensure(&why).empty());
        QVERIFY2(why.find("not a real directory") != std::string::npos, why.c_str());
    }

    void folderOfAnotherUserIsRefused()
    {
        if (geteuid() != 0)
            QSKIP("handing a folder to another user needs root (CI runs as root)");
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const std::string cache = base.path().toStdString() + "/cache";
        ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
        ScopedEnv cacheVar("XDG_CACHE_HOME", cache.c_str());
        // Both the product folder and the run folder below it are checked.
        for (const std::string &planted : {cache + "/tarn-desktop", cache + "/tarn-desktop/run"}) {
            QVERIFY(RuntimeLocation::ensure(nullptr) == cache + "/tarn-desktop/run");
            QVERIFY(chown(planted.c_str(), 65534, 65534) == 0);
            std::string why;
            QVERIFY(RuntimeLocation::ensure(&why).empty());
            QVERIFY2(why.find("owned by uid 65534") != std::string::npos, why.c_str());
            QVERIFY(chown(planted.c_str(), 0, 0) == 0);
        }
    }
};

QTEST_GUILESS_MAIN(RuntimeLocationTest)
#include "RuntimeLocationTest.moc"
