// The Wayland module's one entry point: the table of what it does for the program.
#include "WaylandActivationSession.h"
#include "WaylandMenuOverlay.h"
#include "WaylandModuleApi.h"

#include <QMenu>
#include <QWindow>

namespace {

void requestToken(QString *token)
{
    WaylandActivationSession session;
    *token = session.requestToken(nullptr);
}

void activate(QWindow *window, const QString &token)
{
    WaylandActivationSession::activateWindow(window, token);
}

QObject *createMenuOverlay(QMenu *menu, QObject *parent, std::function<void(const QString &)> unavailable)
{
    WaylandMenuOverlay *overlay = new WaylandMenuOverlay(menu, parent);
    QObject::connect(overlay, &WaylandMenuOverlay::unavailable, overlay, std::move(unavailable));
    return overlay;
}

bool menuOverlaySupported(QObject *overlay)
{
    return static_cast<WaylandMenuOverlay *>(overlay)->supported();
}

void openMenuOverlay(QObject *overlay)
{
    static_cast<WaylandMenuOverlay *>(overlay)->open();
}

const WaylandModuleApi kApi = {WaylandModuleApi::kVersion, &requestToken,         &activate,
                               &createMenuOverlay,         &menuOverlaySupported, &openMenuOverlay};

} // namespace

extern "C" __attribute__((visibility("default"))) const WaylandModuleApi *tarnWaylandModuleApi()
{
    return &kApi;
}
