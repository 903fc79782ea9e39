#include "DevUi.h"
#include "DmsUi.h"
#include "ETLLib.h"
#include "FbUi.h"
#include "HotkeyModule.h"
#include "LangUi.h"
#include "MainWindow.h"
#include "ModuleTestSupport.h"
#include "MsgBox.h"
#include "NotificationMgr.h"
#include "RandomOperationServer.h"
#include "Setting.h"
#include "SoftPhoneSettingUi.h"
#include "SwUi.h"
#include "UcStyle.h"
#include "UsbDev.h"
#include "uCTraceHelper.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Every module operation leaves a level-7 "D:Modules" line whose text is exactly its name, so the
// program's bring-up and teardown order can be read back from the log.
class ModuleTraceTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyOperationTracesItsName();
    void nothingAtALowerLevel();

private:
    QStringList moduleLines();
    QTemporaryDir m_doc;
};

void ModuleTraceTest::initTestCase()
{
    QVERIFY(m_doc.isValid());
    etlOverrideAppRootPath(qgetenv("TARN_TEST_ROOT").toStdString());
    etlSetAppDocPath(m_doc.path().toStdString());
    uCTraceHelper::getInstance().ResetTraceLevel(7);
    uCTraceHelper::getInstance().RedirectToShareMemory();
}

QStringList ModuleTraceTest::moduleLines()
{
    QFile log(m_doc.filePath(QStringLiteral("log/tarn-desktop.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList texts;
    const QList<QByteArray> lines = log.readAll().split('\n');
    for (const QByteArray &line : lines) {
        // "date time pid:tid tag text"
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 5 && fields.at(3) == "D:Modules")
            texts << QString::fromUtf8(line.mid(line.indexOf(" D:Modules ") + 11));
    }
    return texts;
}

void ModuleTraceTest::everyOperationTracesItsName()
{
    QTemporaryDir sysfs;
    qputenv("TARN_USB_SYSFS", sysfs.path().toUtf8());

    HotkeyModule_Init();
    startRandomOperationServer();
    MainWindow *window = ModuleTestSupport::bringUp();
    Setting_ShowSetting(0, 1);
    Setting_ShowSettingAbout(0, 0);
    ModuleTestSupport::tearDown();
    delete window;

    const QStringList expected = {
        "HotkeyModule_Init",
        "startRandomOperationServer",
        "UsbDev_SetPath",
        "UsbDev_Init",
        "NotificationMgr_Init",
        "ucstyle_init",
        "MsgBox_Init",
        "Setting_Init",
        "Setting_GetDelegate",
        "MsgBox_GetDelegate",
        "DEVUI_Init",
        "DEVUI_SetDataPath",
        "DMSUI_Init",
        "SWUI_Init",
        "FBUI_Init",
        "LANGUI_Init",
        "SOFTPHONESETTINGUI_Init",
        "LangUi_InitLangeConfigMenuItem",
        "SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem",
        "DMSUI_InitDmMangageMenuItem",
        "SWUI_InitSoftCheckUpdateMenuItem",
        "FBUI_InitFeedbackMenuItem",
        "SWUI_InitUserAgreementMenuItem",
        "SWUI_InitPrivacyPolicyMenuItem",
        "DEVUI_OnShowDefaultContent",
        "Setting_ShowSetting",
        "Setting_ShowSettingAbout",
        "NotificationMgr_UnInit",
        "FBUI_UnInit",
        "DMSUI_UnInit",
        "SWUI_UnInit",
        "DEVUI_UnInit",
        "UsbDev_UnInit",
        "Setting_Uninit",
        "MsgBox_Uninit",
        "LANGUI_UnInit",
        "SOFTPHONESETTINGUI_UnInit",
    };
    QCOMPARE(moduleLines(), expected);
}

void ModuleTraceTest::nothingAtALowerLevel()
{
    const int before = moduleLines().size();
    uCTraceHelper::getInstance().ResetTraceLevel(6);
    MsgBox_Init(nullptr);
    MsgBox_Uninit();
    uCTraceHelper::getInstance().ResetTraceLevel(7);
    QCOMPARE(moduleLines().size(), before);
    MsgBox_Init(nullptr);
    MsgBox_Uninit();
    QCOMPARE(moduleLines().mid(before), (QStringList{"MsgBox_Init", "MsgBox_Uninit"}));
}

QTEST_MAIN(ModuleTraceTest)
#include "ModuleTraceTest.moc"
