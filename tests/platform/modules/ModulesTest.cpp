#include "AboutPage.h"
#include "CMessageBoxDelegate.h"
#include "DevUi.h"
#include "DevicesPage.h"
#include "DmsPage.h"
#include "DmsUi.h"
#include "ETLLib.h"
#include "FbUi.h"
#include "FeedbackPage.h"
#include "FeedbackStore.h"
#include "HotkeyFilter.h"
#include "HotkeyModule.h"
#include "LangUi.h"
#include "MainWindow.h"
#include "ModuleHost.h"
#include "ModuleTestSupport.h"
#include "MsgBox.h"
#include "NotificationMgr.h"
#include "RandomOperationServer.h"
#include "RandomOperator.h"
#include "Setting.h"
#include "SettingPage.h"
#include "SoftPhonePage.h"
#include "SoftPhoneSettingUi.h"
#include "SwUi.h"
#include "UcStyle.h"
#include "UsbDev.h"
#include "UsbDeviceScanner.h"
#include "UserProfile.h"
#include "cvActionText.h"
#include "cvCheckBox.h"
#include "cvExtensionIconStyle.h"
#include "cvLabel.h"
#include "cvLineEdit.h"
#include "cvPlainTextEdit.h"
#include "cvPushButton.h"
#include "cvTranslate.h"
#include "languagehelper.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStackedWidget>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>

namespace {
QAction *menuAction(MainWindow *window, const QString &menu, const QString &source)
{
    for (QAction *action : window->menuFor(menu)->actions()) {
        if (cvSourceOf(action) == source)
            return action;
    }
    return nullptr;
}

QStringList menuSources(MainWindow *window, const QString &menu)
{
    QStringList sources;
    for (QAction *action : window->menuFor(menu)->actions())
        sources << (action->isSeparator() ? QStringLiteral("-") : cvSourceOf(action));
    return sources;
}

template <class T> T *currentPageAs(MainWindow *window)
{
    return qobject_cast<T *>(window->currentPage());
}
} // namespace

class ModulesTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void bringUpFillsTheMenus();
    void everyMenuEntryShowsItsPage();
    void teardownReleasesPagesAndEntries();
    void modulesTolerateNullAndOutOfOrderCalls();
    void modulesOutliveADeletedWindow();

    void scannerReadsDevicesAndSkipsInterfaces();
    void scannerKeepsDeviceStringsOnOneLine();
    void devicesPageShowsDevicesAndEmptyState();
    void devicesPageRefreshFindsNewDevices();

    void feedbackIsAppendedWithOwnerOnlyModes();
    void feedbackPageSendsAndConfirms();
    void emptyFeedbackIsRefused();
    void feedbackKeepsTheTextWhenItCannotBeStored();

    void dmsAddressValidation_data();
    void dmsAddressValidation();
    void dmsPageStoresTheAddress();
    void softPhoneOptionsAreStored();

    void settingsShowsSubPagesAndAbout();
    void settingsSubPageIsStyledOnlyWhenSeen();
    void settingsPagesAreMadeWhenFirstNeeded();
    void settingsMadeAfterALanguageSwitchSpeakIt();
    void messageBoxesAreNonModalAndClosedAtUninit();
    void notificationsAreKeptWhileUp();
    void hotkeyBringsTheMainWindowForward();
    void randomOperatorNeverQuits();
    void styleIsFusionWithALightPalette();
    void fusionUnderAStyleSheetIsNotSetAgain();
};

void ModulesTest::initTestCase()
{
    etlOverrideAppRootPath(qgetenv("TARN_TEST_ROOT").toStdString());
    // The test's home folder outlives a run: start from no profile.
    QFile::remove(QString::fromStdString(UserProfile::path()));
}

void ModulesTest::cleanup()
{
    // A failed check leaves its case early: take everything down so the next case starts clean.
    ModuleTestSupport::closeMessageBoxes();
    ModuleTestSupport::tearDown();
    QList<QPointer<MainWindow>> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (MainWindow *window = qobject_cast<MainWindow *>(widget))
            windows.append(window);
    }
    for (const QPointer<MainWindow> &window : windows)
        delete window.data();
    qunsetenv("TARN_USB_SYSFS");
}

void ModulesTest::bringUpFillsTheMenus()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();
    QCOMPARE(menuSources(window, QStringLiteral("Settings")),
             (QStringList{"Language settings", "Soft phone settings", "Device management"}));
    QCOMPARE(
        menuSources(window, QStringLiteral("Help")),
        (QStringList{"Check for updates", "Feedback", "User agreement", "Privacy policy", "-", "About"}));
    QVERIFY(currentPageAs<DevicesPage>(window));

    // Menu initialisers called twice add nothing.
    LangUi_InitLangeConfigMenuItem();
    SWUI_InitSoftCheckUpdateMenuItem();
    FBUI_InitFeedbackMenuItem();
    QCOMPARE(window->menuFor(QStringLiteral("Settings"))->actions().size(), 3);
    QCOMPARE(window->menuFor(QStringLiteral("Help"))->actions().size(), 6);

    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::everyMenuEntryShowsItsPage()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();

    struct Entry
    {
        const char *menu;
        const char *source;
        const char *page;
    };
    const Entry entries[] = {
        {"Help", "Check for updates", "UpdatePage"},
        {"Help", "Feedback", "FeedbackPage"},
        {"Help", "User agreement", "LegalPage"},
        {"Help", "Privacy policy", "LegalPage"},
        {"Help", "About", "AboutPage"},
        {"File", "Devices", "DevicesPage"},
    };
    for (const Entry &entry : entries) {
        QAction *action = menuAction(window, entry.menu, entry.source);
        QVERIFY2(action, entry.source);
        action->trigger();
        QVERIFY2(window->currentPage(), entry.source);
        QCOMPARE(window->currentPage()->objectName(), QString::fromLatin1(entry.page));
    }

    // Settings entries open the settings page on their own sub-page.
    const Entry settings[] = {{"Settings", "Language settings", "LanguagePage"},
                              {"Settings", "Soft phone settings", "SoftPhonePage"},
                              {"Settings", "Device management", "DmsPage"}};
    for (const Entry &entry : settings) {
        menuAction(window, entry.menu, entry.source)->trigger();
        SettingPage *page = currentPageAs<SettingPage>(window);
        QVERIFY2(page, entry.source);
        QCOMPARE(page->currentSubPage()->objectName(), QString::fromLatin1(entry.page));
    }

    // The update page names the version and that it is the latest.
    menuAction(window, "Help", "Check for updates")->trigger();
    const QStringList texts = [&] {
        QStringList all;
        for (cvLabel *label : window->currentPage()->findChildren<cvLabel *>())
            all << label->text();
        return all;
    }();
    QVERIFY(texts.contains(QStringLiteral("You are using the latest version.")));
    QVERIFY(std::any_of(texts.begin(), texts.end(),
                        [](const QString &t) { return t.startsWith(QStringLiteral("Current version: ")); }));

    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::teardownReleasesPagesAndEntries()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();
    menuAction(window, "Help", "Feedback")->trigger();
    QPointer<QWidget> feedback = window->currentPage();
    window->ShowDefaultContent();
    QPointer<QWidget> devices = window->currentPage();
    Setting_ShowSetting(0, 0);
    QPointer<QWidget> settings = window->currentPage();
    QVERIFY(feedback && devices && settings);

    ModuleTestSupport::tearDown();
    QVERIFY(!feedback);
    QVERIFY(!devices);
    QVERIFY(!settings);
    QCOMPARE(menuSources(window, QStringLiteral("Help")), (QStringList{"-", "About"}));
    QVERIFY(menuSources(window, QStringLiteral("Settings")).isEmpty());
    QVERIFY(!MsgBox_GetDelegate());
    QVERIFY(!Setting_GetDelegate());

    // A second bring-up on the same window works as the first.
    ModuleTestSupport::bringUp()->deleteLater();
    QCOMPARE(menuSources(window, QStringLiteral("Settings")).size(), 0);
    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::modulesTolerateNullAndOutOfOrderCalls()
{
    // Before any Init.
    DEVUI_OnShowDefaultContent();
    LangUi_InitLangeConfigMenuItem();
    SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem();
    DMSUI_InitDmMangageMenuItem();
    SWUI_InitSoftCheckUpdateMenuItem();
    SWUI_InitUserAgreementMenuItem();
    SWUI_InitPrivacyPolicyMenuItem();
    FBUI_InitFeedbackMenuItem();
    Setting_ShowSetting(3, 7);
    Setting_ShowSettingAbout(0, 0);
    QVERIFY(!MsgBox_GetDelegate());
    QVERIFY(!Setting_GetDelegate());
    UsbDev_UnInit();
    NotificationMgr_UnInit();

    // Init with nothing at all.
    QVERIFY(MsgBox_Init(nullptr));
    QVERIFY(Setting_Init(nullptr));
    QVERIFY(DEVUI_Init(nullptr, nullptr, nullptr));
    QVERIFY(DMSUI_Init(nullptr, nullptr, nullptr));
    QVERIFY(SWUI_Init(nullptr, nullptr, nullptr));
    QVERIFY(FBUI_Init(nullptr, nullptr, nullptr));
    QVERIFY(LANGUI_Init(nullptr, nullptr, nullptr));
    QVERIFY(SOFTPHONESETTINGUI_Init(nullptr, nullptr, nullptr));
    LangUi_InitLangeConfigMenuItem();
    FBUI_InitFeedbackMenuItem();
    DEVUI_OnShowDefaultContent();
    Setting_ShowSetting(0, 0);
    Setting_ShowSettingAbout(0, 0);
    MsgBox_GetDelegate()->information(QStringLiteral("Feedback"), QStringLiteral("no window"));
    ucstyle_init(nullptr, nullptr);
    QVERIFY(HotkeyModule_Init());
    QVERIFY(HotkeyModule_Init());

    // Down twice.
    ModuleTestSupport::tearDown();
    ModuleTestSupport::tearDown();
    QVERIFY(!MsgBox_GetDelegate());

    // A delegate kept past MsgBox_Uninit does nothing instead of crashing.
    MsgBox_Init(nullptr);
    CMessageBoxDelegate *kept = MsgBox_GetDelegate();
    MsgBox_Uninit();
    kept->warning(QStringLiteral("Feedback"), QStringLiteral("late"));
    QVERIFY(ModuleTestSupport::openMessageBoxes().isEmpty());
}

void ModulesTest::modulesOutliveADeletedWindow()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();
    delete window;
    DEVUI_OnShowDefaultContent();
    Setting_ShowSetting(0, 1);
    Setting_ShowSettingAbout(0, 0);
    // The message still reaches the user: in a box of its own, not one parented to the freed window.
    MsgBox_GetDelegate()->information(QStringLiteral("Feedback"), QStringLiteral("after the window"));
    const QList<QMessageBox *> boxes = ModuleTestSupport::openMessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->text(), QStringLiteral("after the window"));
    QVERIFY(!boxes.first()->parentWidget());
    ModuleTestSupport::closeMessageBoxes();
    QTRY_VERIFY(ModuleTestSupport::openMessageBoxes().isEmpty());
    ModuleTestSupport::tearDown();
    QVERIFY(!MsgBox_GetDelegate());
    QVERIFY(!Setting_GetDelegate());
}

void ModulesTest::scannerReadsDevicesAndSkipsInterfaces()
{
    QTemporaryDir sysfs;
    ModuleTestSupport::addUsbDevice(sysfs.path(), "usb1", "1d6b", "0002", "Linux Foundation",
                                    "xHCI Host Controller");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-2", "12AB", "A05D", "Corvane", "H5 Headset");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-1", "046d", "c52b");
    // Interfaces and broken entries have no usable ids.
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-2:1.0", QByteArray(), QByteArray());
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-3", "zzzz", "0001");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-4", "12345", "0001");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-5", "1234", QByteArray());
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-6", "12g4", "0001");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-7", "0001", "123");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-8", "0001", "12:4");

    const QList<UsbDeviceScanner::Device> devices = UsbDeviceScanner::scan(sysfs.path());
    QCOMPARE(devices.size(), 3);
    QCOMPARE(devices.at(0).busPath, QStringLiteral("1-1"));
    QCOMPARE(devices.at(0).vendorId, QStringLiteral("046d"));
    QVERIFY(devices.at(0).product.isEmpty());
    QCOMPARE(devices.at(1).busPath, QStringLiteral("1-2"));
    QCOMPARE(devices.at(1).vendorId, QStringLiteral("12ab"));
    QCOMPARE(devices.at(1).productId, QStringLiteral("a05d"));
    QCOMPARE(devices.at(1).manufacturer, QStringLiteral("Corvane"));
    QCOMPARE(devices.at(1).product, QStringLiteral("H5 Headset"));
    QCOMPARE(devices.at(2).busPath, QStringLiteral("usb1"));

    QVERIFY(UsbDeviceScanner::scan(sysfs.filePath("missing")).isEmpty());
    QVERIFY(UsbDeviceScanner::scan(QString()).isEmpty());
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    QCOMPARE(UsbDeviceScanner::defaultRoot(), sysfs.path());
    qunsetenv("TARN_USB_SYSFS");
    QCOMPARE(UsbDeviceScanner::defaultRoot(), QStringLiteral("/sys/bus/usb/devices"));
}

void ModulesTest::scannerKeepsDeviceStringsOnOneLine()
{
    QTemporaryDir sysfs;
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-1", "1234", "5678", QByteArray("Evil\nCorp\x01\x1b[31m"),
                                    QByteArray(4096, 'x'));
    const QList<UsbDeviceScanner::Device> devices = UsbDeviceScanner::scan(sysfs.path());
    QCOMPARE(devices.size(), 1);
    QVERIFY(!devices.at(0).manufacturer.contains(QLatin1Char('\n')));
    QVERIFY(!devices.at(0).manufacturer.contains(QChar(0x1b)));
    QVERIFY(devices.at(0).manufacturer.startsWith(QStringLiteral("Evil Corp")));
    QVERIFY(devices.at(0).product.size() <= 256);
}

void ModulesTest::devicesPageShowsDevicesAndEmptyState()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    {
        DevicesPage page;
        page.show();
        QCOMPARE(page.deviceCount(), 0);
        cvLabel *hint = page.findChild<cvLabel *>(QStringLiteral("EmptyHint"));
        QVERIFY(hint && hint->isVisible());
        QCOMPARE(hint->text(), QStringLiteral("No USB devices found"));
        // Nothing to list: the list is not built at all.
        QVERIFY(!page.deviceList());
        QVERIFY(!page.findChild<QTreeWidget *>());

        // The first device builds it on a page already shown, and it is the one seen.
        ModuleTestSupport::addUsbDevice(sysfs.path(), "3-1", "abcd", "0001", "Maker", "Pad");
        page.refresh();
        QVERIFY(page.deviceList() && page.deviceList()->isVisible());
        QCOMPARE(page.deviceList()->accessibleName(), QStringLiteral("USB devices"));
        QVERIFY(!hint->isVisible());
        QCOMPARE(page.deviceList()->headerItem()->text(0), QStringLiteral("Product"));
        QCOMPARE(page.deviceCount(), 1);
        QVERIFY(QDir(sysfs.filePath("3-1")).removeRecursively());
        page.refresh();
        QCOMPARE(page.deviceCount(), 0);
        QVERIFY(hint->isVisible());
    }
    qputenv("TARN_USB_SYSFS", sysfs.filePath("no-such-folder").toUtf8());
    {
        DevicesPage page;
        page.show();
        QVERIFY(page.findChild<cvLabel *>(QStringLiteral("EmptyHint"))->isVisible());
    }
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-2", "12ab", "a05d", "Corvane", "H5 Headset");
    ModuleTestSupport::addUsbDevice(sysfs.path(), "1-3", "046d", "c52b");
    DevicesPage page;
    page.show();
    QCOMPARE(page.deviceCount(), 2);
    QVERIFY(page.deviceList()->isVisible());
    QTreeWidgetItem *headset = page.deviceList()->topLevelItem(0);
    QCOMPARE(headset->text(0), QStringLiteral("H5 Headset"));
    QCOMPARE(headset->text(1), QStringLiteral("Corvane"));
    QCOMPARE(headset->text(2), QStringLiteral("12ab:a05d"));
    QCOMPARE(headset->text(3), QStringLiteral("1-2"));
    QCOMPARE(page.deviceList()->topLevelItem(1)->text(0), QStringLiteral("Unknown device"));
    QCOMPARE(page.findChild<cvLabel *>(QStringLiteral("DeviceCount"))->text(),
             QStringLiteral("Connected devices: 2"));
}

void ModulesTest::devicesPageRefreshFindsNewDevices()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    DevicesPage page;
    QCOMPARE(page.deviceCount(), 0);
    ModuleTestSupport::addUsbDevice(sysfs.path(), "2-1", "1111", "2222", "Maker", "Dongle");
    page.findChild<cvPushButton *>(QStringLiteral("RefreshButton"))->click();
    QCOMPARE(page.deviceCount(), 1);
    QVERIFY(QDir(sysfs.filePath("2-1")).removeRecursively());
    page.refresh();
    QCOMPARE(page.deviceCount(), 0);
}

void ModulesTest::feedbackIsAppendedWithOwnerOnlyModes()
{
    QFile::remove(FeedbackStore::filePath());
    const QDateTime first(QDate(2026, 12, 8), QTime(10, 11, 12));
    QVERIFY(FeedbackStore::append(QStringLiteral("The headset works."), first));
    QVERIFY(FeedbackStore::append(QString::fromUtf8("Zweite Zeile\nmit Umlaut: ä"), first.addSecs(60)));
    QFile file(FeedbackStore::filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QString::fromUtf8("2026-12-08 10:11:12\nThe headset works.\n\n"
                               "2026-12-08 10:12:12\nZweite Zeile\nmit Umlaut: ä\n\n"));
    struct stat info;
    QCOMPARE(stat(QFile::encodeName(FeedbackStore::folder()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
    QCOMPARE(stat(QFile::encodeName(FeedbackStore::filePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);

    // A file someone loosened is tightened again on the next entry.
    QVERIFY(chmod(QFile::encodeName(FeedbackStore::filePath()).constData(), 0644) == 0);
    QVERIFY(FeedbackStore::append(QStringLiteral("third")));
    QCOMPARE(stat(QFile::encodeName(FeedbackStore::filePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void ModulesTest::feedbackPageSendsAndConfirms()
{
    QFile::remove(FeedbackStore::filePath());
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();
    menuAction(window, "Help", "Feedback")->trigger();
    FeedbackPage *page = currentPageAs<FeedbackPage>(window);
    QVERIFY(page);
    page->editor()->setPlainText(QStringLiteral("  Please add a dark theme.  "));
    page->findChild<cvPushButton *>(QStringLiteral("SendButton"))->click();
    QVERIFY(page->editor()->toPlainText().isEmpty());
    QFile file(FeedbackStore::filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString stored = QString::fromUtf8(file.readAll());
    QVERIFY(stored.contains(QStringLiteral("\nPlease add a dark theme.\n\n")));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"))
                .match(stored)
                .hasMatch());

    const QList<QMessageBox *> boxes = ModuleTestSupport::openMessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->icon(), QMessageBox::Information);
    QCOMPARE(boxes.first()->text(), QStringLiteral("Thank you! Your feedback has been saved."));
    QVERIFY(!boxes.first()->isModal());
    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::emptyFeedbackIsRefused()
{
    QFile::remove(FeedbackStore::filePath());
    MsgBox_Init(nullptr);
    ModuleHost host;
    host.set(nullptr, MsgBox_GetDelegate(), nullptr);
    FeedbackPage page(&host);
    page.editor()->setPlainText(QStringLiteral(" \n\t "));
    QVERIFY(!page.send());
    QVERIFY(!QFile::exists(FeedbackStore::filePath()));
    const QList<QMessageBox *> boxes = ModuleTestSupport::openMessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->icon(), QMessageBox::Warning);
    MsgBox_Uninit();
}

void ModulesTest::feedbackKeepsTheTextWhenItCannotBeStored()
{
    // A plain file where the folder belongs makes the store fail.
    QDir(FeedbackStore::folder()).removeRecursively();
    QFile blocker(FeedbackStore::folder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ModuleHost host;
    FeedbackPage page(&host);
    page.editor()->setPlainText(QStringLiteral("do not lose me"));
    QVERIFY(!page.send());
    QCOMPARE(page.editor()->toPlainText(), QStringLiteral("do not lose me"));
    QVERIFY(QFile::remove(FeedbackStore::folder()));

    // A link planted as the feedback file is not followed.
    QTemporaryDir elsewhere;
    QVERIFY(QDir().mkpath(FeedbackStore::folder()));
    const QString target = elsewhere.filePath("target.txt");
    QVERIFY(QFile::link(target, FeedbackStore::filePath()));
    QVERIFY(!FeedbackStore::append(QStringLiteral("secret")));
    QVERIFY(!QFile::exists(target));
    QVERIFY(QFile::remove(FeedbackStore::filePath()));
}

void ModulesTest::dmsAddressValidation_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("https") << "https://dms.example.com" << true;
    QTest::newRow("http with port and path") << "http://10.0.0.5:8080/dms" << true;
    QTest::newRow("bare host") << "dms.example.com" << true;
    QTest::newRow("host and port") << "dms.example.com:8443" << true;
    QTest::newRow("other scheme") << "ftp://dms.example.com" << false;
    QTest::newRow("space") << "dms example.com" << false;
    QTest::newRow("newline injects a key") << "a.example.com\nstrWebLanguage=German" << false;
    QTest::newRow("no host") << "https://" << false;
    QTest::newRow("too long") << QString(600, QLatin1Char('a')) << false;
}

void ModulesTest::dmsAddressValidation()
{
    QFETCH(QString, address);
    QFETCH(bool, valid);
    QCOMPARE(DmsPage::isValidAddress(address), valid);
}

void ModulesTest::dmsPageStoresTheAddress()
{
    ModuleHost host;
    {
        DmsPage page(&host);
        page.addressField()->setText(QStringLiteral("  https://dms.example.com  "));
        QVERIFY(page.save());
        QCOMPARE(UserProfile::read("DMS", "strServerAddress", "unset"),
                 std::string("https://dms.example.com"));
        page.addressField()->setText(QStringLiteral("bad address"));
        QVERIFY(!page.save());
        QCOMPARE(UserProfile::read("DMS", "strServerAddress", "unset"),
                 std::string("https://dms.example.com"));
    }
    // A new page shows what is stored.
    DmsPage again(&host);
    QCOMPARE(again.addressField()->text(), QStringLiteral("https://dms.example.com"));
}

void ModulesTest::softPhoneOptionsAreStored()
{
    QVERIFY(SOFTPHONESETTINGUI_Init(nullptr, nullptr, nullptr));
    SOFTPHONESETTINGUI_UnInit();
    {
        SoftPhonePage page;
        cvCheckBox *autoAnswer = page.findChild<cvCheckBox *>(QStringLiteral("bAutoAnswer"));
        cvCheckBox *ring = page.findChild<cvCheckBox *>(QStringLiteral("bRingTone"));
        QVERIFY(autoAnswer && ring);
        QVERIFY(!autoAnswer->isChecked());
        QVERIFY(ring->isChecked());
        autoAnswer->click();
        ring->click();
        QCOMPARE(UserProfile::read("SoftPhone", "bAutoAnswer", ""), std::string("1"));
        QCOMPARE(UserProfile::read("SoftPhone", "bRingTone", ""), std::string("0"));
    }
    SoftPhonePage again;
    QVERIFY(again.findChild<cvCheckBox *>(QStringLiteral("bAutoAnswer"))->isChecked());
    QVERIFY(!again.findChild<cvCheckBox *>(QStringLiteral("bRingTone"))->isChecked());
}

void ModulesTest::settingsSubPageIsStyledOnlyWhenSeen()
{
    SettingPage settings;
    QWidget *first = new QWidget;
    QWidget *second = new QWidget;
    settings.addSubPage(QStringLiteral("First"), first);
    settings.addSubPage(QStringLiteral("Second"), second);
    // Nobody has seen the page: the sub-page it opens on is known but not laid out or styled yet.
    QCOMPARE(settings.currentSubPage(), first);
    QVERIFY(!first->testAttribute(Qt::WA_WState_Polished));

    settings.show();
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    QCOMPARE(settings.currentSubPage(), first);
    QVERIFY(first->isVisible());
    QVERIFY(!second->isVisible());

    // A choice made before the page is seen is kept.
    SettingPage chosen;
    QWidget *a = new QWidget;
    QWidget *b = new QWidget;
    chosen.addSubPage(QStringLiteral("A"), a);
    chosen.addSubPage(QStringLiteral("B"), b);
    chosen.selectSubPage(1);
    chosen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chosen));
    QCOMPARE(chosen.currentSubPage(), b);
    QVERIFY(b->isVisible());
}

void ModulesTest::settingsShowsSubPagesAndAbout()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();
    Setting_ShowSetting(0, 2);
    SettingPage *settings = currentPageAs<SettingPage>(window);
    QVERIFY(settings);
    QCOMPARE(settings->subPageCount(), 3);
    QCOMPARE(settings->currentSubPage()->objectName(), QStringLiteral("DmsPage"));
    // Out of range keeps the page that was chosen.
    Setting_ShowSetting(0, 99);
    QCOMPARE(settings->currentSubPage()->objectName(), QStringLiteral("DmsPage"));
    window->findChild<cvPushButton *>(QStringLiteral("NavSettings"))->click();
    QCOMPARE(settings->currentSubPage()->objectName(), QStringLiteral("LanguagePage"));

    Setting_ShowSettingAbout(0, 0);
    AboutPage *about = currentPageAs<AboutPage>(window);
    QVERIFY(about);
    QStringList texts;
    for (cvLabel *label : about->findChildren<cvLabel *>())
        texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("Corvane Connect")));
    QVERIFY(std::any_of(texts.begin(), texts.end(), [](const QString &t) {
        return QRegularExpression(QStringLiteral("^Version \\d+(\\.\\d+)+")).match(t).hasMatch();
    }));

    // A sub-page deleted by its module leaves the list.
    LANGUI_UnInit();
    QCOMPARE(settings->subPageCount(), 2);
    QCOMPARE(settings->indexOf(nullptr), -1);
    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::settingsPagesAreMadeWhenFirstNeeded()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    const auto alive = [](const char *name) {
        const QWidgetList widgets = QApplication::allWidgets();
        return std::count_if(widgets.begin(), widgets.end(),
                             [name](QWidget *w) { return w->objectName() == QLatin1String(name); });
    };
    const char *const subPages[] = {"LanguagePage", "SoftPhonePage", "DmsPage"};

    // Bring-up leaves the settings and their sub-pages unmade; their menu entries are there.
    MainWindow *window = ModuleTestSupport::bringUp();
    QCOMPARE(alive("SettingPage"), 0);
    for (const char *name : subPages)
        QCOMPARE(alive(name), 0);
    QCOMPARE(menuSources(window, QStringLiteral("Settings")),
             (QStringList{"Language settings", "Soft phone settings", "Device management"}));

    // The entry of the second sub-page makes the settings with every sub-page once, in the menu's order,
    // and opens on its own.
    menuAction(window, "Settings", "Soft phone settings")->trigger();
    SettingPage *settings = currentPageAs<SettingPage>(window);
    QVERIFY(settings);
    QCOMPARE(settings->currentSubPage()->objectName(), QStringLiteral("SoftPhonePage"));
    QCOMPARE(settings->subPageCount(), 3);
    for (int i = 0; i < 3; ++i) {
        settings->selectSubPage(i);
        QCOMPARE(settings->currentSubPage()->objectName(), QString::fromLatin1(subPages[i]));
        QCOMPARE(alive(subPages[i]), 1);
    }
    QCOMPARE(alive("SettingPage"), 1);
    menuAction(window, "Settings", "Device management")->trigger();
    QCOMPARE(currentPageAs<SettingPage>(window), settings);
    QCOMPARE(settings->currentSubPage()->objectName(), QStringLiteral("DmsPage"));
    ModuleTestSupport::tearDown();
    delete window;

    // A module taken down before the settings were made leaves no place behind and has no page made.
    window = ModuleTestSupport::bringUp();
    DMSUI_UnInit();
    Setting_ShowSetting(0, 0);
    settings = currentPageAs<SettingPage>(window);
    QVERIFY(settings);
    QCOMPARE(settings->subPageCount(), 2);
    QCOMPARE(alive("DmsPage"), 0);
    QCOMPARE(settings->currentSubPage()->objectName(), QStringLiteral("LanguagePage"));
    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::settingsMadeAfterALanguageSwitchSpeakIt()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    MainWindow *window = ModuleTestSupport::bringUp();
    // The switch happens while the settings are not made yet; they must come up in the new language.
    QVERIFY(lang_SwitchTo("German"));
    const QString title = cvTranslate(QStringLiteral("Language"));
    const QString heading = cvTranslate(QStringLiteral("Settings"));
    const bool translated = title != QLatin1String("Language") && heading != QLatin1String("Settings");
    Setting_ShowSetting(0, 0);
    SettingPage *settings = currentPageAs<SettingPage>(window);
    QStringList labels;
    if (settings) {
        for (cvLabel *label : settings->findChildren<cvLabel *>())
            labels << label->text();
    }
    QListWidget *list =
        settings ? settings->findChild<QListWidget *>(QStringLiteral("SettingList")) : nullptr;
    const QString first = list && list->count() > 0 ? list->item(0)->text() : QString();
    lang_SwitchTo("English");
    ModuleTestSupport::tearDown();
    delete window;

    QVERIFY2(translated, "the German catalogue lacks the texts this test looks for");
    QVERIFY(settings);
    QCOMPARE(first, title);
    QVERIFY2(labels.contains(heading), qPrintable(labels.join(QLatin1Char('|'))));
}

void ModulesTest::messageBoxesAreNonModalAndClosedAtUninit()
{
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QVERIFY(MsgBox_Init(&window));
    CMessageBoxDelegate *boxes = MsgBox_GetDelegate();
    QVERIFY(boxes);
    boxes->information(QStringLiteral("Feedback"), QStringLiteral("first"));
    boxes->warning(QStringLiteral("Language"), QStringLiteral("second"));
    const QList<QMessageBox *> open = ModuleTestSupport::openMessageBoxes();
    QCOMPARE(open.size(), 2);
    for (QMessageBox *box : open) {
        QVERIFY(!box->isModal());
        QCOMPARE(box->parentWidget(), static_cast<QWidget *>(&window));
        // The picture is the theme's own for the box's kind.
        const QString name = box->icon() == QMessageBox::Warning ? "msgbox-warning.png" : "msgbox-info.png";
        const QImage expected(qEnvironmentVariable("TARN_TEST_ROOT") + "/resource/drawable/1/common/" + name);
        QVERIFY(!expected.isNull());
        QLabel *picture = box->findChild<QLabel *>(QStringLiteral("qt_msgboxex_icon_label"));
        QVERIFY(picture);
        QCOMPARE(picture->pixmap(Qt::ReturnByValue).toImage().convertToFormat(expected.format()), expected);
    }
    QPointer<QMessageBox> kept = open.first();
    MsgBox_Uninit();
    QVERIFY(!kept);
    QVERIFY(ModuleTestSupport::openMessageBoxes().isEmpty());
}

void ModulesTest::notificationsAreKeptWhileUp()
{
    QVERIFY(!NotificationMgr_Post(QStringLiteral("t"), QStringLiteral("before init")));
    QVERIFY(NotificationMgr_Init());
    for (int i = 0; i < 60; ++i)
        QVERIFY(NotificationMgr_Post(QStringLiteral("t"), QString::number(i)));
    QCOMPARE(NotificationMgr_Count(), 50);
    NotificationMgr_UnInit();
    QCOMPARE(NotificationMgr_Count(), 0);
    QVERIFY(!NotificationMgr_Post(QStringLiteral("t"), QStringLiteral("after")));
}

void ModulesTest::hotkeyBringsTheMainWindowForward()
{
    QVERIFY(HotkeyModule_Init());
    QWidget other;
    other.show();
    {
        // No main window: the key goes on to its widget.
        QVERIFY(!HotkeyFilter::bringMainWindowForward());
    }
    MainWindow window(nullptr, -1, QStringLiteral("MainWindow"));
    QVERIFY(!window.isVisible());
    QTest::keyClick(&other, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!window.isVisible());
    QTest::keyClick(&other, Qt::Key_T, Qt::ControlModifier);
    QVERIFY(!window.isVisible());
    QTest::keyClick(&other, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(window.isVisible());
}

void ModulesTest::randomOperatorNeverQuits()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());
    {
        RandomOperator idle(100000);
        QVERIFY(!idle.pokeOnce());
    }
    MainWindow *window = ModuleTestSupport::bringUp();
    // Message boxes a page opens are closed as they come.
    RandomOperator poker(100000);
    for (int i = 0; i < 300; ++i) {
        QVERIFY(poker.pokeOnce());
        ModuleTestSupport::closeMessageBoxes();
        QVERIFY2(window->isVisible(), "the random operator chose Quit");
    }
    QCOMPARE(poker.operations(), 300);
    QVERIFY(startRandomOperationServer());
    QVERIFY(startRandomOperationServer());
    ModuleTestSupport::tearDown();
    delete window;
}

void ModulesTest::styleIsFusionWithALightPalette()
{
    QWidget window;
    ucstyle_init(qApp, &window);
    QCOMPARE(QApplication::style()->objectName().toLower(), QStringLiteral("fusion"));
    QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 200);
    QVERIFY(QApplication::palette().color(QPalette::WindowText).lightness() < 80);
}

void ModulesTest::fusionUnderAStyleSheetIsNotSetAgain()
{
    // Counts the restyles a style change makes.
    struct StyleChanges : QObject
    {
        int count = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::StyleChange)
                ++count;
            return false;
        }
    } changes;
    const QString sheet = QStringLiteral("QLabel { color: #123456; }");
    QWidget window;
    QLabel *label = new QLabel(QStringLiteral("styled"), &window);
    window.show();

    // The program's case: Fusion below a style sheet. The style stays, the sheet with it.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    qApp->setStyleSheet(sheet);
    QStyle *before = QApplication::style();
    label->installEventFilter(&changes);
    ucstyle_init(qApp, &window);
    QCOMPARE(changes.count, 0);
    QCOMPARE(QApplication::style(), before);
    QCOMPARE(label->palette().color(label->foregroundRole()), QColor(0x12, 0x34, 0x56));

    // Fusion behind the program's proxy under the sheet is Fusion too.
    QApplication::setStyle(new cvExtensionIconStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    qApp->setStyleSheet(sheet);
    before = QApplication::style();
    changes.count = 0;
    ucstyle_init(qApp, &window);
    QCOMPARE(changes.count, 0);
    QCOMPARE(QApplication::style(), before);

    // Another style below the sheet is replaced by Fusion, and the sheet still applies.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    changes.count = 0;
    ucstyle_init(qApp, &window);
    QVERIFY(changes.count > 0);
    qApp->setStyleSheet(QString());
    QCOMPARE(QApplication::style()->objectName().toLower(), QStringLiteral("fusion"));
}

QTEST_MAIN(ModulesTest)
#include "ModulesTest.moc"
