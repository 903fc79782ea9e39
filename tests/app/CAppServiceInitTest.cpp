#include "CAppServiceInit.h"

#include "ServiceModule.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class CAppServiceInitTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_log;

    QStringList recorded() const
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("probe.log"));
        qputenv("TARN_SERVICE_PROBE_LOG", m_log.toUtf8());
    }
    void init() { QFile::remove(m_log); }

    void failedLoadIsKeptAndUnloadedLastFirst()
    {
        Main_APP::CAppServiceInit loader;
        loader.AddService("ProbeFirst.dll");
        loader.AddService("NoSuchServiceAnywhere.dll");
        loader.AddService("ProbeSecond.dll");

        QCOMPARE(int(loader.services().size()), 3);
        const std::vector<ServiceModule *> listed(loader.services().begin(), loader.services().end());
        QVERIFY(listed[0]->IsLoaded());
        QVERIFY(!listed[1]->IsLoaded());
        QVERIFY(listed[2]->IsLoaded());
        QCOMPARE(recorded(), QStringList({"start ProbeFirst", "start ProbeSecond"}));

        loader.UnloadServices();
        QVERIFY(loader.services().empty());
        QCOMPARE(recorded(), QStringList({"start ProbeFirst", "start ProbeSecond", "stop ProbeSecond",
                                          "stop ProbeFirst"}));

        // A second call, and the destructor after it, find nothing left to unload.
        loader.UnloadServices();
        QVERIFY(loader.services().empty());
        QCOMPARE(recorded().size(), 4);
    }

    void destructorUnloadsWhatIsLeft()
    {
        {
            Main_APP::CAppServiceInit loader;
            loader.AddService("ProbeFirst.dll");
            loader.AddService("ProbeSecond.dll");
        }
        QCOMPARE(recorded(), QStringList({"start ProbeFirst", "start ProbeSecond", "stop ProbeSecond",
                                          "stop ProbeFirst"}));
    }

    void nullNameIsAFailedLoad()
    {
        Main_APP::CAppServiceInit loader;
        loader.AddService(nullptr);
        QCOMPARE(int(loader.services().size()), 1);
        QVERIFY(!loader.services().front()->IsLoaded());
    }
};

QTEST_APPLESS_MAIN(CAppServiceInitTest)
#include "CAppServiceInitTest.moc"
