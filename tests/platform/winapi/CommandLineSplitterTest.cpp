#include "CommandLineSplitter.h"

#include <QtTest>

class CommandLineSplitterTest : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("empty") << "" << QStringList();
        QTest::newRow("only blanks") << " \t  " << QStringList();
        QTest::newRow("plain words") << "a b  c" << QStringList{"a", "b", "c"};
        QTest::newRow("tab separates") << "a\tb" << QStringList{"a", "b"};
        QTest::newRow("surrounding blanks") << "  a  " << QStringList{"a"};
        QTest::newRow("quoted blank") << "\"a b\" c" << QStringList{"a b", "c"};
        QTest::newRow("quotes inside a word") << "x\"y z\"w" << QStringList{"xy zw"};
        QTest::newRow("quoted empty argument") << "\"\"" << QStringList{""};
        QTest::newRow("empty between words") << "a \"\" b" << QStringList{"a", "", "b"};
        QTest::newRow("three backslashes and quote") << "a\\\\\\\"b" << QStringList{"a\\\"b"};
        QTest::newRow("one backslash and quote") << "\\\"" << QStringList{"\""};
        QTest::newRow("two backslashes and quote") << "a\\\\\"b c\"" << QStringList{"a\\b c"};
        QTest::newRow("four backslashes and quote") << "\\\\\\\\\"a b\"" << QStringList{"\\\\a b"};
        QTest::newRow("backslashes not before a quote") << "a\\\\b\\c" << QStringList{"a\\\\b\\c"};
        QTest::newRow("trailing backslash") << "a\\" << QStringList{"a\\"};
        QTest::newRow("trailing backslash in quotes") << "\"a\\\"" << QStringList{"a\""};
        QTest::newRow("unterminated quote") << "\"a b" << QStringList{"a b"};
        QTest::newRow("doubled quote inside quotes") << "\"a\"\"b\"" << QStringList{"a\"b"};
        QTest::newRow("three quotes") << "\"\"\"" << QStringList{"\""};
        QTest::newRow("windows path")
            << "C:\\Program Files\\x.exe" << QStringList{"C:\\Program", "Files\\x.exe"};
        QTest::newRow("quoted windows path")
            << "\"C:\\Program Files\\x.exe\" -n 1" << QStringList{"C:\\Program Files\\x.exe", "-n", "1"};
        QTest::newRow("shell characters stay literal")
            << "$HOME ; | & `x` {ABC;rm -rf}"
            << QStringList{"$HOME", ";", "|", "&", "`x`", "{ABC;rm", "-rf}"};
        QTest::newRow("dump tool command")
            << "procdump -accepteula -mm -n 1 -e \"4242\" \"/home/u/log/a b.dmp\""
            << QStringList{"procdump", "-accepteula", "-mm", "-n", "1", "-e", "4242", "/home/u/log/a b.dmp"};
        QTest::newRow("utf-8 passes through") << "\xc3\xa4 \"\xe2\x82\xac x\"" << QStringList{"ä", "€ x"};
    }

    void split()
    {
        QFETCH(QString, commandLine);
        QFETCH(QStringList, arguments);
        QStringList got;
        for (const std::string &argument : CommandLineSplitter::split(commandLine.toStdString())) {
            got << QString::fromStdString(argument);
        }
        QCOMPARE(got, arguments);
    }

    void firstTokenFollowsTheSameRules()
    {
        const std::vector<std::string> got = CommandLineSplitter::split("a\\\"b c");
        QCOMPARE(got.size(), size_t(2));
        QCOMPARE(got[0], std::string("a\"b"));
    }
};

QTEST_GUILESS_MAIN(CommandLineSplitterTest)
#include "CommandLineSplitterTest.moc"
