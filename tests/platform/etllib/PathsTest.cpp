#include "ETLLib.h"
#include "winapi.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class PathsTest : public QObject
{
    Q_OBJECT

private slots:
    void rootIsTheExecutablesFolder()
    {
        const std::string exe = etlGetExeFileName();
        QCOMPARE(QString::fromStdString(exe),
                 QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        const std::string root = etlGetAppRootPath();
        QCOMPARE(QString::fromStdString(root), QFileInfo(QString::fromStdString(exe)).path());
        QVERIFY(root.back() != '/');
        QCOMPARE(appRootPath(), root);
    }

    void rootResolvesLinks()
    {
        // Started through a symbolic link, the root is still the real folder.
        QTemporaryDir dir;
        const QString link = dir.path() + "/linked";
        QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), link));
        QProcess child;
        child.start(link, {"rootIsTheExecutablesFolder"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
    }

    void rootOverride()
    {
        const std::string original = etlGetAppRootPath();
        etlOverrideAppRootPath("/some/where/");
        QCOMPARE(etlGetAppRootPath(), std::string("/some/where"));
        QCOMPARE(appRootPath(), std::string("/some/where"));
        etlOverrideAppRootPath("");
        QCOMPARE(etlGetAppRootPath(), original);
    }

    void dataAndDocumentFolders()
    {
        const QByteArray home = qgetenv("HOME");
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        const QByteArray data = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", "/home/someone");
        qputenv("XDG_CONFIG_HOME", "/cfg");
        qputenv("XDG_DATA_HOME", "/dat/");
        QCOMPARE(etlGetAppDataRootPath(), std::string("/cfg/tarn-desktop"));
        QCOMPARE(etlGetAppDocPath(), std::string("/dat/tarn-desktop"));
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(etlGetAppDataRootPath(), std::string("/home/someone/.config/tarn-desktop"));
        QCOMPARE(etlGetAppDocPath(), std::string("/home/someone/.local/share/tarn-desktop"));
        // A relative XDG value is ignored, as the base-directory rules ask.
        qputenv("XDG_CONFIG_HOME", "relative");
        QCOMPARE(etlGetAppDataRootPath(), std::string("/home/someone/.config/tarn-desktop"));
        etlSetAppDocPath("/chosen/docs/");
        QCOMPARE(etlGetAppDocPath(), std::string("/chosen/docs"));
        etlSetAppDocPath("");
        QCOMPARE(etlGetAppDocPath(), std::string("/home/someone/.local/share/tarn-desktop"));
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", config);
        qputenv("XDG_DATA_HOME", data);
    }

    void removeLastPart_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file") << "/a/b/c.txt"
                              << "/a/b";
        QTest::newRow("trailing separator") << "/a/b/"
                                            << "/a";
        QTest::newRow("doubled separators") << "/a//b"
                                            << "/a";
        QTest::newRow("top level") << "/a"
                                   << "/";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("bare name") << "name"
                                   << "";
        QTest::newRow("relative") << "x/y"
                                  << "x";
        QTest::newRow("empty") << ""
                               << "";
    }

    void removeLastPart()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(QString::fromStdString(pathRemoveLastPart(path.toStdString())), folder);
    }

    void append_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("joined");
        QTest::newRow("plain") << "/a"
                               << "b"
                               << "/a/b";
        QTest::newRow("both separators") << "/a/"
                                         << "/b"
                                         << "/a/b";
        QTest::newRow("many separators") << "/a//"
                                         << "//b/c"
                                         << "/a/b/c";
        QTest::newRow("root") << "/"
                              << "b"
                              << "/b";
        QTest::newRow("empty folder") << ""
                                      << "b"
                                      << "b";
        QTest::newRow("empty relative") << "/a/"
                                        << ""
                                        << "/a";
        QTest::newRow("relative is only a separator") << "/a"
                                                      << "/"
                                                      << "/a";
    }

    void append()
    {
        QFETCH(QString, folder);
        QFETCH(QString, relative);
        QFETCH(QString, joined);
        QCOMPARE(QString::fromStdString(pathAppend(folder.toStdString(), relative.toStdString())), joined);
    }

    void createDirectory()
    {
        QTemporaryDir dir;
        const std::string nested = dir.path().toStdString() + "/one/two/three";
        QVERIFY(pathCreateDirectory(nested));
        for (const std::string &part : {dir.path().toStdString() + "/one", nested}) {
            struct stat info;
            QCOMPARE(stat(part.c_str(), &info), 0);
            QVERIFY(S_ISDIR(info.st_mode));
            QCOMPARE(int(info.st_mode & 0777), 0700);
        }
        QVERIFY(pathCreateDirectory(nested));       // already there
        QVERIFY(pathCreateDirectory(nested + "/")); // trailing separator
        QVERIFY(!pathCreateDirectory(""));
        QFile file(dir.path() + "/plain");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(!pathCreateDirectory(dir.path().toStdString() + "/plain"));
        QVERIFY(!pathCreateDirectory(dir.path().toStdString() + "/plain/below"));
    }

    void localTime()
    {
        SYSTEMTIME time;
        memset(&time, 0xff, sizeof(time));
        const QDateTime before = QDateTime::currentDateTime();
        etlGetLocalTime(&time);
        const QDateTime after = QDateTime::currentDateTime();
        const QDateTime got(QDate(time.wYear, time.wMonth, time.wDay),
                            QTime(time.wHour, time.wMinute, time.wSecond, time.wMilliseconds));
        QVERIFY(got.isValid());
        QVERIFY(got >= before.addMSecs(-1) && got <= after.addMSecs(1));
        QCOMPARE(int(time.wDayOfWeek), got.date().dayOfWeek() % 7);
        etlGetLocalTime(nullptr);
    }

    void sockRecvNeverBlocks()
    {
        int pair[2];
        QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        char buffer[64];
        // Empty blocking socket: returns at once (a blocking recv would hang the test until it times out).
        QVERIFY(sockRecv(pair[0], buffer, 64, 0) <= 0);
        QCOMPARE(write(pair[1], "abc", 3), ssize_t(3));
        QCOMPARE(sockRecv(pair[0], buffer, 64, 0), 3);
        QCOMPARE(QByteArray(buffer, 3), QByteArray("abc"));
        QVERIFY(sockRecv(pair[0], buffer, 64, 0) <= 0);
        QVERIFY(sockRecv(pair[0], nullptr, 64, 0) <= 0);
        QVERIFY(sockRecv(pair[0], buffer, 0, 0) <= 0);
        QVERIFY(sockRecv(-1, buffer, 64, 0) <= 0);
        close(pair[0]);
        close(pair[1]);

        // A pipe as the wake-up source behaves the same.
        int pipeEnds[2];
        QCOMPARE(pipe(pipeEnds), 0);
        QVERIFY(sockRecv(pipeEnds[0], buffer, 64, 0) <= 0);
        QCOMPARE(write(pipeEnds[1], "z", 1), ssize_t(1));
        QCOMPARE(sockRecv(pipeEnds[0], buffer, 64, 0), 1);
        QVERIFY(sockRecv(pipeEnds[0], buffer, 64, 0) <= 0);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
    }
};

QTEST_GUILESS_MAIN(PathsTest)
#include "PathsTest.moc"
