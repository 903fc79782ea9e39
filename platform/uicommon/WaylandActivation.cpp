#include "WaylandActivation.h"

#include "ETLLib.h"
#include "WaylandModule.h"
#include "WaylandModuleApi.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

namespace {

const char kTagW[] = "W:WaylandActivation";

// Activation needs a mapped surface; a window on its way to the screen is waited for this long.
constexpr int kExposeWaitMs = 5000;

QString &pending()
{
    static QString token;
    return token;
}

void activateNow(QWindow *window, const QString &token)
{
    if (const WaylandModuleApi *wayland = WaylandModule::api())
        wayland->activate(window, token);
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
    if (const WaylandModuleApi *wayland = WaylandModule::api()) {
        QString own;
        wayland->requestToken(&own);
        if (isValidToken(own.toLatin1()))
            return own;
    }
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
}
