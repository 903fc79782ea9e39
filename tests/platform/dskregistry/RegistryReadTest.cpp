#include "ETLLib.h"
#include "RegistryTestFiles.h"
#include "chRegKey.h"
#include "dskregistry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestRegistryRead : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::string m_user;
    std::string m_install;

    void user(const QByteArray &text) { QVERIFY(RegistryTestFiles::writeFile(m_user, text)); }
    void install(const QByteArray &text) { QVERIFY(RegistryTestFiles::writeFile(m_install, text)); }
    std::string read(const std::string &section, const std::string &key)
    {
        return etlGetRegistryString("system.ini", section, key, "<default>");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        etlOverrideAppRootPath(m_root.path().toStdString());
        QCOMPARE(etlGetAppRootPath(), m_root.path().toStdString());
        m_user = etlGetAppDataRootPath() + "/system.ini";
        m_install = etlGetAppRootPath() + "/config/system.ini";
    }

    void init()
    {
        QVERIFY(RegistryTestFiles::removeTree(etlGetAppDataRootPath()));
        QVERIFY(RegistryTestFiles::removeTree(etlGetAppRootPath() + "/config"));
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppDataRootPath()));
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppRootPath() + "/config"));
    }

    void userCopyOverridesInstalledCopy()
    {
        install("[Syslog]\nnLogLevel=3\nqtLogEnable=0\n");
        user("[Syslog]\nnLogLevel=7\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 7);
        // The user's file lacks this key, so the installed value shows through.
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "qtLogEnable", 1), 0);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "missing", 42), 42);
        QCOMPARE(read("Syslog", "nLogLevel"), std::string("7"));
    }

    void installedCopyAloneAndNeither()
    {
        install("[App]\nMulti-Terminal=true\n");
        QCOMPARE(read("App", "Multi-Terminal"), std::string("true"));
        QVERIFY(::unlink(m_install.c_str()) == 0);
        QCOMPARE(read("App", "Multi-Terminal"), std::string("<default>"));
    }

    void emptyUserValueIsAValue()
    {
        install("[Version]\nProductType=Pro\n");
        user("[Version]\nProductType=\n");
        QCOMPARE(etlGetRegistryString("system.ini", "Version", "ProductType", "x"), std::string());
    }

    void namesAreCaseSensitive()
    {
        install("[Syslog]\nnLogLevel=6\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "syslog", "nLogLevel", 5), 5);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nloglevel", 5), 5);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 6);
    }

    void everyQueryReadsTheFileAgain()
    {
        user("[Syslog]\nnLogLevel=5\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 0), 5);
        // Same size, same second: a cache keyed on size or coarse times would return the old value.
        user("[Syslog]\nnLogLevel=6\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 0), 6);
        QVERIFY(RegistryTestFiles::replaceFile(m_user, "[Syslog]\nnLogLevel=4\n"));
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 0), 4);
        QVERIFY(::unlink(m_user.c_str()) == 0);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 0), 0);
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << QByteArray("7") << 7;
        QTest::newRow("blanks around") << QByteArray("  12\t") << 12;
        QTest::newRow("negative") << QByteArray("-3") << -3;
        QTest::newRow("plus sign") << QByteArray("+4") << 4;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("int min") << QByteArray("-2147483648") << (-2147483647 - 1);
        QTest::newRow("too large") << QByteArray("2147483648") << 99;
        QTest::newRow("huge") << QByteArray("99999999999999999999999") << 99;
        QTest::newRow("not a number") << QByteArray("verbose") << 99;
        QTest::newRow("trailing junk") << QByteArray("5x") << 99;
        QTest::newRow("hex") << QByteArray("0x10") << 99;
        QTest::newRow("decimal point") << QByteArray("5.0") << 99;
        QTest::newRow("empty") << QByteArray("") << 99;
        QTest::newRow("sign only") << QByteArray("-") << 99;
        QTest::newRow("inner blank") << QByteArray("1 2") << 99;
    }

    void integers()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        user("[Syslog]\nnLogLevel=" + text + "\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 99), expected);
    }

    void badUserIntegerFallsBackToInstalledValue()
    {
        user("[Syslog]\nnLogLevel=loud\n");
        install("[Syslog]\nnLogLevel=3\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 3);
        install("[Syslog]\nnLogLevel=quiet\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 5);
    }

    void textRules_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        const QByteArray head = "[Version]\n";
        QTest::newRow("blanks stripped") << head + "ProductVersion = \t 1.2.3  \n"
                                         << "1.2.3";
        QTest::newRow("indented key") << head + "   ProductVersion=1\n"
                                      << "1";
        QTest::newRow("inline comment") << head + "ProductVersion=1.2 ; note\n"
                                        << "1.2";
        QTest::newRow("semicolon inside value") << head + "ProductVersion=a;b\n"
                                                << "a;b";
        QTest::newRow("hash inside value") << head + "ProductVersion=a #b\n"
                                           << "a #b";
        QTest::newRow("colon separator") << head + "ProductVersion: 9\n"
                                         << "9";
        QTest::newRow("equals in value") << head + "ProductVersion=a=b\n"
                                         << "a=b";
        QTest::newRow("quotes kept") << head + "ProductVersion=\"x\"\n"
                                     << "\"x\"";
        QTest::newRow("duplicate keeps first") << head + "ProductVersion=first\nProductVersion=second\n"
                                               << "first";
        QTest::newRow("duplicate section keeps first")
            << head + "ProductVersion=first\n[Version]\nProductVersion=second\n"
            << "first";
        QTest::newRow("key in repeated section") << head + "Other=1\n[Version]\nProductVersion=later\n"
                                                 << "later";
        QTest::newRow("crlf") << QByteArray("[Version]\r\nProductVersion=1.0\r\n") << "1.0";
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF[Version]\nProductVersion=bom\n") << "bom";
        QTest::newRow("no final newline") << head + "ProductVersion=end"
                                          << "end";
        QTest::newRow("comment lines") << "; c\n# c\n" + head + "; ProductVersion=no\nProductVersion=yes\n"
                                       << "yes";
        QTest::newRow("utf8 value") << head + "ProductVersion=Gr\xC3\xBC\xC3\x9F"
                                              "e\n"
                                    << QString::fromUtf8("Grüße");
        QTest::newRow("long value") << head + "ProductVersion=" + QByteArray(5000, 'v') + "\n"
                                    << QString(5000, QLatin1Char('v'));
    }

    void textRules()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        user(text);
        QCOMPARE(QString::fromStdString(read("Version", "ProductVersion")), expected);
    }

    // Each of these user files must count as having no values at all: the installed value shows.
    void unfitUserFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) {
            junk.append(static_cast<char>((i * 131 + 7) & 0xff));
        }
        QTest::newRow("binary junk") << junk;
        QTest::newRow("nul byte") << QByteArray("[Syslog]\nnLogLevel=7\0\n", 22);
        QTest::newRow("10 MB line") << "[Syslog]\nnLogLevel=7\nx=" + QByteArray(10 * 1024 * 1024, 'a') + "\n";
        QTest::newRow("line without separator") << QByteArray("[Syslog]\nnLogLevel=7\njust words\n");
        QTest::newRow("unterminated section") << QByteArray("[Syslog\nnLogLevel=7\n");
        QTest::newRow("indented continuation") << QByteArray("[Syslog]\nnLogLevel=7\n   more\n");
        QTest::newRow("key before any section") << QByteArray("nLogLevel=7\n");
        QTest::newRow("other sections only") << QByteArray("[App]\nnLogLevel=7\n");
    }

    void unfitUserFiles()
    {
        QFETCH(QByteArray, text);
        install("[Syslog]\nnLogLevel=3\n");
        user(text);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 3);
    }

    // Without the whole-line handling a long line's tail would be read as a line of its own.
    void longLineTailIsNoKey()
    {
        install("[Syslog]\nnLogLevel=3\n");
        user("[Syslog]\nnote=" + QByteArray(300, 'y') + "nLogLevel=7\n");
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 3);
        QCOMPARE(read("Syslog", "note").size(), size_t(300 + 11));
    }

    void oversizeFileIsAbsent()
    {
        install("[Syslog]\nnLogLevel=3\n");
        QByteArray big = "[Syslog]\nnLogLevel=7\n";
        const QByteArray filler = "; " + QByteArray(1000, 'c') + "\n";
        while (big.size() <= 17 * 1024 * 1024) {
            big += filler;
        }
        user(big);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 3);
    }

    void directoryFifoAndUnreadableCountAsAbsent()
    {
        install("[Syslog]\nnLogLevel=3\n");
        QVERIFY(RegistryTestFiles::makeFolder(m_user));
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 3);
        QVERIFY(RegistryTestFiles::removeTree(m_user));

        // A FIFO must neither block the reader nor count as a file.
        QVERIFY(::mkfifo(m_user.c_str(), 0600) == 0);
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), 3);
        QVERIFY(::unlink(m_user.c_str()) == 0);

        user("[Syslog]\nnLogLevel=7\n");
        QVERIFY(::chmod(m_user.c_str(), 0) == 0);
        // Permission bits do not stop root; the case only means something for ordinary users.
        const int expected = ::geteuid() == 0 ? 7 : 3;
        QCOMPARE(etlGetRegistryInt("system.ini", "Syslog", "nLogLevel", 5), expected);
        QVERIFY(::chmod(m_user.c_str(), 0600) == 0);
    }

    void longSectionNamesNeverMatch()
    {
        const std::string longName(60, 'S');
        user(QByteArray("[") + QByteArray::fromStdString(longName) + "]\nk=v\n");
        QCOMPARE(etlGetRegistryString("system.ini", longName, "k", "d"), std::string("d"));
        // The parser truncates at 49 bytes; the truncated name must not match either.
        QCOMPARE(etlGetRegistryString("system.ini", longName.substr(0, 49), "k", "d"), std::string("d"));
        user("[" + QByteArray(48, 'S') + "]\nk=v\n");
        QCOMPARE(etlGetRegistryString("system.ini", std::string(48, 'S'), "k", "d"), std::string("v"));
    }

    void fileNamesStayInsideTheirFolders()
    {
        install("[Syslog]\nnLogLevel=3\n");
        QVERIFY(
            RegistryTestFiles::writeFile(etlGetAppRootPath() + "/outside.ini", "[Syslog]\nnLogLevel=9\n"));
        QCOMPARE(etlGetRegistryInt("config/../outside.ini", "Syslog", "nLogLevel", 5), 5);
        QCOMPARE(etlGetRegistryInt("../outside.ini", "Syslog", "nLogLevel", 5), 5);
        QCOMPARE(etlGetRegistryInt(etlGetAppRootPath() + "/outside.ini", "Syslog", "nLogLevel", 5), 5);
        QCOMPARE(etlGetRegistryInt("", "Syslog", "nLogLevel", 5), 5);
    }

    void profileReadsAFullPath()
    {
        const std::string profile = etlGetAppDataRootPath() + "/Config/UserData.ini";
        QVERIFY(RegistryTestFiles::makeFolder(etlGetAppDataRootPath() + "/Config"));
        QVERIFY(RegistryTestFiles::writeFile(profile, "[Language]\nstrWebLanguage=German\n"));
        QCOMPARE(etlGetProfileString(profile, "Language", "strWebLanguage", "English"),
                 std::string("German"));
        QCOMPARE(etlGetProfileString(profile, "Language", "other", "English"), std::string("English"));
        QCOMPARE(etlGetProfileString(profile + ".missing", "Language", "strWebLanguage", "English"),
                 std::string("English"));
        QCOMPARE(etlGetProfileString("", "Language", "strWebLanguage", "English"), std::string("English"));
    }

    void keyObject()
    {
        chRegKey key;
        QVERIFY(!key.IsOpen());
        QCOMPARE(key.GetIntValue(1), 1);
        QVERIFY(!key.OpenKey("", "Syslog", "qtLogEnable"));
        QVERIFY(!key.OpenKey("system.ini", "Syslog", ""));
        QVERIFY(key.OpenKey("system.ini", "Syslog", "qtLogEnable"));
        QCOMPARE(key.GetIntValue(1), 1);
        install("[Syslog]\nqtLogEnable=0\n");
        QCOMPARE(key.GetIntValue(1), 0);
        user("[Syslog]\nqtLogEnable=2\n");
        QCOMPARE(key.GetIntValue(1), 2);
        QCOMPARE(key.GetStringValue("x"), std::string("2"));
    }
};

QTEST_GUILESS_MAIN(TestRegistryRead)
#include "RegistryReadTest.moc"
