// A minimal StatusNotifierWatcher with a host registered, as a desktop panel provides it. Each
// item that registers is logged on standard output ("registered <service> <path>"), then activated
// with a click and a context request, as the panel does when the user clicks the item.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>
#include <QTimer>

#include <cstdio>

class SniWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString &serviceOrPath)
    {
        QString service = serviceOrPath;
        QString path = QStringLiteral("/StatusNotifierItem");
        if (serviceOrPath.startsWith(QLatin1Char('/'))) {
            service = message().service();
            path = serviceOrPath;
        }
        m_items << service + path;
        std::printf("registered %s %s\n", qPrintable(service), qPrintable(path));
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(service + path);

        QTimer::singleShot(300, this, [service, path]() { call(service, path, "Activate"); });
        QTimer::singleShot(600, this, [service, path]() { call(service, path, "ContextMenu"); });
    }
    void RegisterStatusNotifierHost(const QString &) {}

signals:
    void StatusNotifierItemRegistered(const QString &item);
    void StatusNotifierItemUnregistered(const QString &item);
    void StatusNotifierHostRegistered();

private:
    static void call(const QString &service, const QString &path, const char *method)
    {
        QDBusMessage request = QDBusMessage::createMethodCall(service, path, "org.kde.StatusNotifierItem",
                                                              QString::fromLatin1(method));
        request << 10 << 10;
        const QDBusMessage reply = QDBusConnection::sessionBus().call(request, QDBus::Block, 5000);
        std::printf("%s %s\n", method, reply.type() == QDBusMessage::ErrorMessage ? "failed" : "sent");
        std::fflush(stdout);
    }

    QStringList m_items;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    SniWatcher watcher;
    if (!bus.registerObject("/StatusNotifierWatcher", &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService("org.kde.StatusNotifierWatcher")) {
        std::fprintf(stderr, "cannot register the watcher\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "SniWatcher.moc"
