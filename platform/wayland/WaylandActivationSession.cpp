#include "WaylandActivationSession.h"

#include "ETLLib.h"
#include "xdg-activation-v1-client-protocol.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <cstring>

namespace {
const char kTagW[] = "W:WaylandActivation";
const char kTagI[] = "I:WaylandActivation";
} // namespace

WaylandActivationSession::WaylandActivationSession()
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native)
        return;
    m_display = static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"));
    if (!m_display)
        return;
    m_queue = wl_display_create_queue(m_display);
    m_wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(m_display));
    if (!m_queue || !m_wrapper)
        return;
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(m_wrapper), m_queue);
    m_registry = wl_display_get_registry(m_wrapper);
    static const wl_registry_listener listener = {&WaylandActivationSession::global,
                                                  &WaylandActivationSession::globalRemove};
    wl_registry_add_listener(m_registry, &listener, this);
    if (wl_display_roundtrip_queue(m_display, m_queue) < 0)
        etlModuleTrace(4, kTagW, "the Wayland connection failed while looking for xdg_activation_v1");
}

WaylandActivationSession::~WaylandActivationSession()
{
    if (m_activation)
        xdg_activation_v1_destroy(m_activation);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_wrapper)
        wl_proxy_wrapper_destroy(m_wrapper);
    if (m_display)
        wl_display_flush(m_display);
    if (m_queue)
        wl_event_queue_destroy(m_queue);
}

QString WaylandActivationSession::requestToken(wl_surface *surface)
{
    if (!m_activation)
        return QString();
    xdg_activation_token_v1 *token = xdg_activation_v1_get_activation_token(m_activation);
    static const xdg_activation_token_v1_listener listener = {&WaylandActivationSession::tokenDone};
    m_token.clear();
    m_tokenDone = false;
    xdg_activation_token_v1_add_listener(token, &listener, this);
    const QByteArray appId = appIdentifier();
    if (!appId.isEmpty())
        xdg_activation_token_v1_set_app_id(token, appId.constData());
    if (surface)
        xdg_activation_token_v1_set_surface(token, surface);
    xdg_activation_token_v1_commit(token);
    // The compositor answers the commit at once; a broken connection ends the wait.
    for (int round = 0; round < 4 && !m_tokenDone; ++round) {
        if (wl_display_roundtrip_queue(m_display, m_queue) < 0)
            break;
    }
    xdg_activation_token_v1_destroy(token);
    return m_tokenDone ? m_token : QString();
}

void WaylandActivationSession::activate(const QByteArray &token, wl_surface *surface)
{
    xdg_activation_v1_activate(m_activation, token.constData(), surface);
    wl_display_flush(m_display);
}

void WaylandActivationSession::activateWindow(QWindow *window, QString token)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    wl_surface *surface =
        native ? static_cast<wl_surface *>(native->nativeResourceForWindow("surface", window)) : nullptr;
    if (!surface) {
        etlModuleTrace(4, kTagW, "the window has no Wayland surface; not activated");
        return;
    }
    WaylandActivationSession session;
    if (!session.usable()) {
        etlModuleTrace(4, kTagW, "the compositor offers no xdg_activation_v1; the window is only shown");
        return;
    }
    const bool own = token.isEmpty();
    if (own)
        token = session.requestToken(surface);
    if (token.isEmpty()) {
        etlModuleTrace(4, kTagW, "no activation token could be had; the window is only shown");
        return;
    }
    session.activate(token.toUtf8(), surface);
    etlModuleTrace(6, kTagI, "window activated with %s token", own ? "its own" : "the launcher's");
}

QByteArray WaylandActivationSession::appIdentifier()
{
    // The name Qt gives the window's app_id, so the compositor ties the token to the same program.
    QString name = QGuiApplication::desktopFileName();
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    if (name.isEmpty())
        name = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    return name.toUtf8();
}

void WaylandActivationSession::global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                                      uint32_t)
{
    WaylandActivationSession *self = static_cast<WaylandActivationSession *>(data);
    if (!self->m_activation && strcmp(interface, xdg_activation_v1_interface.name) == 0)
        self->m_activation = static_cast<xdg_activation_v1 *>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void WaylandActivationSession::tokenDone(void *data, xdg_activation_token_v1 *, const char *token)
{
    WaylandActivationSession *self = static_cast<WaylandActivationSession *>(data);
    self->m_token = QString::fromUtf8(token);
    self->m_tokenDone = true;
}
