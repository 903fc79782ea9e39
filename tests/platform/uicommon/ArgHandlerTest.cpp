#include "ArgHandler.h"

#include "WaylandActivation.h"
#include "wAppLauncher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

namespace {

sockaddr_un relayAddress()
{
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray path = ArgHandler::socketPath().toLocal8Bit();
    memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return address;
}

// A client of the relay; the event loop keeps running while the listen queue is full.
int connectRaw()
{
    const sockaddr_un address = relayAddress();
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return fd;
        ::close(fd);
        if (errno != EAGAIN)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return -1;
}

QByteArray frame(const QByteArray &payload, quint32 length)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(length, out.data());
    return out + payload;
}

QByteArray frame(const QByteArray &payload)
{
    return frame(payload, static_cast<quint32>(payload.size()));
}

bool sendRaw(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EAGAIN) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        } else {
            return false;
        }
    }
    return true;
}

// Whether the server closed the connection within the time (the client reads end of file).
bool closedByServer(int fd, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        char byte;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN))
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return false;
}

} // namespace

class TestArgHandler : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void validTextRules_data();
    void validTextRules();
    void frameReader();

    // In this order: the relay is brought up step by step.
    void setArgWithoutListenerReturnsAtOnce();
    void listenRefusesWhatIsNotASocket();
    void listenLeavesAnotherLiveInstanceAlone();
    void setArgToStuckServerIsBounded();
    void listenRecoversStaleSocket();
    void socketIsPrivate();

    void roundTrip();
    void sizeLimits();
    void severalFramesOnOneConnection();
    void framesSplitAcrossReads();
    void hugeFrameIsCutOff();
    void garbageFrames();
    void silentClientsDoNotStall();
    void truncatedFrame();
    void malformedFrames();
    void otherUserCannotConnect();
    void activationTokenTravelsWithItsText();
    void launchTokenIsTakenOnce();
    void malformedTokenFrames();

    // Last: the relay is taken down.
    void closeRemovesOwnSocket();
    void closeLeavesSocketOfAnotherInstance();

private:
    // The next `active` carries exactly `text`, within a bound, and nothing came before it.
    void expectOnly(const QString &text, int timeoutMs = 1000);
    QSignalSpy *m_spy = nullptr;
};

void TestArgHandler::initTestCase()
{
    // The test folders outlive a run; start without the previous run's socket.
    const QString path = ArgHandler::socketPath();
    QVERIFY(!path.isEmpty());
    QFile::remove(path);
}

void TestArgHandler::init()
{
    if (!m_spy)
        m_spy = new QSignalSpy(&ArgHandler::instance(), &ArgHandler::active);
    QCoreApplication::processEvents();
    m_spy->clear();
}

void TestArgHandler::expectOnly(const QString &text, int timeoutMs)
{
    // Sent from another thread, as from another process: the receiving event loop keeps running.
    std::thread sender([text] { ArgHandler::instance().setArg(text); });
    QTRY_VERIFY_WITH_TIMEOUT(!m_spy->isEmpty(), timeoutMs);
    sender.join();
    QCOMPARE(m_spy->takeFirst().at(0).toString(), text);
    QCOMPARE(m_spy->count(), 0);
}

void TestArgHandler::validTextRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ascii") << QByteArray("SetTopLastApp") << true;
    QTest::newRow("two-byte edges") << QByteArray("\xC2\x80\xDF\xBF") << true;
    QTest::newRow("three-byte edges") << QByteArray("\xE0\xA0\x80\xEF\xBF\xBF") << true;
    QTest::newRow("four-byte edges") << QByteArray("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("embedded nul") << QByteArray("a\0b", 3) << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
    QTest::newRow("overlong three") << QByteArray("\xE0\x80\xAF") << false;
    QTest::newRow("overlong four") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above max") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("five-byte lead") << QByteArray("\xF8\x88\x80\x80\x80") << false;
    QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
    QTest::newRow("cut at end") << QByteArray("abc\xE2\x82") << false;
    QTest::newRow("bad continuation") << QByteArray("\xE2\x28\xA1") << false;
    QTest::newRow("4096 bytes") << QByteArray(4096, 'x') << true;
    QTest::newRow("4097 bytes") << QByteArray(4097, 'x') << false;
}

void TestArgHandler::validTextRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(ArgHandler::isValidText(bytes), valid);
}

void TestArgHandler::frameReader()
{
    QByteArray payload("stale");
    quint32 length = 99;

    QByteArray buffer("\0\0\0", 3);
    QCOMPARE(ArgHandler::takeFrame(buffer, payload, &length), ArgHandler::Frame::Incomplete);
    QCOMPARE(buffer.size(), 3);
    QVERIFY(payload.isEmpty());

    buffer = frame("abcdef").left(7);
    QCOMPARE(ArgHandler::takeFrame(buffer, payload, &length), ArgHandler::Frame::Incomplete);
    QCOMPARE(length, 6u);
    QCOMPARE(buffer, frame("abcdef").left(7));

    buffer = frame("one") + frame("two") + QByteArray("\0", 1);
    QCOMPARE(ArgHandler::takeFrame(buffer, payload), ArgHandler::Frame::Text);
    QCOMPARE(payload, QByteArray("one"));
    QCOMPARE(ArgHandler::takeFrame(buffer, payload), ArgHandler::Frame::Text);
    QCOMPARE(payload, QByteArray("two"));
    QCOMPARE(ArgHandler::takeFrame(buffer, payload), ArgHandler::Frame::Incomplete);
    QCOMPARE(buffer, QByteArray("\0", 1));

    for (quint32 bad : {0u, 4097u, 0x80000000u, 0xFFFFFFFFu}) {
        buffer = frame(QByteArray(8, 'x'), bad);
        QCOMPARE(ArgHandler::takeFrame(buffer, payload, &length), ArgHandler::Frame::BadLength);
        QCOMPARE(length, bad);
        QCOMPARE(buffer.size(), 12);
    }

    buffer = frame(QByteArray(4096, 'x'));
    QCOMPARE(ArgHandler::takeFrame(buffer, payload), ArgHandler::Frame::Text);
    QCOMPARE(payload.size(), 4096);
    QVERIFY(buffer.isEmpty());

    buffer = frame("\xC0\xAF") + frame("ok");
    QCOMPARE(ArgHandler::takeFrame(buffer, payload), ArgHandler::Frame::BadText);
    QVERIFY(payload.isEmpty());
    QCOMPARE(buffer, frame("ok"));
}

void TestArgHandler::setArgWithoutListenerReturnsAtOnce()
{
    const QString path = ArgHandler::socketPath();
    QVERIFY(!path.isEmpty());
    QVERIFY(!QFile::exists(path));
    QElapsedTimer timer;
    timer.start();
    ArgHandler::instance().setArg("SetTopLastApp");
    // A sender that waited out its bound (or retried) would take kSendBoundMs; a loaded machine stays
    // far below half of it.
    QVERIFY2(timer.elapsed() < ArgHandler::kSendBoundMs / 2, qPrintable(QString::number(timer.elapsed())));

    // A socket file nobody serves (left by a crash) refuses at once too.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = relayAddress();
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    QVERIFY(QFile::exists(path));
    timer.restart();
    ArgHandler::instance().setArg("SetTopLastApp");
    QVERIFY2(timer.elapsed() < ArgHandler::kSendBoundMs / 2, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(QFile::remove(path));
}

void TestArgHandler::listenRefusesWhatIsNotASocket()
{
    QFile file(ArgHandler::socketPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    QVERIFY(!ArgHandler::instance().listen());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
    file.close();
    QVERIFY(file.remove());
}

void TestArgHandler::listenLeavesAnotherLiveInstanceAlone()
{
    const int other = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = relayAddress();
    QCOMPARE(::bind(other, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(other, 4), 0);
    QByteArray received;
    {
        // Closed however this ends, leaving its socket file behind as a crash would.
        std::unique_ptr<int, void (*)(int *)> guard(new int(other), [](int *fd) {
            ::close(*fd);
            delete fd;
        });
        QVERIFY(!wAppLauncher::getInstance()->isRegistered());
        QVERIFY(!ArgHandler::instance().listen());
        // The other instance still gets the texts (after the empty connection that probed it).
        ArgHandler::instance().setArg("SetTopLastApp");
        for (int i = 0; i < 3 && received.isEmpty(); ++i) {
            pollfd pfd{other, POLLIN, 0};
            QCOMPARE(::poll(&pfd, 1, 1000), 1);
            const int peer = ::accept(other, nullptr, nullptr);
            QVERIFY(peer >= 0);
            QByteArray buffer(64, '\0');
            const ssize_t n = ::recv(peer, buffer.data(), static_cast<size_t>(buffer.size()), 0);
            ::close(peer);
            if (n > 0)
                received = buffer.left(static_cast<int>(n));
        }
    }
    QCOMPARE(received, frame("SetTopLastApp"));
}

void TestArgHandler::setArgToStuckServerIsBounded()
{
    // A server that never accepts: once its queue is full, connecting would wait forever.
    QVERIFY(QFile::remove(ArgHandler::socketPath()));
    const int stuck = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = relayAddress();
    QCOMPARE(::bind(stuck, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(stuck, 1), 0);
    std::vector<int> queued;
    bool full = false;
    for (int i = 0; i < 16 && !full; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        full = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
               errno == EAGAIN;
        queued.push_back(fd);
    }
    QElapsedTimer timer;
    timer.start();
    ArgHandler::instance().setArg("SetTopLastApp");
    const qint64 elapsed = timer.elapsed();
    for (int fd : queued)
        ::close(fd);
    ::close(stuck);
    QVERIFY(full);
    QVERIFY2(elapsed < ArgHandler::kSendBoundMs + 200, qPrintable(QString::number(elapsed)));
}

void TestArgHandler::listenRecoversStaleSocket()
{
    // The socket file of the previous test's server outlives it, as after a crash.
    QVERIFY(QFile::exists(ArgHandler::socketPath()));
    QVERIFY(ArgHandler::instance().listen());
    QVERIFY(ArgHandler::instance().listen());
    expectOnly("SetTopLastApp");
}

void TestArgHandler::socketIsPrivate()
{
    struct stat st;
    QCOMPARE(::lstat(ArgHandler::socketPath().toLocal8Bit().constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 077, 0u);
    const QString folder = QFileInfo(ArgHandler::socketPath()).path();
    QCOMPARE(::lstat(folder.toLocal8Bit().constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    QCOMPARE(st.st_uid, ::getuid());
}

void TestArgHandler::roundTrip()
{
    expectOnly("SetTopLastApp");
    expectOnly("CloseApp");
    expectOnly(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F"
                                 "e \xE2\x9C\x93 \xF0\x9D\x84\x9E"));
    // Texts arrive whole: embedded NULs and a leading U+FEFF are characters like any other.
    expectOnly(QString::fromUtf8("Set\0TopLastApp", 14));
    expectOnly(QString(QChar(0)) + "x");
    expectOnly(QString(QChar(0xFEFF)));
    expectOnly(QString(QChar(0xFEFF)) + QChar(0xFEFF) + "CloseApp");
}

void TestArgHandler::sizeLimits()
{
    // 4096 bytes made of multi-byte characters: 1365 three-byte ones and one ASCII byte.
    QString largest(1365, QChar(0x20AC));
    largest += 'x';
    QCOMPARE(largest.toUtf8().size(), 4096);
    expectOnly(largest);

    // One byte more is refused by the sender...
    ArgHandler::instance().setArg(largest + "y");
    // ...and by the receiver when a client sends it anyway.
    const int fd = connectRaw();
    QVERIFY(fd >= 0);
    QVERIFY(sendRaw(fd, frame(QByteArray(4097, 'y'))));
    QVERIFY(closedByServer(fd, 3000));
    ::close(fd);
    ArgHandler::instance().setArg("");
    expectOnly("CloseApp");
}

void TestArgHandler::severalFramesOnOneConnection()
{
    int fd = connectRaw();
    QVERIFY(fd >= 0);
    QVERIFY(sendRaw(fd, frame("one") + frame("two") + frame("three")));
    QTRY_COMPARE_WITH_TIMEOUT(m_spy->count(), 3, 1000);
    QCOMPARE(m_spy->at(0).at(0).toString(), QString("one"));
    QCOMPARE(m_spy->at(2).at(0).toString(), QString("three"));
    ::close(fd);
    m_spy->clear();

    // A connection carries a few frames only.
    fd = connectRaw();
    QByteArray many;
    for (int i = 0; i < 10; ++i)
        many += frame(QByteArray::number(i));
    QVERIFY(sendRaw(fd, many));
    QVERIFY(closedByServer(fd, 3000));
    ::close(fd);
    QCoreApplication::processEvents();
    QCOMPARE(m_spy->count(), ArgHandler::kMaxFramesPerConnection);
    m_spy->clear();
    expectOnly("SetTopLastApp");
}

void TestArgHandler::framesSplitAcrossReads()
{
    // The largest frame, then a small one, cut so that the length, the payload and the boundary between
    // the two frames each arrive in separate reads.
    const QByteArray largest(ArgHandler::kMaxTextBytes, 'x');
    const QByteArray bytes = frame(largest) + frame("after");
    const QList<int> cuts = {2, 4, 1000, 4 + ArgHandler::kMaxTextBytes - 1,
                             4 + ArgHandler::kMaxTextBytes + 3};
    const int fd = connectRaw();
    QVERIFY(fd >= 0);
    int from = 0;
    for (int cut : cuts) {
        QVERIFY(sendRaw(fd, bytes.mid(from, cut - from)));
        from = cut;
        // Let the server read what has come so far before the rest follows.
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (cut < 4 + ArgHandler::kMaxTextBytes)
            QCOMPARE(m_spy->count(), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_spy->count(), 1, 1000);
    QCOMPARE(m_spy->at(0).at(0).toString(), QString::fromLatin1(largest));
    m_spy->clear();
    QVERIFY(sendRaw(fd, bytes.mid(from)));
    QTRY_COMPARE_WITH_TIMEOUT(m_spy->count(), 1, 1000);
    QCOMPARE(m_spy->takeFirst().at(0).toString(), QString("after"));

    // Both frames whole in one write: a full frame in the buffer does not hold back the one behind it.
    const int second = connectRaw();
    QVERIFY(second >= 0);
    QVERIFY(sendRaw(second, bytes));
    ::close(second);
    QTRY_COMPARE_WITH_TIMEOUT(m_spy->count(), 2, 1000);
    QCOMPARE(m_spy->at(0).at(0).toString(), QString::fromLatin1(largest));
    QCOMPARE(m_spy->at(1).at(0).toString(), QString("after"));
    m_spy->clear();
    ::close(fd);
    expectOnly("SetTopLastApp");
}

void TestArgHandler::hugeFrameIsCutOff()
{
    const int fd = connectRaw();
    QVERIFY(fd >= 0);
    std::atomic<bool> done{false};
    std::atomic<qint64> sent{0};
    std::thread writer([&] {
        const QByteArray huge = frame(QByteArray(10 * 1024 * 1024, 'z'));
        const int blocking = ::fcntl(fd, F_GETFL) & ~O_NONBLOCK;
        ::fcntl(fd, F_SETFL, blocking);
        qsizetype offset = 0;
        while (offset < huge.size()) {
            const ssize_t n = ::send(fd, huge.constData() + offset, static_cast<size_t>(huge.size() - offset),
                                     MSG_NOSIGNAL);
            if (n <= 0)
                break;
            offset += n;
        }
        sent = offset;
        done = true;
    });
    // The server ends the connection on the header; the writer sees the pipe break long before 10 MiB.
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 3000);
    writer.join();
    QVERIFY2(sent < 1024 * 1024, qPrintable(QString::number(sent)));
    ::close(fd);
    expectOnly("SetTopLastApp");
}

void TestArgHandler::garbageFrames()
{
    QRandomGenerator random(42);
    for (int i = 0; i < 1000; ++i) {
        const int fd = connectRaw();
        QVERIFY(fd >= 0);
        QByteArray garbage(4 + static_cast<int>(random.bounded(60)), '\0');
        for (char &c : garbage)
            c = static_cast<char>(random.bounded(256));
        sendRaw(fd, garbage);
        ::close(fd);
        if (i % 32 == 0)
            QCoreApplication::processEvents();
    }
    expectOnly("SetTopLastApp", 3000);
}

void TestArgHandler::silentClientsDoNotStall()
{
    std::vector<int> silent;
    for (int i = 0; i < 50; ++i) {
        const int fd = connectRaw();
        QVERIFY(fd >= 0);
        silent.push_back(fd);
    }
    QElapsedTimer timer;
    timer.start();
    expectOnly("SetTopLastApp");
    QVERIFY(timer.elapsed() < ArgHandler::kReadTimeoutMs);
    // The rest are dropped after the read timeout.
    for (int fd : silent) {
        QVERIFY(closedByServer(fd, ArgHandler::kReadTimeoutMs + 2000));
        ::close(fd);
    }
    expectOnly("CloseApp");
}

void TestArgHandler::truncatedFrame()
{
    // The peer closes in the middle of a frame.
    int fd = connectRaw();
    QVERIFY(sendRaw(fd, frame(QByteArray(50, 'a'), 100)));
    ::close(fd);
    // The peer stops in the middle of a frame and stays.
    fd = connectRaw();
    QVERIFY(sendRaw(fd, frame(QByteArray(50, 'b'), 100)));
    expectOnly("SetTopLastApp");
    QVERIFY(closedByServer(fd, ArgHandler::kReadTimeoutMs + 2000));
    ::close(fd);
    // Only part of the length.
    fd = connectRaw();
    QVERIFY(sendRaw(fd, QByteArray("\0\0", 2)));
    ::close(fd);
    expectOnly("CloseApp");
}

void TestArgHandler::malformedFrames()
{
    const QList<QByteArray> bad = {QByteArray("\xC0\xAF"), QByteArray("\xED\xA0\x80"),
                                   QByteArray("ok\xF4\x90\x80\x80"), QByteArray("abc\xE2\x82")};
    for (const QByteArray &payload : bad) {
        const int fd = connectRaw();
        QVERIFY(sendRaw(fd, frame(payload) + frame("after")));
        QVERIFY(closedByServer(fd, 3000));
        ::close(fd);
    }
    const int fd = connectRaw();
    QVERIFY(sendRaw(fd, frame(QByteArray()) + frame("after")));
    QVERIFY(closedByServer(fd, 3000));
    ::close(fd);
    // Nothing from the bad connections, not even the good frame behind the bad one.
    expectOnly("SetTopLastApp");
}

void TestArgHandler::otherUserCannotConnect()
{
    if (::getuid() != 0) {
        // Without root the folder's permissions are what keeps others out.
        struct stat st;
        QCOMPARE(::stat(QFileInfo(ArgHandler::socketPath()).path().toLocal8Bit().constData(), &st), 0);
        QCOMPARE(st.st_mode & 077, 0u);
        return;
    }
    const sockaddr_un address = relayAddress();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        ::_exit(rc == 0 ? 1 : (errno == EACCES ? 0 : 3));
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    expectOnly("SetTopLastApp");
}

namespace {
// The texts that arrive, each with the activation token the receiver could use while it handled it.
struct TokenRecorder
{
    QStringList texts;
    QStringList tokens;
    QMetaObject::Connection connection;
    TokenRecorder()
    {
        connection =
            QObject::connect(&ArgHandler::instance(), &ArgHandler::active, [this](const QString &text) {
                texts << text;
                tokens << WaylandActivation::pendingToken();
            });
    }
    ~TokenRecorder() { QObject::disconnect(connection); }
};
} // namespace

void TestArgHandler::activationTokenTravelsWithItsText()
{
    TokenRecorder recorder;
    const int fd = connectRaw();
    QVERIFY(sendRaw(fd, frame(ArgHandler::tokenPayload("tok-1_ABC.x")) + frame("SetTopLastApp") +
                            frame("CloseApp")));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.texts.size(), 2, 3000);
    ::close(fd);
    QCOMPARE(recorder.texts, QStringList({"SetTopLastApp", "CloseApp"}));
    // The token is good for the text after it, and only while that text is handled.
    QCOMPARE(recorder.tokens, QStringList({"tok-1_ABC.x", QString()}));
    QVERIFY(WaylandActivation::pendingToken().isEmpty());
    m_spy->clear();
}

void TestArgHandler::launchTokenIsTakenOnce()
{
    TokenRecorder recorder;
    qputenv("XDG_ACTIVATION_TOKEN", "launcher-token-42");
    expectOnly("SetTopLastApp");
    QCOMPARE(recorder.tokens, QStringList({"launcher-token-42"}));
    // Programs started later do not inherit it, and the next text goes without it.
    QVERIFY(!qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    expectOnly("SetTopLastApp");
    QCOMPARE(recorder.tokens, QStringList({"launcher-token-42", QString()}));
    // A value that is no token is not passed on; the text still is.
    qputenv("XDG_ACTIVATION_TOKEN", "two words");
    expectOnly("SetTopLastApp");
    QCOMPARE(recorder.tokens.last(), QString());
    QVERIFY(!qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
}

void TestArgHandler::malformedTokenFrames()
{
    QVERIFY(ArgHandler::tokenPayload(QString()).isEmpty());
    QVERIFY(ArgHandler::tokenPayload("a b").isEmpty());
    QVERIFY(ArgHandler::tokenPayload(QString(WaylandActivation::kMaxTokenBytes + 1, 'x')).isEmpty());
    QVERIFY(ArgHandler::tokenPayload(QString::fromUtf8("t\xC3\xBC")).isEmpty());
    QVERIFY(!ArgHandler::tokenPayload(QString(WaylandActivation::kMaxTokenBytes, 'x')).isEmpty());

    const QByteArray marker(ArgHandler::kTokenMarker);
    const QList<QByteArray> bad = {marker,           marker + "with space", marker + QByteArray(256, 'x'),
                                   marker + "tab\t", marker + "del\x7F",    marker + "\xC3\xBC"};
    for (const QByteArray &payload : bad) {
        const int fd = connectRaw();
        QVERIFY(sendRaw(fd, frame(payload) + frame("SetTopLastApp")));
        QVERIFY(closedByServer(fd, 3000));
        ::close(fd);
    }
    // Nothing from the bad connections, not even the text behind the bad token.
    expectOnly("CloseApp");
    QVERIFY(WaylandActivation::pendingToken().isEmpty());
}

void TestArgHandler::closeRemovesOwnSocket()
{
    const QString path = ArgHandler::socketPath();
    QVERIFY(QFile::exists(path));
    ArgHandler::instance().close();
    QVERIFY(!QFile::exists(path));
    // A second close has nothing left to do, and the relay can be brought up again.
    ArgHandler::instance().close();
    QVERIFY(ArgHandler::instance().listen());
    QVERIFY(QFile::exists(path));
    expectOnly("SetTopLastApp");
}

void TestArgHandler::closeLeavesSocketOfAnotherInstance()
{
    // Another instance removed our file and listens under the same name.
    const QByteArray path = ArgHandler::socketPath().toLocal8Bit();
    QCOMPARE(::unlink(path.constData()), 0);
    const int other = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = relayAddress();
    QCOMPARE(::bind(other, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(other, 4), 0);
    struct stat before;
    QCOMPARE(::lstat(path.constData(), &before), 0);
    ArgHandler::instance().close();
    struct stat after;
    const int rc = ::lstat(path.constData(), &after);
    ::close(other);
    ::unlink(path.constData());
    QCOMPARE(rc, 0);
    QCOMPARE(after.st_ino, before.st_ino);
}

QTEST_GUILESS_MAIN(TestArgHandler)
#include "ArgHandlerTest.moc"
