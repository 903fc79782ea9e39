#include "ProgramRun.h"
#include "XDesktop.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <unistd.h>

namespace {

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                       QFile::ExeOther;
const QFile::Permissions kData = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
const QFile::Permissions kOwnerBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
const QFile::Permissions kModeBits = kOwnerBits | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                     QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

// Runs cmake --install; its exit code (or -1000 when it did not end) and everything it printed.
int runInstall(const QString &prefix, const QString &destDir, QByteArray *output)
{
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!destDir.isEmpty()) {
        env.insert(QStringLiteral("DESTDIR"), destDir);
    } else {
        env.remove(QStringLiteral("DESTDIR"));
    }
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(qEnvironmentVariable("TARN_CMAKE_COMMAND"),
                  {"--install", qEnvironmentVariable("TARN_BUILD_DIR"), "--prefix", prefix});
    if (!install.waitForFinished(120000)) {
        install.kill();
        install.waitForFinished(5000);
        return -1000;
    }
    *output = install.readAll();
    return install.exitStatus() == QProcess::NormalExit ? install.exitCode() : -1000;
}

// Every file below a folder, as paths relative to it.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << QDir(dir).relativeFilePath(it.next());
    }
    files.sort();
    return files;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value of a key in the [Desktop Entry] group of a .desktop file.
QString desktopValue(const QByteArray &text, const QByteArray &key)
{
    bool inEntry = false;
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith('[')) {
            inEntry = line.trimmed() == "[Desktop Entry]";
        } else if (inEntry && line.startsWith(key + '=')) {
            return QString::fromUtf8(line.mid(key.size() + 1).trimmed());
        }
    }
    return QString();
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_prefix;
    QString m_root;
    QString m_buildRoot;

private slots:
    void initTestCase()
    {
        m_buildRoot = qEnvironmentVariable("TARN_ROOT_DIR");
        QVERIFY2(QFile::exists(m_buildRoot + "/tarn-desktop"), qPrintable("no program in " + m_buildRoot));
        QVERIFY(m_prefix.isValid());
        QByteArray output;
        const int code = runInstall(m_prefix.path(), QString(), &output);
        QVERIFY2(code == 0, output.constData());
        m_root = m_prefix.filePath("lib/tarn-desktop");
    }

    void programsAndModules_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mode");
        for (const char *name : {"tarn-desktop", "procdump", "wddmp.exe"}) {
            QTest::newRow(name) << QString(name) << int(kExecutable);
        }
        // Loaded, never run: shared objects are installed 0644 as the distribution does.
        for (const char *name : {"libTraceD.so", "libNetworkD.so", "libtarn-wayland.so"}) {
            QTest::newRow(name) << QString(name) << int(kData);
        }
    }
    void programsAndModules()
    {
        QFETCH(QString, name);
        QFETCH(int, mode);
        const QFileInfo installed(m_root + "/" + name);
        QVERIFY2(installed.isFile() && !installed.isSymLink(), qPrintable(installed.filePath()));
        QCOMPARE(int(installed.permissions() & kModeBits), mode);
        QVERIFY(installed.size() > 0);
        // An ELF image, not a script or a leftover stamp.
        QCOMPARE(readAll(installed.filePath()).left(4), QByteArray("\x7f"
                                                                   "ELF"));
    }

    // config/ and resource/ arrive complete and unchanged, as plain world-readable files.
    void sameTreeAsTheBuildRoot_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("config") << QString("config");
        QTest::newRow("resource") << QString("resource");
    }
    void sameTreeAsTheBuildRoot()
    {
        QFETCH(QString, folder);
        const QStringList built = filesBelow(m_buildRoot + "/" + folder);
        QVERIFY(!built.isEmpty());
        QCOMPARE(filesBelow(m_root + "/" + folder), built);
        for (const QString &file : built) {
            const QString path = m_root + "/" + folder + "/" + file;
            QVERIFY2(readAll(path) == readAll(m_buildRoot + "/" + folder + "/" + file), qPrintable(path));
            QVERIFY2((QFileInfo(path).permissions() & kModeBits) == kData, qPrintable(path));
        }
    }

    void shippedResourcesPresent()
    {
        for (const char *file :
             {"config/system.ini", "config/version.ini", "resource/drawable/1/common/logo/main.ico",
              "resource/translations/tarn_German.qm", "resource/translations/tarn_French.qm",
              "resource/translations/tarn_ChineseSimplified.qm"}) {
            QVERIFY2(QFileInfo(m_root + "/" + file).size() > 0, file);
        }
        for (const char *scale : {"1", "1.25", "1.5", "2"}) {
            QVERIFY2(!QDir(m_root + "/resource/theme/" + scale).entryList({"*.qss"}, QDir::Files).isEmpty(),
                     scale);
            QVERIFY2(QDir(m_root + "/resource/drawable/" + scale).exists(), scale);
        }
    }

    // Nothing test-only ships, and nothing in the tree can be changed by another user.
    void nothingExtraNothingWritableByOthers()
    {
        QStringList top =
            QDir(m_prefix.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(top, QStringList({"bin", "lib", "share"}));
        QCOMPARE(QDir(m_prefix.filePath("share")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"applications", "icons"}));
        QStringList root = QDir(m_root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        root.sort();
        QCOMPARE(root, QStringList({"config", "libNetworkD.so", "libTraceD.so", "libtarn-wayland.so",
                                    "procdump", "resource", "tarn-desktop", "wddmp.exe"}));

        const QStringList all = filesBelow(m_prefix.path());
        QVERIFY(!all.isEmpty());
        for (const QString &file : all) {
            QVERIFY2(!file.contains("testability"), qPrintable(file));
            QVERIFY2(!file.endsWith("ume_watchdog.txt"), qPrintable(file));
            const QFileInfo info(m_prefix.filePath(file));
            QVERIFY2(!(info.permissions() & (QFile::WriteGroup | QFile::WriteOther)), qPrintable(file));
        }
        QDirIterator dirs(m_prefix.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (dirs.hasNext()) {
            const QFileInfo info(dirs.next());
            QVERIFY2(!(info.permissions() & (QFile::WriteGroup | QFile::WriteOther)),
                     qPrintable(info.filePath()));
        }
    }

    void binLinkIsRelative()
    {
        const QString link = m_prefix.filePath("bin/tarn-desktop");
        const QFileInfo info(link);
        QVERIFY2(info.isSymLink(), qPrintable(link));
        QCOMPARE(QFile::symLinkTarget(link), QFileInfo(m_root + "/tarn-desktop").canonicalFilePath());
        // Relative, so the tree still works when moved or staged.
        const QByteArray target = QFile::encodeName(link);
        char buffer[4096] = {};
        const ssize_t length = ::readlink(target.constData(), buffer, sizeof buffer - 1);
        QVERIFY(length > 0);
        QCOMPARE(QByteArray(buffer, int(length)), QByteArray("../lib/tarn-desktop/tarn-desktop"));
    }

    void stagedInstallKeepsTheLinkInsideDestDir()
    {
        QTemporaryDir stage;
        QVERIFY(stage.isValid());
        QByteArray output;
        QVERIFY2(runInstall("/usr", stage.path(), &output) == 0, output.constData());
        const QString link = stage.filePath("usr/bin/tarn-desktop");
        QVERIFY2(QFileInfo(link).isSymLink(), output.constData());
        QVERIFY(QFileInfo(QFileInfo(link).symLinkTarget()).isFile());
        QVERIFY(QFileInfo(stage.filePath("usr/lib/tarn-desktop/tarn-desktop")).isExecutable());
        QVERIFY(QFileInfo(stage.filePath("usr/share/applications/tarn-desktop.desktop")).isFile());
    }

    void desktopEntry()
    {
        const QString path = m_prefix.filePath("share/applications/tarn-desktop.desktop");
        const QByteArray text = readAll(path);
        QVERIFY2(!text.isEmpty(), qPrintable(path));
        QCOMPARE(desktopValue(text, "Type"), QString("Application"));
        QCOMPARE(desktopValue(text, "Name"), QString("Corvane Connect"));
        // Exec names the installed link; Icon names the hicolor icons.
        QCOMPARE(desktopValue(text, "Exec").section(' ', 0, 0), QString("tarn-desktop"));
        QVERIFY(QFileInfo(m_prefix.filePath("bin/tarn-desktop")).isExecutable());
        QCOMPARE(desktopValue(text, "Icon"), QString("tarn-desktop"));

        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (!validator.isEmpty()) {
            QProcess validate;
            validate.setProcessChannelMode(QProcess::MergedChannels);
            validate.start(validator, {path});
            QVERIFY(validate.waitForFinished(30000));
            const QByteArray report = validate.readAll();
            QVERIFY2(validate.exitCode() == 0, report.constData());
            QVERIFY2(!report.contains("error:"), report.constData());
        } else {
            qWarning("desktop-file-validate is not installed; checked the keys above only");
        }
    }

    void hicolorIcons_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
            QTest::newRow(qPrintable(QString::number(size))) << size;
        }
    }
    void hicolorIcons()
    {
        QFETCH(int, size);
        const QString path =
            m_prefix.filePath(QString("share/icons/hicolor/%1x%1/apps/tarn-desktop.png").arg(size));
        QImage icon;
        QVERIFY2(icon.load(path, "PNG"), qPrintable(path));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        QCOMPARE(QFileInfo(path).permissions() & kModeBits, kData);
    }

    // The installed program, started through bin/, runs from the installed tree and closes when a
    // second start asks it to ("uninstall"): the first one ends with exit code 0 and "app exit".
    void installedProgramStartsAndCloses()
    {
        XDesktop x;
        QVERIFY2(x.start(), qPrintable(x.error()));
        ProgramRun run(m_prefix.filePath("bin"), x.display());
        QVERIFY(run.isValid());
        QVERIFY(run.writeConfig("system.ini", "[Syslog]\nnLogLevel=7\n"));
        QVERIFY(run.start({}, QString()));
        const QString pid = QString::number(run.pid());

        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo("/proc/" + pid + "/exe").canonicalFilePath(),
                                  QFileInfo(m_root + "/tarn-desktop").canonicalFilePath(), 10000);
        // The service modules come from the installed root, not from the build.
        QTRY_VERIFY_WITH_TIMEOUT(
            readAll("/proc/" + pid + "/maps").contains(QFile::encodeName(m_root + "/libTraceD.so")), 30000);
        QVERIFY(readAll("/proc/" + pid + "/maps").contains(QFile::encodeName(m_root + "/libNetworkD.so")));
        QVERIFY(!readAll("/proc/" + pid + "/maps").contains(QFile::encodeName(m_buildRoot)));
        QTRY_VERIFY_WITH_TIMEOUT(run.logTexts(run.pid()).contains("N:Demo Init ui"), 30000);

        qint64 otherPid = 0;
        const int otherCode = run.runOther({"uninstall"}, QString(), &otherPid);
        QVERIFY2(otherCode != -1000, "the second start did not end");
        QVERIFY2(run.wait(30000), "the running program did not close on uninstall");
        QVERIFY2(!run.crashed(), run.standardError().constData());
        QCOMPARE(run.exitCode(), 0);
        const QStringList texts = run.logTexts(run.pid());
        QVERIFY(!texts.isEmpty());
        QCOMPARE(texts.last(), QString("N:Demo app exit"));
        x.stop();
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
