#include "ServiceModule.h"

#include "ETLLib.h"
#include "UtilityLib.h"
#include "uCTraceHelper.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList traceTexts(const QString &docPath)
{
    QStringList texts;
    QFile file(docPath + "/log/tarn-desktop.log");
    if (!file.open(QIODevice::ReadOnly)) {
        return texts;
    }
    const QRegularExpression shape("^\\S+ \\S+ \\d+:\\d+ (\\S+) (.*)$");
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = shape.match(QString::fromUtf8(line));
        if (match.hasMatch()) {
            texts << match.captured(1) + " " + match.captured(2);
        }
    }
    return texts;
}

bool isMapped(const QString &fileName)
{
    QFile maps("/proc/self/maps");
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(fileName.toUtf8());
}

} // namespace

class ServiceModuleTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        etlSetAppDocPath(m_dir->path().toStdString());
        uCTraceHelper::getInstance().RedirectToShareMemory();
    }

    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    void loadStartsAndDestructionStopsAndUnloads()
    {
        {
            ServiceModule module;
            QVERIFY(!module.IsLoaded());
            QVERIFY(module.LoadService("GoodService.dll", false));
            QVERIFY(module.IsLoaded());
            QCOMPARE(module.name(), std::string("GoodService.dll"));
            QVERIFY(isMapped("libGoodService.so"));
            QCOMPARE(traceTexts(m_dir->path()), QStringList{"N:TestService GoodService start"});
            // A second load on the same object is refused and leaves the first one running.
            QVERIFY(!module.LoadService("GoodService.dll", false));
            QVERIFY(module.IsLoaded());
        }
        QVERIFY(!isMapped("libGoodService.so"));
        const QStringList texts = traceTexts(m_dir->path());
        QCOMPARE(texts.first(), QString("N:TestService GoodService start"));
        QCOMPARE(texts.last(), QString("N:TestService GoodService stop"));
        QCOMPARE(texts.filter("GoodService stop").size(), 1);
    }

    void failedLoadsAreReportedAndDestroyQuietly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("library");
        QTest::addColumn<bool>("started");
        QTest::newRow("missing library") << "NoSuchService.dll"
                                         << "libNoSuchService.so" << false;
        QTest::newRow("no stop entry") << "NoStopService.dll"
                                       << "libNoStopService.so" << false;
        QTest::newRow("start reports failure") << "FailingService.dll"
                                               << "libFailingService.so" << true;
    }

    void failedLoadsAreReportedAndDestroyQuietly()
    {
        QFETCH(QString, name);
        QFETCH(QString, library);
        QFETCH(bool, started);
        {
            ServiceModule module;
            QVERIFY(!module.LoadService(name.toStdString(), false));
            QVERIFY(!module.IsLoaded());
            QVERIFY(!isMapped(library));
        }
        const QStringList texts = traceTexts(m_dir->path());
        QCOMPARE(texts.filter("W:Service").size(), 1);
        QCOMPARE(texts.filter("N:TestService").filter(" start").size(), started ? 1 : 0);
        // Nothing that did not start is ever stopped.
        QCOMPARE(texts.filter("N:TestService").filter(" stop").size(), 0);
    }

    void unusedModuleDestroysQuietly()
    {
        {
            ServiceModule module;
        }
        QVERIFY(traceTexts(m_dir->path()).isEmpty());
    }

    void shippedModulesTraceThroughTheExecutable()
    {
        // The modules carry no trace code of their own: their lines land in this process's log.
        const QString root = qEnvironmentVariable("TARN_TEST_ROOT");
        {
            ServiceModule trace;
            ServiceModule network;
            QVERIFY(trace.LoadService((root + "/libTraceD.so").toStdString(), false));
            QVERIFY(network.LoadService((root + "/libNetworkD.so").toStdString(), false));
        }
        QCOMPARE(traceTexts(m_dir->path()),
                 (QStringList{"N:TraceD TraceD service start", "N:NetworkD NetworkD service start",
                              "N:NetworkD NetworkD service stop", "N:TraceD TraceD service stop"}));
    }

    void productVersion()
    {
        QCOMPARE(QString::fromStdString(GetProductVersion()), QString(EXPECTED_VERSION));
        QVERIFY(QRegularExpression("^\\d+(\\.\\d+){1,3}$")
                    .match(QString::fromStdString(GetProductVersion()))
                    .hasMatch());
    }
};

QTEST_GUILESS_MAIN(ServiceModuleTest)
#include "ServiceModuleTest.moc"
