#include "ModuleTestSupport.h"

#include "DevUi.h"
#include "DmsUi.h"
#include "FbUi.h"
#include "LangUi.h"
#include "MainWindow.h"
#include "MsgBox.h"
#include "NotificationMgr.h"
#include "Setting.h"
#include "SoftPhoneSettingUi.h"
#include "SwUi.h"
#include "UcStyle.h"
#include "UsbDev.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>

MainWindow *ModuleTestSupport::bringUp()
{
    UsbDev_SetPath("/tmp/config", "/tmp/data");
    UsbDev_Init("", true);
    NotificationMgr_Init();
    MainWindow *window = new MainWindow(nullptr, -1, QStringLiteral("MainWindow"));
    window->InitMACWidgetAtturibute();
    window->show();
    ucstyle_init(qApp, window);
    MsgBox_Init(window);
    Setting_Init(window);
    CSettingDelegate *setting = Setting_GetDelegate();
    CMessageBoxDelegate *msgBox = MsgBox_GetDelegate();
    DEVUI_Init(window, msgBox, setting);
    DEVUI_SetDataPath("/tmp/data");
    DMSUI_Init(window, msgBox, setting);
    SWUI_Init(window, msgBox, setting);
    FBUI_Init(window, msgBox, setting);
    LANGUI_Init(window, msgBox, setting);
    SOFTPHONESETTINGUI_Init(window, msgBox, setting);
    window->SetMsgBoxDelegate(msgBox);
    LangUi_InitLangeConfigMenuItem();
    SoftPhoneSettingUI_InitSoftPhoneSettingMenuItem();
    DMSUI_InitDmMangageMenuItem();
    SWUI_InitSoftCheckUpdateMenuItem();
    FBUI_InitFeedbackMenuItem();
    SWUI_InitUserAgreementMenuItem();
    SWUI_InitPrivacyPolicyMenuItem();
    window->SetOnShowDefaultContentFun(DEVUI_OnShowDefaultContent);
    window->SetShowSettingFun(Setting_ShowSetting);
    window->SetShowAboutSettingFun(Setting_ShowSettingAbout);
    window->ShowDefaultContent();
    return window;
}

void ModuleTestSupport::tearDown()
{
    NotificationMgr_UnInit();
    FBUI_UnInit();
    DMSUI_UnInit();
    SWUI_UnInit();
    DEVUI_UnInit();
    UsbDev_UnInit();
    Setting_Uninit();
    MsgBox_Uninit();
    // The program never takes these two down; tests do, to start the next case clean.
    LANGUI_UnInit();
    SOFTPHONESETTINGUI_UnInit();
}

QList<QMessageBox *> ModuleTestSupport::openMessageBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("ModuleMessageBox") && widget->isVisible())
            boxes.append(qobject_cast<QMessageBox *>(widget));
    }
    return boxes;
}

void ModuleTestSupport::closeMessageBoxes()
{
    for (QMessageBox *box : openMessageBoxes())
        box->close();
}

void ModuleTestSupport::addUsbDevice(const QString &root, const QString &name, const QByteArray &vendor,
                                     const QByteArray &product, const QByteArray &manufacturer,
                                     const QByteArray &productName)
{
    const QString folder = root + QLatin1Char('/') + name;
    QDir().mkpath(folder);
    auto write = [&folder](const char *file, const QByteArray &data) {
        if (data.isNull())
            return;
        QFile out(folder + QLatin1Char('/') + QLatin1String(file));
        if (out.open(QIODevice::WriteOnly))
            out.write(data + "\n");
    };
    write("idVendor", vendor);
    write("idProduct", product);
    write("manufacturer", manufacturer);
    write("product", productName);
}
