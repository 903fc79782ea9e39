#pragma once

#include <QByteArray>
#include <QString>

class QWindow;

// On a Wayland session a window comes forward only through the compositor's xdg_activation_v1: the
// window's surface is activated with a token, which the process the user started passes on. The
// compositor then gives the window focus, or marks it urgent where its policy refuses focus.
class WaylandActivation
{
public:
    // The application runs on Qt's Wayland platform plugin.
    static bool isWayland();
    // The token this process was started with (XDG_ACTIVATION_TOKEN, taken out of the environment so
    // that programs started later do not reuse it), else one asked of the compositor; empty when none
    // can be had (not on Wayland, or the compositor offers no activation).
    static QString takeLaunchToken();
    // A token is 1..kMaxTokenBytes bytes of printable ASCII without spaces.
    static bool isValidToken(const QByteArray &token);
    // The token that the next activate() uses; an empty one clears it.
    static void setPendingToken(const QString &token);
    static QString pendingToken();
    // Activates the window's surface with the pending token, or else one of the process's own. A
    // window that was on screen already is activated at once (a compositor leaves a window on a hidden
    // workspace unexposed until it is activated); one that is only being shown is activated once it is
    // exposed, when its surface is mapped. Does nothing off Wayland.
    static void activate(QWindow *window, bool wasShown);

    static constexpr int kMaxTokenBytes = 255;
};
