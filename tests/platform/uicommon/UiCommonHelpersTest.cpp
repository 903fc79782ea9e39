#include "ETLMessageAdapter.h"
#include "GlobalConfigTigger.h"
#include "UICommon.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTextCodec>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

const char *const kUnset = "<unset>";

void setOrUnset(const char *name, const QByteArray &value)
{
    if (value == kUnset) {
        qunsetenv(name);
    } else {
        qputenv(name, value);
    }
}

} // namespace

class TestUiCommonHelpers : public QObject
{
    Q_OBJECT

private slots:
    void scaleNames_data()
    {
        QTest::addColumn<float>("scale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("below one") << 0.5f << "1";
        QTest::newRow("zero") << 0.0f << "1";
        QTest::newRow("negative zero") << -0.0f << "1";
        QTest::newRow("one") << 1.0f << "1";
        QTest::newRow("just below midpoint 1-1.25") << 1.12f << "1";
        QTest::newRow("midpoint 1-1.25") << 1.125f << "1.25";
        QTest::newRow("one and a quarter") << 1.25f << "1.25";
        QTest::newRow("just below midpoint 1.25-1.5") << 1.37f << "1.25";
        QTest::newRow("midpoint 1.25-1.5") << 1.375f << "1.5";
        QTest::newRow("one and a half") << 1.5f << "1.5";
        QTest::newRow("just below midpoint 1.5-2") << 1.74f << "1.5";
        QTest::newRow("midpoint 1.5-2") << 1.75f << "2";
        QTest::newRow("two") << 2.0f << "2";
        QTest::newRow("three") << 3.0f << "2";
        QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << "2";
        QTest::newRow("negative") << -1.5f << "1";
        QTest::newRow("negative infinite") << -std::numeric_limits<float>::infinity() << "1";
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << "1";
    }

    void scaleNames()
    {
        QFETCH(float, scale);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(dpiSize2String(scale)), expected);
    }

    void programLanguage_data()
    {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lcMessages");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QString>("expected");
        const QByteArray u = kUnset;
        QTest::newRow("nothing set") << u << u << u << "";
        QTest::newRow("LANG german") << u << u << QByteArray("de_DE.UTF-8") << "German";
        QTest::newRow("LC_MESSAGES over LANG")
            << u << QByteArray("fr_FR.UTF-8") << QByteArray("de_DE") << "French";
        QTest::newRow("LC_ALL over all")
            << QByteArray("en_GB") << QByteArray("fr_FR") << QByteArray("de_DE") << "English";
        QTest::newRow("empty LC_ALL skipped")
            << QByteArray("") << QByteArray("fr_BE") << QByteArray("de_DE") << "French";
        QTest::newRow("C ends the search") << QByteArray("C") << u << QByteArray("de_DE") << "";
        QTest::newRow("POSIX") << u << QByteArray("POSIX") << QByteArray("de_DE") << "";
        QTest::newRow("C.UTF-8") << u << u << QByteArray("C.UTF-8") << "";
        QTest::newRow("modifier") << u << u << QByteArray("de_AT@euro") << "German";
        QTest::newRow("language only") << u << u << QByteArray("de") << "German";
        QTest::newRow("simplified china") << u << u << QByteArray("zh_CN.UTF-8") << "ChineseSimplified";
        QTest::newRow("simplified singapore") << u << u << QByteArray("zh_SG") << "ChineseSimplified";
        QTest::newRow("simplified script") << u << u << QByteArray("zh_Hans") << "ChineseSimplified";
        QTest::newRow("traditional taiwan") << u << u << QByteArray("zh_TW.UTF-8") << "";
        QTest::newRow("traditional hong kong") << u << u << QByteArray("zh_HK") << "";
        QTest::newRow("bare chinese") << u << u << QByteArray("zh") << "";
        QTest::newRow("no catalogue") << u << u << QByteArray("ja_JP.UTF-8") << "";
        QTest::newRow("three-letter code") << u << u << QByteArray("deu_DE") << "";
        QTest::newRow("upper case") << u << u << QByteArray("DE_de") << "";
    }

    void programLanguage()
    {
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lcMessages);
        QFETCH(QByteArray, lang);
        QFETCH(QString, expected);
        setOrUnset("LC_ALL", lcAll);
        setOrUnset("LC_MESSAGES", lcMessages);
        setOrUnset("LANG", lang);
        QCOMPARE(QString::fromStdString(registryGetProgrameLang()), expected);
    }

    void documentFolder()
    {
        const QByteArray home = qgetenv("HOME");
        qputenv("XDG_DATA_HOME", "/srv/data/");
        QCOMPARE(getAppDocPath(), std::string("/srv/data/tarn-desktop"));
        qputenv("XDG_DATA_HOME", "relative/data");
        QCOMPARE(getAppDocPath(), home.toStdString() + "/.local/share/tarn-desktop");
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(getAppDocPath(), home.toStdString() + "/.local/share/tarn-desktop");
    }

    void stringConversion()
    {
        const std::string utf8 = "Gr\xC3\xBC\xC3\x9F"
                                 "e";
        QCOMPARE(toQString(utf8, false), QString::fromUtf8("Grüße"));
        const std::string withNul("a\0b", 3);
        QCOMPARE(toQString(withNul, false).size(), 3);
        QCOMPARE(toQString(std::string(), false), QString());

        QTextCodec *previous = QTextCodec::codecForLocale();
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
        QCOMPARE(toQString("\xE9t\xE9", true), QString::fromUtf8("été"));
        QVERIFY(toQString("\xE9t\xE9", false) != QString::fromUtf8("été"));
        QTextCodec::setCodecForLocale(previous);
    }

    void localTime()
    {
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime now = GetLocalTime();
        const QDateTime after = QDateTime::currentDateTime();
        QCOMPARE(now.timeSpec(), Qt::LocalTime);
        QVERIFY(before <= now && now <= after);
    }

    // Needs to run before any QGuiApplication exists in this process.
    void scaleWithoutAndWithAScreen()
    {
        QVERIFY(!QCoreApplication::instance());
        QCOMPARE(getCurrentDpiSize(), 1.0f);

        qputenv("QT_SCALE_FACTOR", "2");
        int argc = 1;
        char name[] = "test_uicommon_helpers";
        char *argv[] = {name, nullptr};
        QGuiApplication app(argc, argv);
        QVERIFY(QGuiApplication::primaryScreen());
        const float scale = getCurrentDpiSize();
        const QScreen *screen = QGuiApplication::primaryScreen();
        QCOMPARE(screen->devicePixelRatio(), 2.0);
        QCOMPARE(scale, static_cast<float>(screen->logicalDotsPerInch() / 96.0 * 2.0));
        QVERIFY(scale >= 1.5f);
        qunsetenv("QT_SCALE_FACTOR");
    }

    void messageAdapterLifetime()
    {
        QVERIFY(!ETLMessageAdapter::exists());
        ETLMessageAdapter &first = ETLMessageAdapter::instance();
        QVERIFY(ETLMessageAdapter::exists());
        QCOMPARE(&ETLMessageAdapter::instance(), &first);
        ETLMessageAdapter::releaseInstance();
        QVERIFY(!ETLMessageAdapter::exists());
        ETLMessageAdapter::releaseInstance();
        QVERIFY(!ETLMessageAdapter::exists());
        ETLMessageAdapter::instance();
        QVERIFY(ETLMessageAdapter::exists());
        ETLMessageAdapter::releaseInstance();
    }

    void configTrigger()
    {
        QVERIFY(!GlobalConfigTigger::isListening());
        GlobalConfigTigger::listen();
        GlobalConfigTigger::listen();
        QVERIFY(GlobalConfigTigger::isListening());
        GlobalConfigTigger::unlisten();
        QVERIFY(!GlobalConfigTigger::isListening());
        GlobalConfigTigger::unlisten();
        QVERIFY(!GlobalConfigTigger::isListening());
    }
};

QTEST_APPLESS_MAIN(TestUiCommonHelpers)
#include "UiCommonHelpersTest.moc"
