#pragma once

#include <QString>

class QWindow;
struct wl_display;
struct wl_event_queue;
struct wl_registry;
struct wl_surface;
struct xdg_activation_v1;
struct xdg_activation_token_v1;

// One private event queue on Qt's own connection to the compositor, for as long as one request
// takes: Qt's own queue is never dispatched from here.
class WaylandActivationSession
{
public:
    WaylandActivationSession();
    ~WaylandActivationSession();

    WaylandActivationSession(const WaylandActivationSession &) = delete;
    WaylandActivationSession &operator=(const WaylandActivationSession &) = delete;

    bool usable() const { return m_activation != nullptr; }
    // A token from the compositor, for `surface` when there is one; empty when none comes.
    QString requestToken(wl_surface *surface);
    void activate(const QByteArray &token, wl_surface *surface);

    // Activates the window's surface with `token`, or with one of the process's own when it is empty.
    static void activateWindow(QWindow *window, QString token);

private:
    static QByteArray appIdentifier();
    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t);
    static void globalRemove(void *, wl_registry *, uint32_t) {}
    static void tokenDone(void *data, xdg_activation_token_v1 *, const char *token);

    wl_display *m_display = nullptr;
    wl_event_queue *m_queue = nullptr;
    wl_display *m_wrapper = nullptr;
    wl_registry *m_registry = nullptr;
    xdg_activation_v1 *m_activation = nullptr;
    QString m_token;
    bool m_tokenDone = false;
};
