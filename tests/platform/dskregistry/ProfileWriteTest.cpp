#include "ETLLib.h"
#include "IniFile.h"
#include "RegistryTestFiles.h"
#include "dskregistry.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#include <vector>

class TestProfileWrite : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::string m_path;

    QStringList folderEntries() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(RegistryTestFiles::removeTree(m_dir.path().toStdString() + "/nested"));
        m_path = m_dir.path().toStdString() + "/UserData.ini";
        ::unlink(m_path.c_str());
    }

    void createsFileAndFoldersOwnerOnly()
    {
        const std::string nested = m_dir.path().toStdString() + "/nested/Config";
        const std::string path = nested + "/UserData.ini";
        QVERIFY(etlSetProfileString(path, "Language", "strWebLanguage", "German"));
        QCOMPARE(RegistryTestFiles::readFile(path), QByteArray("[Language]\nstrWebLanguage=German\n"));
        QCOMPARE(RegistryTestFiles::mode(path), 0600);
        QCOMPARE(RegistryTestFiles::mode(nested), 0700);
        QCOMPARE(RegistryTestFiles::mode(m_dir.path().toStdString() + "/nested"), 0700);
        QCOMPARE(etlGetProfileString(path, "Language", "strWebLanguage", "English"), std::string("German"));
    }

    void keepsEverythingElse()
    {
        const QByteArray before = "; the user's notes\n"
                                  "[Language]\n"
                                  "strWebLanguage=French   ; picked in the dialog\n"
                                  "other = kept\n"
                                  "\n"
                                  "# more notes\n"
                                  "[Window]\n"
                                  "x=10\n";
        QVERIFY(RegistryTestFiles::writeFile(m_path, before));
        QVERIFY(::chmod(m_path.c_str(), 0644) == 0);
        QVERIFY(etlSetProfileString(m_path, "Language", "strWebLanguage", "German"));
        QByteArray after = before;
        after.replace("strWebLanguage=French   ; picked in the dialog", "strWebLanguage=German");
        QCOMPARE(RegistryTestFiles::readFile(m_path), after);
        QCOMPARE(RegistryTestFiles::mode(m_path), 0600);
    }

    void addsKeysWhereTheyBelong()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_path, "[A]\na=1\n\n[B]\nb=1\n"));
        QVERIFY(etlSetProfileString(m_path, "A", "a2", "2"));
        QVERIFY(etlSetProfileString(m_path, "C", "c", "3"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), QByteArray("[A]\na=1\na2=2\n\n[B]\nb=1\n\n[C]\nc=3\n"));
    }

    void appendsToAFileWithoutFinalNewline()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_path, "[A]\na=1"));
        QVERIFY(etlSetProfileString(m_path, "A", "b", "2"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), QByteArray("[A]\na=1\nb=2\n"));
    }

    void replacesTheOccurrenceThatIsRead()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_path, "[A]\nk=first\nk=second\n[A]\nk=third\n"));
        QVERIFY(etlSetProfileString(m_path, "A", "k", "new"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), QByteArray("[A]\nk=new\nk=second\n[A]\nk=third\n"));
        QCOMPARE(etlGetProfileString(m_path, "A", "k", ""), std::string("new"));
    }

    void keepsCrlfAndBom()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_path, "\xEF\xBB\xBF[A]\r\nk=1\r\n"));
        QVERIFY(etlSetProfileString(m_path, "A", "k", "2"));
        QVERIFY(etlSetProfileString(m_path, "A", "j", "3"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), QByteArray("\xEF\xBB\xBF[A]\r\nk=2\r\nj=3\r\n"));
    }

    // A key outside every section goes before the first line; the byte order mark must stay first.
    void keyBeforeTheFirstSectionKeepsTheBom()
    {
        QVERIFY(RegistryTestFiles::writeFile(m_path, "\xEF\xBB\xBF[Log]\r= 6 \r\nN[Ne=x\r\n"));
        QCOMPARE(etlGetProfileString(m_path, "Log", "N[Ne", ""), std::string("x"));
        QVERIFY(etlSetProfileString(m_path, "", "Lel", "5"));
        QCOMPARE(RegistryTestFiles::readFile(m_path),
                 QByteArray("\xEF\xBB\xBFLel=5\r\n[Log]\r= 6 \r\nN[Ne=x\r\n"));
        QCOMPARE(etlGetProfileString(m_path, "Log", "N[Ne", ""), std::string("x"));
        QCOMPARE(etlGetProfileString(m_path, "", "Lel", ""), std::string("5"));

        QVERIFY(RegistryTestFiles::writeFile(m_path, "\xEF\xBB\xBF[Window]\nX=10\n"));
        QVERIFY(etlSetProfileString(m_path, "", "k", "v"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), QByteArray("\xEF\xBB\xBFk=v\n[Window]\nX=10\n"));
        QCOMPARE(etlGetProfileString(m_path, "Window", "X", ""), std::string("10"));
    }

    // Values or names that would read back differently are refused and leave the file untouched.
    void refusesWhatWouldNotReadBack_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("newline in value") << "A"
                                          << "k"
                                          << "x\n[B]";
        QTest::newRow("carriage return") << "A"
                                         << "k"
                                         << "x\ry";
        QTest::newRow("comment in value") << "A"
                                          << "k"
                                          << "x ;y";
        QTest::newRow("leading blank") << "A"
                                       << "k"
                                       << " x";
        QTest::newRow("trailing blank") << "A"
                                        << "k"
                                        << "x ";
        QTest::newRow("equals in key") << "A"
                                       << "k=j"
                                       << "x";
        QTest::newRow("colon in key") << "A"
                                      << "k:j"
                                      << "x";
        QTest::newRow("comment key") << "A"
                                     << ";k"
                                     << "x";
        QTest::newRow("empty key") << "A"
                                   << ""
                                   << "x";
        QTest::newRow("bracket in section") << "A]"
                                            << "k"
                                            << "x";
        QTest::newRow("newline in section") << "A\nk=evil"
                                            << "k"
                                            << "x";
        QTest::newRow("long section") << QString(60, QLatin1Char('S')) << "k"
                                      << "x";
    }

    void refusesWhatWouldNotReadBack()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray before = "[A]\nk=old\n";
        QVERIFY(RegistryTestFiles::writeFile(m_path, before));
        QVERIFY(!etlSetProfileString(m_path, section.toStdString(), key.toStdString(), value.toStdString()));
        QCOMPARE(RegistryTestFiles::readFile(m_path), before);
        QCOMPARE(folderEntries(), QStringList{"UserData.ini"});
    }

    void emptyValueIsFine()
    {
        QVERIFY(etlSetProfileString(m_path, "A", "k", ""));
        QCOMPARE(etlGetProfileString(m_path, "A", "k", "d"), std::string());
    }

    void leavesUnfitFilesAlone()
    {
        const QByteArray malformed = "[A]\nk=1\nnot an entry\n";
        QVERIFY(RegistryTestFiles::writeFile(m_path, malformed));
        QVERIFY(!etlSetProfileString(m_path, "A", "k", "2"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), malformed);

        const QByteArray binary("[A]\nk=\0\n", 8);
        QVERIFY(RegistryTestFiles::writeFile(m_path, binary));
        QVERIFY(!etlSetProfileString(m_path, "A", "k", "2"));
        QCOMPARE(RegistryTestFiles::readFile(m_path), binary);
        QCOMPARE(folderEntries(), QStringList{"UserData.ini"});

        QVERIFY(::unlink(m_path.c_str()) == 0);
        QVERIFY(RegistryTestFiles::makeFolder(m_path));
        QVERIFY(!etlSetProfileString(m_path, "A", "k", "2"));
        QVERIFY(QFileInfo(QString::fromStdString(m_path)).isDir());
        QVERIFY(RegistryTestFiles::removeTree(m_path));
    }

    void failsWhenTheFolderCannotBeMade()
    {
        const std::string blocker = m_dir.path().toStdString() + "/blocker";
        QVERIFY(RegistryTestFiles::writeFile(blocker, "file, not folder"));
        QVERIFY(!etlSetProfileString(blocker + "/sub/UserData.ini", "A", "k", "v"));
        QVERIFY(!etlSetProfileString("", "A", "k", "v"));
        QVERIFY(::unlink(blocker.c_str()) == 0);
    }

    void writesThroughLinks()
    {
        const std::string real = m_dir.path().toStdString() + "/real.ini";
        QVERIFY(RegistryTestFiles::writeFile(real, "[A]\nk=1\n"));
        QVERIFY(::symlink(real.c_str(), m_path.c_str()) == 0);
        QVERIFY(etlSetProfileString(m_path, "A", "k", "2"));
        QVERIFY(QFileInfo(QString::fromStdString(m_path)).isSymLink());
        QCOMPARE(RegistryTestFiles::readFile(real), QByteArray("[A]\nk=2\n"));
        QVERIFY(::unlink(real.c_str()) == 0);
    }

    // Random INI-like texts: an edit of a well-formed text must succeed, read back its value and leave
    // every other value as it was; an unfit text must be refused.
    void editKeepsOtherValuesOnRandomTexts()
    {
        const char *pieces[] = {"[A]", "[B]", "[A", "k", "j",  "=",    ":",  " ",
                                "\t",  ";",   "#",  "x", "\n", "\r\n", "\n", "\n"};
        const std::string sections[] = {"A", "B", ""};
        const std::string keys[] = {"k", "j"};
        QRandomGenerator random(20261208);
        int edited = 0;
        for (int round = 0; round < 3000; ++round) {
            std::string text;
            const int length = random.bounded(1, 30);
            for (int i = 0; i < length; ++i) {
                text += pieces[random.bounded(int(sizeof pieces / sizeof pieces[0]))];
            }
            const std::string section = sections[random.bounded(3)];
            const std::string key = keys[random.bounded(2)];
            const std::string value = random.bounded(2) ? "v" : "w2";

            IniFile::Status status = IniFile::Ok;
            std::string ignored;
            IniFile::lookup(text, "A", "k", ignored, &status);
            std::string result;
            const bool ok = IniFile::edit(text, section, key, value, result);
            QVERIFY2(ok == (status == IniFile::Ok), text.c_str());
            if (!ok) {
                continue;
            }
            ++edited;
            std::string readBack;
            QVERIFY(IniFile::lookup(result, section, key, readBack));
            QCOMPARE(readBack, value);
            for (const std::string &s : sections) {
                for (const std::string &k : keys) {
                    if (s == section && k == key) {
                        continue;
                    }
                    std::string before;
                    std::string after;
                    const bool had = IniFile::lookup(text, s, k, before);
                    const bool has = IniFile::lookup(result, s, k, after);
                    QVERIFY2(had == has && before == after, (text + " => " + result).c_str());
                }
            }
        }
        QVERIFY(edited > 300);
    }

    void concurrentWritersLoseNothing()
    {
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([this, t] {
                for (int i = 0; i < 25; ++i) {
                    etlSetProfileString(m_path, "S" + std::to_string(t), "k" + std::to_string(i),
                                        std::to_string(i));
                }
            });
        }
        for (std::thread &w : writers) {
            w.join();
        }
        for (int t = 0; t < 4; ++t) {
            for (int i = 0; i < 25; ++i) {
                QCOMPARE(
                    etlGetProfileString(m_path, "S" + std::to_string(t), "k" + std::to_string(i), "lost"),
                    std::to_string(i));
            }
        }
        QCOMPARE(folderEntries(), QStringList{"UserData.ini"});
    }
};

QTEST_GUILESS_MAIN(TestProfileWrite)
#include "ProfileWriteTest.moc"
