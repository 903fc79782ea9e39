#include "ArgHandler.h"

#include "ETLLib.h"
#include "RuntimeFolder.h"
#include "WaylandActivation.h"
#include "cvstl.h"
#include "wAppLauncher.h"

#include <QPair>
#include <QSocketNotifier>
#include <QTimer>
#include <QVector>
#include <QtEndian>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <memory>
#include <thread>

// Wire format: a 4-byte big-endian length, then that many bytes of UTF-8. A connection carries at most
// kMaxFramesPerConnection frames, each within kReadTimeoutMs; anything else ends the connection.

namespace {

const char kTagW[] = "W:ArgHandler";
const char kTagI[] = "I:ArgHandler";
const char kTagD[] = "D:ArgHandler";

using Clock = std::chrono::steady_clock;

// A local socket's path is at most 107 bytes; a longer one (a deep home folder) is never cut short.
QByteArray tooLongReason(const QString &path)
{
    const QByteArray native = path.toLocal8Bit();
    if (static_cast<size_t>(native.size()) < sizeof(sockaddr_un::sun_path))
        return QByteArray();
    return "[" + native + "] is " + QByteArray::number(native.size()) + " bytes, longer than the " +
           QByteArray::number(static_cast<int>(sizeof(sockaddr_un::sun_path) - 1)) + " a local socket allows";
}

bool fillAddress(const QString &path, sockaddr_un *address)
{
    const QByteArray native = path.toLocal8Bit();
    memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (native.isEmpty() || static_cast<size_t>(native.size()) >= sizeof address->sun_path)
        return false;
    memcpy(address->sun_path, native.constData(), static_cast<size_t>(native.size()));
    return true;
}

bool peerIsUs(int fd)
{
    ucred cred;
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0)
        return false;
    return cred.uid == ::geteuid();
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

enum class Probe
{
    NoServer,
    Alive,
    Failed
};

// Whether a server answers on the path; a socket file left by a crashed process refuses connections.
Probe probeServer(const QString &path)
{
    sockaddr_un address;
    if (!fillAddress(path, &address))
        return Probe::Failed;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Probe::Failed;
    Probe result = Probe::Alive;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errno == ECONNREFUSED || errno == ENOENT)
            result = Probe::NoServer;
        else if (errno != EAGAIN && errno != EINPROGRESS)
            result = Probe::Failed;
    }
    ::close(fd);
    return result;
}

// A notifier is never deleted from within its own activation: it is switched off at once and deleted
// once control is back in the event loop.
struct NotifierRelease
{
    void operator()(QSocketNotifier *notifier) const
    {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
};
using Notifier = std::unique_ptr<QSocketNotifier, NotifierRelease>;

} // namespace

// The relay is served with plain local sockets and socket notifiers on the GUI thread's event loop.
struct ArgHandler::Private
{
    struct Connection
    {
        int fd = -1;
        Notifier notifier;
        QByteArray buffer;
        int frames = 0;
        // The activation token of the next text, from a token frame.
        QString token;
        QTimer timer;
    };

    explicit Private(ArgHandler *owner) : q(owner) {}
    ~Private();
    bool openServer(const QString &path, const sockaddr_un &address);
    void closeServer();
    void acceptPending();
    void acceptConnection(int fd);
    void serve(Connection *connection);
    bool readFrames(Connection *connection, bool *peerClosed);
    void closeConnection(Connection *connection);
    bool isOpen(const Connection *connection) const;

    ArgHandler *q;
    int listenFd = -1;
    Notifier listenNotifier;
    // Oldest first, so that at the cap the connection that has waited longest makes room.
    std::list<std::unique_ptr<Connection>> connections;
};

const char ArgHandler::kTokenMarker[] = "\x1Bxdg-activation-token=";

QByteArray ArgHandler::tokenPayload(const QString &token)
{
    const QByteArray bytes = token.toLatin1();
    if (!WaylandActivation::isValidToken(bytes) || bytes.size() != token.size())
        return QByteArray();
    return QByteArray(kTokenMarker) + bytes;
}

ArgHandler &ArgHandler::instance()
{
    // Created once on first use and never deleted: it may still be reached during teardown.
    static ArgHandler *handler = new ArgHandler;
    return *handler;
}

ArgHandler::ArgHandler() : d(new Private(this)) {}

ArgHandler::~ArgHandler() = default;

QString ArgHandler::socketPath()
{
    const std::string runtime = RuntimeFolder::path();
    if (runtime.empty())
        return QString();
    return QString::fromStdString(runtime) + "/relay.sock";
}

bool ArgHandler::isValidText(const QByteArray &utf8)
{
    return !utf8.isEmpty() && utf8.size() <= kMaxTextBytes &&
           cv::is_valid_utf8(utf8.constData(), static_cast<size_t>(utf8.size()));
}

ArgHandler::Frame ArgHandler::takeFrame(QByteArray &buffer, QByteArray &payload, quint32 *length)
{
    payload.clear();
    if (buffer.size() < 4)
        return Frame::Incomplete;
    const quint32 announced = qFromBigEndian<quint32>(buffer.constData());
    if (length)
        *length = announced;
    if (announced == 0 || announced > static_cast<quint32>(kMaxTextBytes))
        return Frame::BadLength;
    if (static_cast<quint32>(buffer.size()) - 4 < announced)
        return Frame::Incomplete;
    QByteArray text = buffer.mid(4, static_cast<int>(announced));
    buffer.remove(0, static_cast<int>(4 + announced));
    if (!isValidText(text))
        return Frame::BadText;
    payload = text;
    return Frame::Text;
}

QString ArgHandler::frameText(const QByteArray &payload)
{
    // QString::fromUtf8(QByteArray) ends at the first NUL, and every form of it drops a leading byte order
    // mark; the sender's text must arrive whole.
    static const char bom[] = "\xEF\xBB\xBF";
    QString text;
    int at = 0;
    while (payload.size() - at >= 3 && memcmp(payload.constData() + at, bom, 3) == 0) {
        text += QChar(0xFEFF);
        at += 3;
    }
    return text + QString::fromUtf8(payload.constData() + at, payload.size() - at);
}

void ArgHandler::setArg(const QString &text)
{
    const QByteArray payload = text.toUtf8();
    if (!isValidText(payload)) {
        etlModuleTrace(4, kTagW, "setArg: text of %d bytes refused (1 to %d bytes of UTF-8)",
                       static_cast<int>(payload.size()), kMaxTextBytes);
        return;
    }
    const QString path = socketPath();
    sockaddr_un address;
    if (path.isEmpty() || !fillAddress(path, &address)) {
        const QByteArray tooLong = tooLongReason(path);
        if (!tooLong.isEmpty())
            etlModuleTrace(4, kTagW, "setArg: relay socket path %s; text not sent", tooLong.constData());
        else
            etlModuleTrace(4, kTagW, "setArg: no usable relay socket path");
        return;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        etlModuleTrace(4, kTagW, "setArg: socket: %s", strerror(errno));
        return;
    }
    // One bound for connect, write and flush together, so a busy or stuck instance costs the caller at
    // most kSendBoundMs.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSendBoundMs);
    bool connected = false;
    for (;;) {
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            connected = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EINPROGRESS) {
            pollfd pfd{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            connected = ::poll(&pfd, 1, remainingMs(deadline)) == 1 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
            break;
        }
        // A full backlog answers EAGAIN without queueing us; try again until the bound.
        if (errno != EAGAIN || remainingMs(deadline) == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!connected) {
        etlModuleTrace(6, kTagI, "setArg: no instance listens (%s)", strerror(errno));
        ::close(fd);
        return;
    }
    if (!peerIsUs(fd)) {
        etlModuleTrace(4, kTagW, "setArg: relay socket is served by another user; text not sent");
        ::close(fd);
        return;
    }
    // The launcher's activation token goes first, so the instance can bring its window forward on a
    // Wayland session.
    QByteArray frame;
    const QByteArray token = tokenPayload(WaylandActivation::takeLaunchToken());
    for (const QByteArray &part : {token, payload}) {
        if (part.isEmpty())
            continue;
        QByteArray length(4, '\0');
        qToBigEndian<quint32>(static_cast<quint32>(part.size()), length.data());
        frame += length + part;
    }
    qsizetype written = 0;
    while (written < frame.size()) {
        const ssize_t n = ::send(fd, frame.constData() + written, static_cast<size_t>(frame.size() - written),
                                 MSG_NOSIGNAL);
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, remainingMs(deadline)) == 1)
                continue;
        }
        break;
    }
    if (written == frame.size())
        etlModuleTrace(6, kTagI, "setArg: %d bytes sent", static_cast<int>(payload.size()));
    else
        etlModuleTrace(4, kTagW, "setArg: sending failed after %d of %d bytes", static_cast<int>(written),
                       static_cast<int>(frame.size()));
    ::close(fd);
}

bool ArgHandler::listen()
{
    if (d->listenFd >= 0)
        return true;
    const QString path = socketPath();
    sockaddr_un address;
    if (path.isEmpty() || !fillAddress(path, &address)) {
        const QByteArray tooLong = tooLongReason(path);
        if (!tooLong.isEmpty())
            etlModuleTrace(4, kTagW, "listen: relay socket path %s; no later start can reach this one",
                           tooLong.constData());
        else
            etlModuleTrace(4, kTagW, "listen: no usable relay socket path [%s]", qPrintable(path));
        return false;
    }
    struct stat st;
    if (::lstat(address.sun_path, &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            etlModuleTrace(4, kTagW, "listen: [%s] is not a socket", qPrintable(path));
            return false;
        }
        const Probe probe = probeServer(path);
        // A live server belongs to an instance still running; the registered instance takes over from
        // one that is already on its way out (it dropped its registration at exit).
        if (probe == Probe::Alive && !wAppLauncher::getInstance()->isRegistered()) {
            etlModuleTrace(4, kTagW, "listen: another instance listens on [%s]", qPrintable(path));
            return false;
        }
        if (probe == Probe::NoServer)
            etlModuleTrace(5, "N:ArgHandler", "listen: removing the socket left by an instance that is gone");
        ::unlink(address.sun_path);
    }
    if (!d->openServer(path, address))
        return false;
    if (::lstat(address.sun_path, &st) == 0 && S_ISSOCK(st.st_mode)) {
        m_socketDevice = st.st_dev;
        m_socketInode = st.st_ino;
    }
    etlModuleTrace(6, kTagI, "listening on [%s]", qPrintable(path));
    return true;
}

void ArgHandler::close()
{
    if (m_socketInode == 0)
        return;
    const QByteArray native = socketPath().toLocal8Bit();
    struct stat st;
    // The name is removed only while the file is still ours: another instance may have put its own in
    // its place since.
    if (!native.isEmpty() && ::lstat(native.constData(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_dev == m_socketDevice && st.st_ino == m_socketInode) {
        d->closeServer();
        ::unlink(native.constData());
        etlModuleTrace(6, kTagI, "relay socket removed");
    } else {
        d->closeServer();
        etlModuleTrace(6, kTagI, "relay socket belongs to another instance now; left in place");
    }
    m_socketDevice = 0;
    m_socketInode = 0;
}

ArgHandler::Private::~Private()
{
    closeServer();
    while (!connections.empty())
        closeConnection(connections.front().get());
}

bool ArgHandler::Private::openServer(const QString &path, const sockaddr_un &address)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        etlModuleTrace(4, kTagW, "listen on [%s] failed: socket: %s", qPrintable(path), strerror(errno));
        return false;
    }
    // The socket file takes the mode of the unbound socket (less the umask): owner only from its first
    // moment, inside a folder that is owner only as well.
    ::fchmod(fd, S_IRWXU);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 50) != 0) {
        const int error = errno;
        ::close(fd);
        etlModuleTrace(4, kTagW, "listen on [%s] failed: %s", qPrintable(path), strerror(error));
        return false;
    }
    ::chmod(address.sun_path, S_IRWXU);
    listenFd = fd;
    listenNotifier.reset(new QSocketNotifier(fd, QSocketNotifier::Read));
    QObject::connect(listenNotifier.get(), &QSocketNotifier::activated, q, [this] { acceptPending(); });
    return true;
}

void ArgHandler::Private::closeServer()
{
    listenNotifier.reset();
    if (listenFd >= 0) {
        ::close(listenFd);
        listenFd = -1;
    }
}

void ArgHandler::Private::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            acceptConnection(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: the pending client stays queued, and a notifier left on would
            // fire again at once; pause instead of spinning.
            etlModuleTrace(4, kTagW, "accepting a relay connection failed: %s", strerror(errno));
            listenNotifier->setEnabled(false);
            QSocketNotifier *paused = listenNotifier.get();
            QTimer::singleShot(100, paused, [paused] { paused->setEnabled(true); });
        }
        return;
    }
}

void ArgHandler::Private::acceptConnection(int fd)
{
    if (!peerIsUs(fd)) {
        etlModuleTrace(4, kTagW, "connection from another user refused");
        ::close(fd);
        return;
    }
    if (static_cast<int>(connections.size()) >= kMaxConnections) {
        etlModuleTrace(4, kTagW, "too many relay connections; dropping the oldest");
        closeConnection(connections.front().get());
    }
    connections.emplace_back(new Connection);
    Connection *connection = connections.back().get();
    connection->fd = fd;
    connection->timer.setSingleShot(true);
    QObject::connect(&connection->timer, &QTimer::timeout, q, [this, connection] {
        if (connection->buffer.isEmpty())
            etlModuleTrace(6, kTagI, "relay client sent nothing in time; dropped");
        else
            etlModuleTrace(4, kTagW, "relay frame incomplete after %d ms; dropped", kReadTimeoutMs);
        closeConnection(connection);
    });
    connection->notifier.reset(new QSocketNotifier(fd, QSocketNotifier::Read));
    QObject::connect(connection->notifier.get(), &QSocketNotifier::activated, q,
                     [this, connection] { serve(connection); });
    connection->timer.start(kReadTimeoutMs);
    serve(connection);
}

void ArgHandler::Private::serve(Connection *connection)
{
    bool peerClosed = false;
    if (!readFrames(connection, &peerClosed) || !peerClosed)
        return;
    if (!connection->buffer.isEmpty())
        etlModuleTrace(4, kTagW, "relay frame truncated: peer closed after %d bytes",
                       static_cast<int>(connection->buffer.size()));
    else if (connection->frames == 0)
        etlModuleTrace(7, kTagD, "relay client closed without a frame");
    closeConnection(connection);
}

bool ArgHandler::Private::readFrames(Connection *connection, bool *peerClosed)
{
    // Each text with the activation token that came before it.
    QVector<QPair<QString, QString>> texts;
    bool keep = true;
    char chunk[kMaxTextBytes + 4];
    while (keep) {
        // Never more than one whole frame is held: anything longer is refused on its header.
        const int room = kMaxTextBytes + 4 - connection->buffer.size();
        if (room <= 0)
            break;
        const ssize_t n = ::recv(connection->fd, chunk, static_cast<size_t>(room), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            // An orderly close, or a connection reset by the peer.
            *peerClosed = true;
            break;
        }
        connection->buffer.append(chunk, static_cast<int>(n));
        for (;;) {
            QByteArray payload;
            quint32 length = 0;
            const Frame frame = takeFrame(connection->buffer, payload, &length);
            if (frame == Frame::Incomplete)
                break;
            if (frame == Frame::BadLength) {
                etlModuleTrace(4, kTagW, "relay frame of %u bytes dropped (1 to %d allowed)", length,
                               kMaxTextBytes);
                keep = false;
                break;
            }
            if (frame == Frame::BadText) {
                etlModuleTrace(4, kTagW, "relay frame of %u bytes is not valid UTF-8; dropped", length);
                keep = false;
                break;
            }
            if (payload.startsWith(kTokenMarker)) {
                const QByteArray token = payload.mid(static_cast<int>(strlen(kTokenMarker)));
                if (!WaylandActivation::isValidToken(token)) {
                    etlModuleTrace(4, kTagW, "relay activation token of %d bytes is malformed; dropped",
                                   static_cast<int>(token.size()));
                    keep = false;
                    break;
                }
                connection->token = QString::fromLatin1(token);
            } else {
                texts.append(qMakePair(connection->token, frameText(payload)));
                connection->token.clear();
            }
            if (++connection->frames >= kMaxFramesPerConnection) {
                keep = false;
                break;
            }
            connection->timer.start(kReadTimeoutMs);
        }
    }
    if (!keep)
        closeConnection(connection);
    // Emitted last: a receiver may run a nested event loop that ends this connection.
    for (const auto &entry : texts) {
        const QString &text = entry.second;
        etlModuleTrace(6, kTagI, "relay text received (%d chars)%s", static_cast<int>(text.size()),
                       entry.first.isEmpty() ? "" : " with an activation token");
        // The receiver brings its window forward within the emission; the token is good for this text only.
        WaylandActivation::setPendingToken(entry.first);
        emit q->active(text);
        WaylandActivation::setPendingToken(QString());
        if (!isOpen(connection))
            keep = false;
    }
    return keep;
}

void ArgHandler::Private::closeConnection(Connection *connection)
{
    for (auto it = connections.begin(); it != connections.end(); ++it) {
        if (it->get() != connection)
            continue;
        connection->notifier.reset();
        ::close(connection->fd);
        connections.erase(it);
        return;
    }
}

bool ArgHandler::Private::isOpen(const Connection *connection) const
{
    for (const auto &open : connections) {
        if (open.get() == connection)
            return true;
    }
    return false;
}
