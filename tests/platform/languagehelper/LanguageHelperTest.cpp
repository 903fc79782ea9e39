#include "ETLLib.h"
#include "languagehelper.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <map>
#include <thread>

namespace {

class LanguageChangeCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::LanguageChange) {
            ++count;
        }
        return QObject::eventFilter(watched, event);
    }
};

QString translated(const char *source)
{
    return lang_Translate(lang_toLangText(QString::fromUtf8(source)));
}

} // namespace

class TestLanguageHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        etlOverrideAppRootPath(LANG_TEST_ROOT);
        QVERIFY(QFile::exists(LANG_TEST_ROOT "/resource/translations/tarn_German.qm"));
    }

    void init() { etlOverrideAppRootPath(LANG_TEST_ROOT); }

    void startsInEnglishWithSourceTexts()
    {
        QCOMPARE(lang_Current(), std::string("English"));
        QCOMPARE(lang_toLangText("Show"), QString("Show"));
        QCOMPARE(translated("Show"), QString("Show"));
    }

    void switchesAndFallsBackToTheKey()
    {
        QVERIFY(lang_SwitchTo("German"));
        QCOMPARE(lang_Current(), std::string("German"));
        QCOMPARE(translated("Show"), QString("Anzeigen"));
        QCOMPARE(translated("Corvane Connect"), QString("Corvane Connect (Deutsch)"));
        // Not in the catalogue, unfinished, or filed under another context: the English key stays.
        QCOMPARE(translated("Never translated"), QString("Never translated"));
        QCOMPARE(translated("Unfinished"), QString("Unfinished"));
        QCOMPARE(translated("Quit"), QString("Quit"));
        QCOMPARE(translated(""), QString());

        QVERIFY(lang_SwitchTo("French"));
        QCOMPARE(translated("Show"), QString("Afficher"));
        QCOMPARE(translated("Quit"), QString("Quitter"));

        QVERIFY(lang_SwitchTo("English"));
        QCOMPARE(translated("Show"), QString("Show"));
        QCOMPARE(translated("Quit"), QString("Quit"));
    }

    void refusesUnknownOrMissingLanguages()
    {
        QVERIFY(lang_Init("German"));
        QVERIFY(!lang_SwitchTo("Klingon"));
        QVERIFY(!lang_SwitchTo("german"));
        QVERIFY(!lang_SwitchTo(""));
        QCOMPARE(lang_Current(), std::string("German"));
        QCOMPARE(translated("Show"), QString("Anzeigen"));
        // Shipped language, but this root has no catalogue for it.
        QVERIFY(!lang_SwitchTo("ChineseSimplified"));
        QVERIFY(!lang_Init("ChineseSimplified"));
        QCOMPARE(lang_Current(), std::string("German"));
        QCOMPARE(translated("Show"), QString("Anzeigen"));
        QVERIFY(lang_SwitchTo("English"));
    }

    void eachRootLoadsItsOwnCatalogue()
    {
        QVERIFY(lang_SwitchTo("German"));
        QCOMPARE(translated("Show"), QString("Anzeigen"));
        etlOverrideAppRootPath(LANG_OTHER_ROOT);
        QVERIFY(lang_SwitchTo("German"));
        QCOMPARE(translated("Show"), QString("Zeigen"));
        // The other root has no French: the switch fails and German stays.
        QVERIFY(!lang_SwitchTo("French"));
        QCOMPARE(translated("Show"), QString("Zeigen"));
        etlOverrideAppRootPath(LANG_TEST_ROOT);
        QVERIFY(lang_SwitchTo("German"));
        QCOMPARE(translated("Show"), QString("Anzeigen"));
        QVERIFY(lang_SwitchTo("English"));
    }

    void catalogueIsNotInstalledIntoTheApplication()
    {
        int argc = 1;
        char name[] = "test_languagehelper";
        char *argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        LanguageChangeCounter counter;
        app.installEventFilter(&counter);
        QObject plain;
        plain.installEventFilter(&counter);
        QVERIFY(lang_SwitchTo("German"));
        QCoreApplication::processEvents();
        QCOMPARE(counter.count, 0);
        QCOMPARE(QCoreApplication::translate("tarn", "Show"), QString("Show"));
        QCOMPARE(translated("Show"), QString("Anzeigen"));
        QVERIFY(lang_SwitchTo("English"));
    }

    // The catalogues the build ships must all load and carry the tray's texts.
    void shippedCataloguesLoad()
    {
        const QByteArray root = qgetenv("TARN_TEST_ROOT");
        QVERIFY(!root.isEmpty());
        etlOverrideAppRootPath(root.toStdString());
        const std::map<std::string, QString> quit = {
            {"German", "Beenden"}, {"French", "Quitter"}, {"ChineseSimplified", QString::fromUtf8("退出")}};
        for (const auto &entry : quit) {
            QVERIFY2(lang_SwitchTo(entry.first), entry.first.c_str());
            QCOMPARE(translated("Quit"), entry.second);
        }
        QVERIFY(lang_SwitchTo("English"));
        QCOMPARE(translated("Quit"), QString("Quit"));
    }

    void namesForPickers()
    {
        const std::vector<std::string> expected = {"English", "German", "French", "ChineseSimplified"};
        QCOMPARE(lang_Available(), expected);
        QCOMPARE(lang_DisplayName("English"), QString("English"));
        QCOMPARE(lang_DisplayName("German"), QString("Deutsch"));
        QCOMPARE(lang_DisplayName("French"), QString::fromUtf8("Français"));
        QCOMPARE(lang_DisplayName("ChineseSimplified"), QString::fromUtf8("简体中文"));
        QCOMPARE(lang_DisplayName("Other"), QString("Other"));
    }

    void translatingWhileAnotherThreadSwitches()
    {
        std::atomic<bool> stop{false};
        std::atomic<int> odd{0};
        std::thread reader([&] {
            while (!stop.load()) {
                const QString text = lang_Translate("Show");
                if (text != "Show" && text != "Anzeigen" && text != "Afficher") {
                    ++odd;
                }
            }
        });
        for (int i = 0; i < 2000; ++i) {
            lang_SwitchTo(i % 3 == 0 ? "English" : (i % 3 == 1 ? "German" : "French"));
        }
        stop.store(true);
        reader.join();
        QCOMPARE(odd.load(), 0);
        QVERIFY(lang_SwitchTo("English"));
    }
};

QTEST_APPLESS_MAIN(TestLanguageHelper)
#include "LanguageHelperTest.moc"
