#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

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
    // Where the relay socket lives; empty when the runtime folder cannot be used.
    static QString socketPath();
    // A frame's payload is acceptable: 1..kMaxTextBytes bytes of well-formed UTF-8 (no overlong forms,
    // no surrogates, nothing above U+10FFFF).
    static bool isValidText(const QByteArray &utf8);

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
    QLocalServer *m_server = nullptr;
    Private *d = nullptr;
};
