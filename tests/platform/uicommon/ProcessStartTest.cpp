#include "UICommon.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <vector>

namespace {

// A writable command line, as the Windows call wants it.
std::vector<char> commandLine(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::vector<char> buffer(512, '\0');
    std::memcpy(buffer.data(), bytes.constData(), std::min<size_t>(bytes.size(), buffer.size() - 1));
    return buffer;
}

BOOL start(std::vector<char> &line)
{
    return AutoCreateProcessInJobA(nullptr, line.data(), nullptr, nullptr, 0, CREATE_NO_WINDOW, nullptr,
                                   nullptr);
}

} // namespace

class TestProcessStart : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void refusesEmptyCommandLines()
    {
        SetLastError(0);
        QCOMPARE(AutoCreateProcessInJobA(nullptr, nullptr, nullptr, nullptr, 0, CREATE_NO_WINDOW, nullptr,
                                         nullptr),
                 FALSE);
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        char empty[1] = {'\0'};
        QCOMPARE(
            AutoCreateProcessInJobA(nullptr, empty, nullptr, nullptr, 0, CREATE_NO_WINDOW, nullptr, nullptr),
            FALSE);
    }

    void reportsAMissingProgram()
    {
        auto line = commandLine(m_dir.path() + "/no-such-program --flag");
        QCOMPARE(start(line), FALSE);
        QVERIFY(GetLastError() != 0);
    }

    // The child records its pid and what its standard input is; it must run, see /dev/null, and be
    // reaped once it ends even though no handle to it is kept.
    void startsARealProgramAndLeavesNoZombie()
    {
        QVERIFY(m_dir.isValid());
        const QString out = m_dir.path() + "/child.txt";
        auto line =
            commandLine(QString("/bin/sh -c \"echo $$ > '%1.tmp'; readlink /proc/$$/fd/0 >> '%1.tmp'; "
                                "mv '%1.tmp' '%1'\"")
                            .arg(out));
        QCOMPARE(start(line), TRUE);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 5000);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QVERIFY(lines.size() >= 2);
        const qint64 pid = lines[0].toLongLong();
        QVERIFY(pid > 0);
        QCOMPARE(lines[1], QByteArray("/dev/null"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QString("/proc/%1").arg(pid)), 5000);
    }
};

QTEST_GUILESS_MAIN(TestProcessStart)
#include "ProcessStartTest.moc"
