#include "LoginAutostart.h"

#include "SettingPage.h"
#include "cvCheckBox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray kSystemEntry = "[Desktop Entry]\nType=Application\nName=Corvane Connect\n"
                                "Exec=tarn-desktop autorun\nX-GNOME-Autostart-enabled=true\n";

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString valueOf(const QByteArray &entry, const QByteArray &key)
{
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith(key + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    }
    return QString();
}
} // namespace

Q_DECLARE_METATYPE(LoginAutostart::Entry)

class LoginAutostartTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString user() const { return m_dir.filePath("home/.config/autostart"); }
    QString system() const { return m_dir.filePath("etc/xdg/autostart"); }
    LoginAutostart autostart() const { return LoginAutostart(user(), {m_dir.filePath("nowhere"), system()}); }
    QString userEntry() const { return user() + "/tarn-desktop.desktop"; }
    QString systemEntry() const { return system() + "/tarn-desktop.desktop"; }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir.path()));
    }

    // What a session's autostart runner would do, whatever the two entries say.
    void stateFollowsTheEntries_data()
    {
        QTest::addColumn<QByteArray>("systemText"); // empty: no system entry
        QTest::addColumn<QByteArray>("userText");   // empty: no user entry
        QTest::addColumn<bool>("enabled");
        const QByteArray none;
        const QByteArray head = "[Desktop Entry]\nType=Application\nExec=tarn-desktop autorun\n";
        QTest::newRow("no entry at all") << none << none << false;
        QTest::newRow("system entry only") << kSystemEntry << none << true;
        QTest::newRow("system entry turned off by the administrator")
            << QByteArray(head + "Hidden=true\n") << none << false;
        QTest::newRow("system entry GNOME-disabled")
            << QByteArray(head + "X-GNOME-Autostart-enabled=false\n") << none << false;
        QTest::newRow("user hides it")
            << kSystemEntry << QByteArray("[Desktop Entry]\nHidden=true\n") << false;
        QTest::newRow("user hides it, blanks around =")
            << kSystemEntry << QByteArray("[Desktop Entry]\r\nHidden = true\r\n") << false;
        QTest::newRow("user says Hidden=false")
            << kSystemEntry << QByteArray(head + "Hidden=false\n") << true;
        QTest::newRow("user GNOME-disabled")
            << kSystemEntry << QByteArray(head + "X-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("user entry without a system one") << none << head << true;
        QTest::newRow("user entry, comments and other groups")
            << none << QByteArray("# mine\n" + head + "\n[Desktop Action x]\nHidden=true\n") << true;
        QTest::newRow("user entry with a locale key")
            << none << QByteArray(head + "Name[de]=Verbinden\n") << true;
        QTest::newRow("user hides it, capitalised")
            << kSystemEntry << QByteArray("[Desktop Entry]\nHidden=True\n") << false;
        // A runner passes over what it cannot read, and the system entry decides.
        QTest::newRow("malformed, no system entry") << none << QByteArray("junk\n") << false;
        QTest::newRow("malformed: bad boolean")
            << kSystemEntry << QByteArray("[Desktop Entry]\nHidden=yes\n") << true;
        QTest::newRow("malformed: empty") << kSystemEntry << QByteArray("\n") << true;
        QTest::newRow("malformed: no group") << kSystemEntry << QByteArray("Exec=tarn-desktop\n") << true;
        QTest::newRow("malformed: key before group")
            << kSystemEntry << QByteArray("Hidden=false\n" + head) << true;
        QTest::newRow("malformed: other group first")
            << kSystemEntry << QByteArray("[Other]\nA=b\n" + head) << true;
        QTest::newRow("malformed: group twice") << kSystemEntry << QByteArray(head + head) << true;
        QTest::newRow("malformed: line without =") << kSystemEntry << QByteArray(head + "garbage\n") << true;
        QTest::newRow("malformed: bad key") << kSystemEntry << QByteArray(head + "Ex ec=x\n") << true;
        QTest::newRow("malformed: open group") << kSystemEntry << QByteArray("[Desktop Entry\n") << true;
        QTest::newRow("malformed: no Exec")
            << kSystemEntry << QByteArray("[Desktop Entry]\nType=Application\n") << true;
        QTest::newRow("malformed: not UTF-8") << kSystemEntry << QByteArray(head + "Name=\xff\xfe\n") << true;
        QTest::newRow("malformed: binary") << kSystemEntry << QByteArray(head + QByteArray(16, '\0')) << true;
        QTest::newRow("malformed: huge") << kSystemEntry << QByteArray(head + QByteArray(70000, '#')) << true;
    }
    void stateFollowsTheEntries()
    {
        QFETCH(QByteArray, systemText);
        QFETCH(QByteArray, userText);
        QFETCH(bool, enabled);
        if (!systemText.isEmpty())
            QVERIFY(writeFile(systemEntry(), systemText));
        if (!userText.isEmpty())
            QVERIFY(writeFile(userEntry(), userText));
        QCOMPARE(autostart().isEnabled(), enabled);
    }

    void userEntryThatIsNoFile()
    {
        QVERIFY(writeFile(systemEntry(), kSystemEntry));
        QVERIFY(QDir().mkpath(userEntry()));
        QCOMPARE(LoginAutostart::readEntry(userEntry()), LoginAutostart::Entry::Malformed);
        QVERIFY(autostart().isEnabled());
        // Nothing of the user's is thrown away to make room.
        QVERIFY(!autostart().setEnabled(false, "/usr/bin/tarn-desktop"));
        QVERIFY(!autostart().setEnabled(true, "/usr/bin/tarn-desktop"));
        QVERIFY(QFileInfo(userEntry()).isDir());

        QVERIFY(QDir(userEntry()).removeRecursively());
        QVERIFY(QFile::link(m_dir.filePath("gone"), userEntry()));
        QCOMPARE(LoginAutostart::readEntry(userEntry()), LoginAutostart::Entry::Malformed);
        QVERIFY(autostart().isEnabled());
        QVERIFY(autostart().setEnabled(false, "/usr/bin/tarn-desktop"));
        QVERIFY(!autostart().isEnabled());
        QVERIFY(QFile::remove(userEntry()));
        QVERIFY(QFile::link(m_dir.filePath("gone"), userEntry()));
        QVERIFY(autostart().setEnabled(true, "/usr/bin/tarn-desktop"));
        QVERIFY(!QFileInfo(userEntry()).isSymLink());
        QVERIFY(autostart().isEnabled());
    }

    void turningOffAndOnWithTheSystemEntry()
    {
        QVERIFY(writeFile(systemEntry(), kSystemEntry));
        LoginAutostart a = autostart();
        QCOMPARE(a.systemEntryPath(), systemEntry());
        QVERIFY(a.isEnabled());

        QVERIFY(a.setEnabled(false, "/usr/lib/tarn-desktop/tarn-desktop"));
        QVERIFY(!a.isEnabled());
        QCOMPARE(LoginAutostart::readEntry(userEntry()), LoginAutostart::Entry::Disabled);
        QCOMPARE(valueOf(readFile(userEntry()), "Hidden"), QStringLiteral("true"));
        QCOMPARE(int(QFileInfo(userEntry()).permissions() & 0x7077),
                 int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        // Turning off twice keeps it off; only the entry is in the folder, no temporary file.
        QVERIFY(a.setEnabled(false, "/usr/lib/tarn-desktop/tarn-desktop"));
        QCOMPARE(QDir(user()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"tarn-desktop.desktop"});

        QVERIFY(a.setEnabled(true, "/usr/lib/tarn-desktop/tarn-desktop"));
        QVERIFY(a.isEnabled());
        QVERIFY(!QFileInfo::exists(userEntry()));
        QVERIFY(a.setEnabled(true, "/usr/lib/tarn-desktop/tarn-desktop"));
        QVERIFY(QFileInfo::exists(systemEntry()));
    }

    void turningOnWithoutAUsableSystemEntry_data()
    {
        QTest::addColumn<QByteArray>("systemText");
        QTest::newRow("none") << QByteArray();
        QTest::newRow("hidden by the administrator")
            << QByteArray("[Desktop Entry]\nType=Application\nExec=tarn-desktop autorun\nHidden=true\n");
        QTest::newRow("unreadable") << QByteArray("junk\n");
    }
    void turningOnWithoutAUsableSystemEntry()
    {
        QFETCH(QByteArray, systemText);
        if (!systemText.isEmpty())
            QVERIFY(writeFile(systemEntry(), systemText));
        LoginAutostart a = autostart();
        QVERIFY(!a.isEnabled());
        QVERIFY(a.setEnabled(true, "/opt/corvane/tarn-desktop"));
        QVERIFY(a.isEnabled());
        const QByteArray entry = readFile(userEntry());
        QCOMPARE(valueOf(entry, "Exec"), QStringLiteral("/opt/corvane/tarn-desktop autorun"));
        QCOMPARE(valueOf(entry, "Hidden"), QStringLiteral("false"));
        QVERIFY(a.setEnabled(false, "/opt/corvane/tarn-desktop"));
        QVERIFY(!a.isEnabled());
        if (!systemText.isEmpty())
            QCOMPARE(readFile(systemEntry()), systemText);
    }

    void malformedUserEntryIsReplaced()
    {
        QVERIFY(writeFile(systemEntry(), kSystemEntry));
        QVERIFY(writeFile(userEntry(), QByteArray("\x01\x02[[[=\n", 8)));
        QVERIFY(autostart().isEnabled());
        QVERIFY(autostart().setEnabled(true, "/usr/bin/tarn-desktop"));
        QVERIFY(!QFileInfo::exists(userEntry()));
        QVERIFY(autostart().isEnabled());
        QVERIFY(writeFile(userEntry(), "[Desktop Entry\n"));
        QVERIFY(autostart().setEnabled(false, "/usr/bin/tarn-desktop"));
        QCOMPARE(LoginAutostart::readEntry(userEntry()), LoginAutostart::Entry::Disabled);
    }

    void userFolderCannotBeMade()
    {
        // A file where the folders should be: the switch fails and nothing changes.
        QVERIFY(writeFile(m_dir.filePath("home/.config"), "not a folder"));
        LoginAutostart a = autostart();
        QVERIFY(!a.setEnabled(false, "/usr/bin/tarn-desktop"));
        QVERIFY(!a.setEnabled(true, "/usr/bin/tarn-desktop"));
        QCOMPARE(readFile(m_dir.filePath("home/.config")), QByteArray("not a folder"));
    }

    void execLineQuotesThePath_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/lib/tarn-desktop/tarn-desktop"
                               << "/usr/lib/tarn-desktop/tarn-desktop autorun";
        QTest::newRow("blank") << "/opt/my apps/tarn"
                               << "\"/opt/my apps/tarn\" autorun";
        // Quoting escapes " ` $ \ with a backslash, the string value doubles every backslash.
        QTest::newRow("shell characters") << "/o/$x`y\"z"
                                          << "\"/o/\\\\$x\\\\`y\\\\\"z\" autorun";
        QTest::newRow("backslash") << "/o/a\\b"
                                   << "\"/o/a\\\\\\\\b\" autorun";
        QTest::newRow("percent") << "/o/100%"
                                 << "/o/100%% autorun";
        QTest::newRow("line end") << "/o/a\nExec=evil"
                                  << "tarn-desktop autorun";
        QTest::newRow("empty") << ""
                               << "tarn-desktop autorun";
    }
    void execLineQuotesThePath()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(LoginAutostart::execLine(program), exec);
    }

    void environmentFolders()
    {
        const QByteArray home = qgetenv("HOME");
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        const QByteArray configDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_HOME", "relative/ignored");
        qputenv("HOME", m_dir.filePath("home").toUtf8());
        qputenv("XDG_CONFIG_DIRS",
                ("relative:" + m_dir.filePath("first") + ":" + m_dir.filePath("etc/xdg")).toUtf8());
        QVERIFY(writeFile(systemEntry(), kSystemEntry));
        LoginAutostart a;
        QCOMPARE(a.userEntryPath(), userEntry());
        QCOMPARE(a.systemEntryPath(), systemEntry());
        QVERIFY(writeFile(m_dir.filePath("first/autostart/tarn-desktop.desktop"),
                          "[Desktop Entry]\nHidden=true\n"));
        QCOMPARE(LoginAutostart().systemEntryPath(), m_dir.filePath("first/autostart/tarn-desktop.desktop"));
        QVERIFY(!LoginAutostart().isEnabled());
        qputenv("XDG_CONFIG_DIRS", "");
        QCOMPARE(LoginAutostart().systemEntryPath(),
                 QFileInfo::exists("/etc/xdg/autostart/tarn-desktop.desktop")
                     ? QStringLiteral("/etc/xdg/autostart/tarn-desktop.desktop")
                     : QString());
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", configHome);
        qputenv("XDG_CONFIG_DIRS", configDirs);
    }

    // The settings page shows what the files say each time it is shown, and its switch writes them.
    void settingsSwitch()
    {
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        const QByteArray configDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("home/.config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_dir.filePath("etc/xdg").toUtf8());
        QVERIFY(writeFile(systemEntry(), kSystemEntry));
        QVERIFY(writeFile(userEntry(), "[Desktop Entry]\nHidden=true\n"));
        {
            SettingPage page;
            cvCheckBox *box = page.findChild<cvCheckBox *>(QStringLiteral("StartAtLogin"));
            QVERIFY(box);
            QCOMPARE(box->sourceText(), QStringLiteral("Start at login"));
            page.show();
            QVERIFY(QTest::qWaitForWindowExposed(&page));
            QVERIFY(!box->isChecked());
            box->click();
            QVERIFY(box->isChecked());
            QVERIFY(!QFileInfo::exists(userEntry()));
            box->click();
            QVERIFY(!box->isChecked());
            QCOMPARE(LoginAutostart::readEntry(userEntry()), LoginAutostart::Entry::Disabled);

            // Changed behind the page's back: shown again, it follows.
            page.hide();
            QVERIFY(QFile::remove(userEntry()));
            page.show();
            QVERIFY(QTest::qWaitForWindowExposed(&page));
            QVERIFY(box->isChecked());

            // An entry that cannot be written: the switch goes back to what the files say.
            QVERIFY(QFile::remove(systemEntry()));
            QVERIFY(QDir().mkpath(userEntry()));
            page.refreshStartAtLogin();
            QVERIFY(!box->isChecked());
            box->click();
            QVERIFY(!box->isChecked());
        }
        qputenv("XDG_CONFIG_HOME", configHome);
        qputenv("XDG_CONFIG_DIRS", configDirs);
    }
};

QTEST_MAIN(LoginAutostartTest)
#include "LoginAutostartTest.moc"
