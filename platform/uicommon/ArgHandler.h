#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// Carries a text (at most 4 KiB of UTF-8) from a later process to the instance that listens, through a
// local socket in the user-private runtime folder.
class ArgHandler : public QObject
{
    Q_OBJECT
public:
    static ArgHandler &instance();

    // Sends the text to the listening instance; returns at once when none listens and never blocks the
    // caller for more than kSendBoundMs (connect, write and flush together). Texts that are empty, longer
    // than kMaxTextBytes in UTF-8 or not valid are refused with a trace.
    void setArg(const QString &text);
    // Listens on the relay socket; false, with a trace, when the socket cannot be had (another live
    // instance listens and this process holds no launcher registration, or the runtime folder is refused).
    bool listen();
    // At a clean exit: removes the socket file this instance created, and only that file (one that
    // another instance put in its place since is left alone). Call it before the launcher registration
    // is dropped, so that no newcomer takes over in between.
    void close();
    // Where the relay socket lives; empty when the runtime folder cannot be used.
    static QString socketPath();
    // A frame's payload is acceptable: 1..kMaxTextBytes bytes of well-formed UTF-8 (no overlong forms,
    // no surrogates, nothing above U+10FFFF).
    static bool isValidText(const QByteArray &utf8);

    // What the front of a receive buffer holds.
    enum class Frame
    {
        Incomplete, // more bytes are needed; the buffer is left as it is
        Text,       // a whole valid frame: its payload is taken off the buffer
        BadLength,  // the announced length is 0 or above kMaxTextBytes
        BadText,    // the payload is not acceptable text; the frame is taken off the buffer
    };
    // Reads one frame (4-byte big-endian length, then the payload) off the front of the buffer. length
    // receives the announced length once the 4 length bytes are there.
    static Frame takeFrame(QByteArray &buffer, QByteArray &payload, quint32 *length = nullptr);
    // The text of an accepted payload with every character kept, NULs and a leading U+FEFF included.
    static QString frameText(const QByteArray &payload);

    // A frame whose payload is kTokenMarker followed by an activation token (WaylandActivation) hands
    // that token to the text that follows it on the same connection. An instance that does not know
    // the marker sees a text that nothing acts on.
    static const char kTokenMarker[];
    // The payload of a token frame for the token; empty when the token is not a valid one.
    static QByteArray tokenPayload(const QString &token);

    // Limits of the relay, shared by both ends.
    static constexpr int kMaxTextBytes = 4096;
    static constexpr int kReadTimeoutMs = 2000;
    static constexpr int kSendBoundMs = 500;
    static constexpr int kMaxConnections = 16;
    static constexpr int kMaxFramesPerConnection = 4;

signals:
    void active(QString text);

private:
    ArgHandler();
    ~ArgHandler() override;
    struct Private;
    std::unique_ptr<Private> d;
    // Identity of the socket file this instance created; both 0 while it owns none.
    quint64 m_socketDevice = 0;
    quint64 m_socketInode = 0;
};
