#pragma once

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
    // caller for more than a short bound.
    void setArg(const QString &text);
    bool listen();

signals:
    void active(QString text);

private:
    ArgHandler();
    ~ArgHandler() override;
    QLocalServer *m_server = nullptr;
};
