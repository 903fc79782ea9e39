#include "TarnApplication.h"

#include "ETLLib.h"
#include "TraceLogReader.h"
#include "UICommon.h"

#include <QKeyEvent>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

#include <vector>

namespace {

// A scripted tick counter: each read returns the next value.
std::vector<DWORD> g_ticks;
size_t g_tickIndex = 0;
DWORD scriptedTick()
{
    return g_tickIndex < g_ticks.size() ? g_ticks[g_tickIndex++] : (g_ticks.empty() ? 0 : g_ticks.back());
}

class KeyRecorder : public QWidget
{
public:
    int presses = 0;
    int releases = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        ++presses;
        event->accept();
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        ++releases;
        event->accept();
    }
};

// Deletes itself while handling its event, as an object does on DeferredDelete.
class SelfDeleting : public QWidget
{
protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User) {
            delete this;
            return true;
        }
        return QWidget::event(event);
    }
};

} // namespace

class TarnApplicationTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        g_ticks.clear();
        g_tickIndex = 0;
    }
    void cleanup() { TarnApplication::setTickSource(nullptr); }

    void slowDispatchThreshold_data()
    {
        QTest::addColumn<uint>("start");
        QTest::addColumn<uint>("end");
        QTest::addColumn<int>("expectedSpan"); // -1: no trace

        QTest::newRow("exactly 1000 ms") << 100u << 1100u << -1;
        QTest::newRow("1001 ms") << 100u << 1101u << 1001;
        QTest::newRow("instant") << 5000u << 5000u << -1;
        // Across the wrap the span is the true elapsed time: 11 ms before it plus the ticks after it.
        QTest::newRow("wrap, 1000 ms") << 4294967285u << 989u << -1;
        QTest::newRow("wrap, 1001 ms") << 4294967285u << 990u << 1001;
        QTest::newRow("wrap at the last tick") << 4294967295u << 1001u << 1002;
    }
    void slowDispatchThreshold()
    {
        QFETCH(uint, start);
        QFETCH(uint, end);
        QFETCH(int, expectedSpan);

        QObject receiver;
        receiver.setObjectName(QStringLiteral("timedReceiver"));
        g_ticks = {start, end};
        TarnApplication::setTickSource(&scriptedTick);
        const qint64 mark = TraceLogReader::mark();

        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&receiver, &event);
        TarnApplication::setTickSource(nullptr);

        QCOMPARE(g_tickIndex, size_t(2));
        const QStringList lines =
            TraceLogReader::textsSince(mark).filter(QStringLiteral("Single Event Call"));
        if (expectedSpan < 0) {
            QVERIFY2(lines.isEmpty(), qPrintable(lines.join('\n')));
        } else {
            QCOMPARE(lines.size(), 1);
            QCOMPARE(lines.first(),
                     QStringLiteral("W:Demo Single Event Call over 1 second, ObjectName timedReceiver, "
                                    "Classname QObject, event type %1, timeSpan %2 ")
                         .arg(int(QEvent::User))
                         .arg(expectedSpan));
        }
    }

    void nullReceiverAndEvent()
    {
        TarnApplication::setTickSource(&scriptedTick);
        const qint64 mark = TraceLogReader::mark();

        g_ticks = {0, 2000};
        QEvent event(QEvent::User);
        QTest::ignoreMessage(QtWarningMsg, "QApplication::notify: Unexpected null receiver");
        qApp->notify(nullptr, &event);

        QObject receiver;
        receiver.setObjectName(QStringLiteral("named"));
        g_ticks = {0, 3000};
        g_tickIndex = 0;
        QCOMPARE(qApp->notify(&receiver, nullptr), false);

        const QStringList lines =
            TraceLogReader::textsSince(mark).filter(QStringLiteral("Single Event Call"));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(
            lines.at(0).endsWith(QStringLiteral("ObjectName , Classname , event type 1000, timeSpan 2000 ")),
            qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).endsWith(
                     QStringLiteral("ObjectName named, Classname QObject, event type -1, timeSpan 3000 ")),
                 qPrintable(lines.at(1)));
    }

    void receiverGoneAfterASlowDispatch()
    {
        // The trace names what was sent to, although that object no longer exists when it is written.
        SelfDeleting *receiver = new SelfDeleting;
        receiver->setObjectName(QStringLiteral("shortLived"));
        g_ticks = {100, 1600};
        TarnApplication::setTickSource(&scriptedTick);
        const qint64 mark = TraceLogReader::mark();
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(receiver, &event);

        const QStringList lines =
            TraceLogReader::textsSince(mark).filter(QStringLiteral("Single Event Call"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(
            lines.first().endsWith(QStringLiteral("ObjectName shortLived, Classname QWidget, event type %1, "
                                                  "timeSpan 1500 ")
                                       .arg(int(QEvent::User))),
            qPrintable(lines.first()));
    }

    void f10PressAnnouncedAndDelivered()
    {
        KeyRecorder widget;
        QSignalSpy spy(qApp, SIGNAL(signalReloadTheme()));

        QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &press);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(widget.presses, 1);

        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(&widget, &repeat);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(widget.presses, 2);

        QKeyEvent release(QEvent::KeyRelease, Qt::Key_F10, Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &release);
        QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_F10, Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &shortcut);
        QKeyEvent other(QEvent::KeyPress, Qt::Key_F9, Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &other);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(widget.releases, 1);
        QCOMPARE(widget.presses, 3);
    }

    void reloadRunsBeforeTheTiming()
    {
        // A slow reload must not be counted in the span of the press that triggered it.
        QObject receiver;
        g_ticks = {10, 20};
        TarnApplication::setTickSource(&scriptedTick);
        int ticksReadInReload = -1;
        QMetaObject::Connection c =
            QObject::connect(static_cast<TarnApplication *>(qApp), &TarnApplication::signalReloadTheme,
                             [&]() { ticksReadInReload = int(g_tickIndex); });
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
        qApp->notify(&receiver, &press);
        QObject::disconnect(c);
        QCOMPARE(ticksReadInReload, 0);
        QVERIFY(g_tickIndex >= 2);
    }

    void metaObject()
    {
        const QMetaObject *meta = qApp->metaObject();
        QCOMPARE(meta->className(), "TarnApplication");
        QCOMPARE(meta->superClass(), &QApplication::staticMetaObject);
        QCOMPARE(meta->methodCount() - meta->methodOffset(), 1);
        QCOMPARE(meta->method(meta->methodOffset()).methodSignature(), QByteArray("signalReloadTheme()"));
        QCOMPARE(meta->method(meta->methodOffset()).methodType(), QMetaMethod::Signal);
        QVERIFY(qApp->qt_metacast("TarnApplication") == qApp);
        QVERIFY(qApp->qt_metacast(nullptr) == nullptr);
    }
};

int main(int argc, char *argv[])
{
    etlSetAppDocPath(getAppDocPath());
    TarnApplication app(argc, argv);
    TarnApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TarnApplicationTest.moc"
