#pragma once

#include <functional>

class QMenu;
class QObject;
class QString;
class QWindow;

// What the Wayland module (libtarn-wayland.so) gives the program. The module holds everything that
// speaks the Wayland protocol itself, so a session on X never loads the Wayland client library; the
// program opens it on the first request of a Wayland session (WaylandModule).
struct WaylandModuleApi
{
    // Raised when the table changes in a way the other side cannot read.
    static constexpr int kVersion = 1;
    int version;
    // A token for the application from the compositor (xdg_activation_v1); empty when none can be had.
    void (*requestToken)(QString *token);
    // Activates the window's mapped surface with `token`, or with one of the process's own when it is
    // empty. Traces why when it cannot.
    void (*activate)(QWindow *window, const QString &token);
    // The tray menu drawn at the pointer on a layer-shell overlay (owned by `parent`). `unavailable`
    // is called when it cannot be done on this session; the menu is then not shown.
    QObject *(*createMenuOverlay)(QMenu *menu, QObject *parent,
                                  std::function<void(const QString &reason)> unavailable);
    // False once the compositor was found to offer no layer shell.
    bool (*menuOverlaySupported)(QObject *overlay);
    // Opens the menu at the pointer, or places an open one at the pointer again.
    void (*openMenuOverlay)(QObject *overlay);
};

// The module's one exported symbol.
extern "C" const WaylandModuleApi *tarnWaylandModuleApi();
