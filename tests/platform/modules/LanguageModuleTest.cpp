#include "CMessageBoxDelegate.h"
#include "ETLLib.h"
#include "LangUi.h"
#include "LanguagePage.h"
#include "MainWindow.h"
#include "ModuleHost.h"
#include "UserProfile.h"
#include "chMessageHandler.h"
#include "chThreadLocal.h"
#include "cvActionText.h"
#include "cvPushButton.h"
#include "dskregistry.h"
#include "dskthread.h"
#include "languagehelper.h"
#include "msgObject.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QRadioButton>
#include <QtTest>

#include <sys/stat.h>

namespace {
// Stands where the program's language handler stands: a member of the group on this thread.
class LanguageListener : public chMessageHandler
{
public:
    int onLang(msgObject &msg)
    {
        messages.append(msg.message);
        storedAtDelivery.push_back(UserProfile::read("Language", "strWebLanguage", ""));
        return 1;
    }
    QList<uint32_t> messages;
    std::vector<std::string> storedAtDelivery;
};

class RecordingMsgBox : public CMessageBoxDelegate
{
public:
    void information(const QString &, const QString &text) override { infos << text; }
    void warning(const QString &, const QString &text) override { warnings << text; }
    QStringList infos;
    QStringList warnings;
};
} // namespace

class LanguageModuleTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void listsEveryLanguageByItsOwnName();
    void applyStoresThenBroadcasts703();
    void unwritableProfileWarnsAndDoesNotBroadcast();
    void menuEntryShowsThePageWithoutSettings();

private:
    void pump(int expectedMessages);

    chThreadLocal *m_thread = nullptr;
    LanguageListener m_listener;
};

void LanguageModuleTest::initTestCase()
{
    etlOverrideAppRootPath(qgetenv("TARN_TEST_ROOT").toStdString());
    m_thread = new chThreadLocal("ui_thread");
    QVERIFY(m_thread->AttachCurrentThread());
    QVERIFY(msgJoinMessageGroup("MessageGroupLang", &m_listener, chMsgOp(&LanguageListener::onLang)));
}

void LanguageModuleTest::cleanupTestCase()
{
    msgLeaveMessageGroup("MessageGroupLang", &m_listener);
    m_thread->DetachThread();
    delete m_thread;
}

void LanguageModuleTest::init()
{
    m_listener.messages.clear();
    m_listener.storedAtDelivery.clear();
    QFile::remove(QString::fromStdString(UserProfile::path()));
    chmod(QFile::encodeName(QString::fromStdString(etlGetAppDataRootPath()) + "/Config").constData(), 0700);
}

void LanguageModuleTest::pump(int expectedMessages)
{
    QElapsedTimer clock;
    clock.start();
    while (m_listener.messages.size() < expectedMessages && clock.elapsed() < 5000)
        m_thread->DispatchQueuedMessage(50);
    // Anything more that was sent arrives now too.
    m_thread->DispatchQueuedMessage(50);
}

void LanguageModuleTest::listsEveryLanguageByItsOwnName()
{
    ModuleHost host;
    LanguagePage page(&host);
    const QList<QRadioButton *> buttons = page.findChildren<QRadioButton *>();
    QCOMPARE(buttons.size(), int(lang_Available().size()));
    QStringList names;
    for (QRadioButton *button : buttons)
        names << button->text();
    QVERIFY(names.contains(QStringLiteral("Deutsch")));
    QVERIFY(names.contains(QString::fromUtf8("Français")));
    QVERIFY(names.contains(QString::fromUtf8("简体中文")));
    QVERIFY(names.contains(QStringLiteral("English")));
    // The language in use is the one chosen.
    QCOMPARE(page.selectedLanguage(), lang_Current());
    QVERIFY(!page.select("Klingon"));

    // A switch made elsewhere moves the choice along once the page hears of it.
    const std::string before = lang_Current();
    const std::string other = before == "French" ? "German" : "French";
    QVERIFY(lang_SwitchTo(other));
    page.dealLangConfigChanged();
    QCOMPARE(page.selectedLanguage(), other);
    QVERIFY(lang_SwitchTo(before));
}

void LanguageModuleTest::applyStoresThenBroadcasts703()
{
    ModuleHost host;
    LanguagePage page(&host);
    QVERIFY(page.select("German"));
    page.findChild<cvPushButton *>(QStringLiteral("ApplyButton"))->click();
    pump(1);
    QCOMPARE(m_listener.messages, (QList<uint32_t>{703}));
    // The profile holds the new language by the time the message arrives.
    QCOMPARE(m_listener.storedAtDelivery.front(), std::string("German"));
    QCOMPARE(etlGetProfileString(etlGetAppDataRootPath() + "/Config/UserData.ini", "Language",
                                 "strWebLanguage", ""),
             std::string("German"));

    QVERIFY(page.select("ChineseSimplified"));
    QVERIFY(page.apply());
    pump(2);
    QCOMPARE(m_listener.messages, (QList<uint32_t>{703, 703}));
    QCOMPARE(m_listener.storedAtDelivery.back(), std::string("ChineseSimplified"));
}

void LanguageModuleTest::unwritableProfileWarnsAndDoesNotBroadcast()
{
    // A folder where the profile file belongs cannot be replaced by a file.
    const QString profile = QString::fromStdString(UserProfile::path());
    QVERIFY(QDir().mkpath(profile));
    RecordingMsgBox boxes;
    ModuleHost host;
    host.set(nullptr, &boxes, nullptr);
    LanguagePage page(&host);
    QVERIFY(page.select("French"));
    QVERIFY(!page.apply());
    pump(0);
    QVERIFY(m_listener.messages.isEmpty());
    QCOMPARE(boxes.warnings, QStringList{QStringLiteral("The language setting could not be saved.")});
    QVERIFY(QDir(profile).removeRecursively());
}

void LanguageModuleTest::menuEntryShowsThePageWithoutSettings()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QVERIFY(LANGUI_Init(&window, nullptr, nullptr));
    LangUi_InitLangeConfigMenuItem();
    QAction *entry = nullptr;
    for (QAction *action : window.menuFor(QStringLiteral("Settings"))->actions()) {
        if (cvSourceOf(action) == QLatin1String("Language settings"))
            entry = action;
    }
    QVERIFY(entry);
    entry->trigger();
    QVERIFY(qobject_cast<LanguagePage *>(window.currentPage()));
    LANGUI_UnInit();
    QVERIFY(!window.currentPage() || !qobject_cast<LanguagePage *>(window.currentPage()));
}

QTEST_MAIN(LanguageModuleTest)
#include "LanguageModuleTest.moc"
