#include "SystemTray.h"

#include "ETLLib.h"
#include "IconFileCache.h"
#include "UICommon.h"
#include "WaylandModule.h"
#include "WaylandModuleApi.h"
#include "languagehelper.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QMenu>

namespace {

QString translated(const char *english)
{
    return lang_Translate(lang_toLangText(QString::fromUtf8(english)));
}

} // namespace

SystemTray::SystemTray(QObject *parent)
    : QSystemTrayIcon(parent), m_menu(nullptr), m_showAction(nullptr), m_quitAction(nullptr),
      m_menuOverlay(nullptr)
{
    const std::string iconPath = etlGetAppRootPath() + "/resource/drawable/1/common/logo/main.ico";
    setIcon(IconFileCache::load(toQString(iconPath, false)));

    setToolTip(translated("Corvane Connect"));

    // The menu has no parent and is never deleted: it lives as long as the process.
    m_menu = new QMenu();
    m_menu->setObjectName(QStringLiteral("SystemMenu"));

    m_showAction = new QAction(this);
    m_showAction->setObjectName(QStringLiteral("ShowAction"));
    m_quitAction = new QAction(this);
    m_quitAction->setObjectName(QStringLiteral("QuitAction"));
    m_showAction->setText(translated("Show"));
    m_quitAction->setText(translated("Quit"));

    m_menu->addAction(m_showAction);
    m_menu->addAction(m_quitAction);
    setContextMenu(m_menu);

    connect(m_showAction, SIGNAL(triggered()), this, SLOT(slotShowMainWindow()));
    connect(m_quitAction, SIGNAL(triggered()), this, SLOT(slotQuitApp()));
    connect(this, &QSystemTrayIcon::activated, this, &SystemTray::slotActivated);
}

SystemTray::~SystemTray() = default;

void SystemTray::slotQuitApp()
{
    emit sigQuitAppAction();
}

void SystemTray::slotShowMainWindow()
{
    emit showMainWindowSignal();
}

void SystemTray::slotLangConfigChanged()
{
    if (m_showAction != nullptr) {
        m_showAction->setText(translated("Show"));
    }
    if (m_quitAction != nullptr) {
        m_quitAction->setText(translated("Quit"));
    }
}

void SystemTray::slotActivated(QSystemTrayIcon::ActivationReason reason)
{
    etlModuleTrace(7, "D:SystemTray", "SystemTray Trigger");
    if (reason == QSystemTrayIcon::Context) {
        if (m_menu != nullptr) {
            popupMenu();
        }
    } else if (reason == QSystemTrayIcon::Trigger) {
        emit showMainWindowSignal();
    }
}

void SystemTray::popupMenu()
{
    // A Wayland client knows neither where the pointer is nor how to place a popup of its own; the
    // compositor's overlay layer is the one place the menu can be drawn at the pointer.
    if (const WaylandModuleApi *wayland = WaylandModule::api()) {
        if (m_menuOverlay == nullptr) {
            m_menuOverlay = wayland->createMenuOverlay(m_menu, this, [this](const QString &reason) {
                etlModuleTrace(
                    4, "W:SystemTray",
                    "the menu cannot be placed at the pointer on this Wayland session: %s; it opens "
                    "where the compositor puts it",
                    qPrintable(reason));
                m_menu->popup(QCursor::pos());
            });
        }
        if (wayland->menuOverlaySupported(m_menuOverlay)) {
            wayland->openMenuOverlay(m_menuOverlay);
            return;
        }
    }
    m_menu->popup(QCursor::pos());
}
