#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

// The notification-area icon with its "Show" and "Quit" menu.
class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT
public:
    explicit SystemTray(QObject *parent = nullptr);
    ~SystemTray() override;

    QMenu *menu() const { return m_menu; }
    QAction *showAction() const { return m_showAction; }
    QAction *quitAction() const { return m_quitAction; }

signals:
    void showMainWindowSignal();
    void restoreMainWindowSignal();
    void sigQuitAppAction();

public slots:
    void slotQuitApp();
    void slotShowMainWindow();
    void slotLangConfigChanged();
    void slotActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void popupMenu();

    QMenu *m_menu;
    QAction *m_showAction;
    QAction *m_quitAction;
    // The Wayland module's menu at the pointer, made on the first context request of a Wayland
    // session; a child of the tray.
    QObject *m_menuOverlay;
};
