#include "WaylandActivation.h"

#include "ETLLib.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#ifdef TARN_HAVE_WAYLAND
#include "xdg-activation-v1-client-protocol.h"

#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>
#endif

#include <cstdlib>
#include <cstring>

namespace {

const char kTagW[] = "W:WaylandActivation";
const char kTagI[] = "I:WaylandActivation";

// Activation needs a mapped surface; a window on its way to the screen is waited for this long.
constexpr int kExposeWaitMs = 5000;

QString &pending()
{
    static QString token;
    return token;
}

#ifdef TARN_HAVE_WAYLAND

// One private event queue on Qt's connection, for as long as one request takes: Qt's own queue is
// never dispatched from here.
class Session
{
public:
    Session()
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
        static const wl_registry_listener listener = {&Session::global, &Session::globalRemove};
        wl_registry_add_listener(m_registry, &listener, this);
        if (wl_display_roundtrip_queue(m_display, m_queue) < 0)
            etlModuleTrace(4, kTagW, "the Wayland connection failed while looking for xdg_activation_v1");
    }

    ~Session()
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

    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool usable() const { return m_activation != nullptr; }

    QString requestToken(wl_surface *surface)
    {
        if (!m_activation)
            return QString();
        xdg_activation_token_v1 *token = xdg_activation_v1_get_activation_token(m_activation);
        static const xdg_activation_token_v1_listener listener = {&Session::tokenDone};
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

    void activate(const QByteArray &token, wl_surface *surface)
    {
        xdg_activation_v1_activate(m_activation, token.constData(), surface);
        wl_display_flush(m_display);
    }

private:
    static QByteArray appIdentifier()
    {
        // The name Qt gives the window's app_id, so the compositor ties the token to the same program.
        QString name = QGuiApplication::desktopFileName();
        if (name.endsWith(QLatin1String(".desktop")))
            name.chop(8);
        if (name.isEmpty())
            name = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
        return name.toUtf8();
    }

    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
    {
        Session *self = static_cast<Session *>(data);
        if (!self->m_activation && strcmp(interface, xdg_activation_v1_interface.name) == 0)
            self->m_activation = static_cast<xdg_activation_v1 *>(
                wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
    }

    static void globalRemove(void *, wl_registry *, uint32_t) {}

    static void tokenDone(void *data, xdg_activation_token_v1 *, const char *token)
    {
        Session *self = static_cast<Session *>(data);
        self->m_token = QString::fromUtf8(token);
        self->m_tokenDone = true;
    }

    wl_display *m_display = nullptr;
    wl_event_queue *m_queue = nullptr;
    wl_display *m_wrapper = nullptr;
    wl_registry *m_registry = nullptr;
    xdg_activation_v1 *m_activation = nullptr;
    QString m_token;
    bool m_tokenDone = false;
};

void activateNow(QWindow *window, QString token)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    wl_surface *surface =
        native ? static_cast<wl_surface *>(native->nativeResourceForWindow("surface", window)) : nullptr;
    if (!surface) {
        etlModuleTrace(4, kTagW, "the window has no Wayland surface; not activated");
        return;
    }
    Session session;
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

// Waits for the window's first exposure, then activates it once; gives up after kExposeWaitMs.
class ExposeWaiter : public QObject
{
public:
    ExposeWaiter(QWindow *window, const QString &token) : QObject(window), m_window(window), m_token(token)
    {
        window->installEventFilter(this);
        QTimer::singleShot(kExposeWaitMs, this, [this] {
            etlModuleTrace(4, kTagW, "the window was not exposed within %d ms; not activated", kExposeWaitMs);
            deleteLater();
        });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed() && !m_done) {
            m_done = true;
            // After the exposure's first frame is committed: the compositor maps the surface first.
            QPointer<QWindow> window = m_window;
            const QString token = m_token;
            QTimer::singleShot(0, m_window, [window, token] {
                if (window && window->isExposed())
                    activateNow(window, token);
            });
            deleteLater();
        }
        return false;
    }

private:
    QWindow *m_window;
    const QString m_token;
    bool m_done = false;
};

#endif

} // namespace

bool WaylandActivation::isWayland()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool WaylandActivation::isValidToken(const QByteArray &token)
{
    if (token.isEmpty() || token.size() > kMaxTokenBytes)
        return false;
    for (const char c : token) {
        if (c < 0x21 || c > 0x7E)
            return false;
    }
    return true;
}

QString WaylandActivation::takeLaunchToken()
{
    const QByteArray given = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!given.isNull()) {
        qunsetenv("XDG_ACTIVATION_TOKEN");
        if (isValidToken(given))
            return QString::fromLatin1(given);
        etlModuleTrace(4, kTagW, "XDG_ACTIVATION_TOKEN of %d bytes is not a token; ignored",
                       static_cast<int>(given.size()));
    }
#ifdef TARN_HAVE_WAYLAND
    if (isWayland()) {
        Session session;
        const QString own = session.requestToken(nullptr);
        if (isValidToken(own.toLatin1()))
            return own;
    }
#endif
    return QString();
}

void WaylandActivation::setPendingToken(const QString &token)
{
    pending() = token;
}

QString WaylandActivation::pendingToken()
{
    return pending();
}

void WaylandActivation::activate(QWindow *window, bool wasShown)
{
#ifdef TARN_HAVE_WAYLAND
    if (!window || !isWayland())
        return;
    // The token belongs to this request, whenever the window is ready for it.
    const QString token = pending();
    pending().clear();
    if (wasShown || window->isExposed()) {
        activateNow(window, token);
        return;
    }
    new ExposeWaiter(window, token);
#else
    Q_UNUSED(window);
    Q_UNUSED(wasShown);
#endif
}
