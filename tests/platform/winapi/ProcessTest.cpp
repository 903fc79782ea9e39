#include "cvstl.h"
#include "winapi.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// The fields a probe wrote, in order; empty when it did not write within the time.
QList<QPair<QString, QString>> readProbe(const QString &path, int timeoutMs = 10000)
{
    if (!QTest::qWaitFor([&path] { return QFile::exists(path); }, timeoutMs)) {
        return {};
    }
    QList<QPair<QString, QString>> fields;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fields;
    }
    for (const QByteArray &entry : file.readAll().split('\0')) {
        const int equals = entry.indexOf('=');
        if (equals > 0) {
            fields.append({QString::fromUtf8(entry.left(equals)), QString::fromUtf8(entry.mid(equals + 1))});
        }
    }
    return fields;
}

QStringList values(const QList<QPair<QString, QString>> &fields, const QString &key)
{
    QStringList found;
    for (const auto &field : fields) {
        if (field.first == key) {
            found << field.second;
        }
    }
    return found;
}

QString value(const QList<QPair<QString, QString>> &fields, const QString &key)
{
    const QStringList found = values(fields, key);
    return found.isEmpty() ? QString() : found.first();
}

// Children of this process that are zombies right now.
QStringList zombieChildren()
{
    QStringList zombies;
    const QString self = QString::number(getpid());
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (close < 0) {
            continue;
        }
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() > 1 && rest[0] == "Z" && rest[1] == self.toLatin1()) {
            zombies << entry;
        }
    }
    return zombies;
}

bool noZombieWithin(int timeoutMs)
{
    return QTest::qWaitFor([] { return zombieChildren().isEmpty(); }, timeoutMs) ||
           zombieChildren().isEmpty();
}

QString quoted(const QString &text)
{
    return "\"" + text + "\"";
}

} // namespace

class ProcessTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_out;

    bool start(QString commandLine, DWORD flags, PROCESS_INFORMATION *info, const char *directory = nullptr)
    {
        QByteArray line = commandLine.toUtf8();
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, directory,
                              nullptr, info);
    }

private slots:
    void init()
    {
        static int counter = 0;
        m_out = m_dir.path() + "/probe-" + QString::number(++counter) + ".out";
        qputenv("TARN_PROBE_OUT", m_out.toUtf8());
        qunsetenv("TARN_PROBE_EXIT");
    }

    void argumentsArriveLiterallyWithoutAShell()
    {
        PROCESS_INFORMATION info = {};
        const QString commandLine = quoted(PROBE_PATH) +
                                    " \"with blank\" quote\\\"inside $HOME ; \"semi;colon\" `id` a\\\\b \"\" "
                                    "'single' *";
        QVERIFY(start(commandLine, CREATE_NO_WINDOW, &info));
        QVERIFY(info.hProcess);
        QCOMPARE(info.dwProcessId, info.dwThreadId);
        QVERIFY(info.dwProcessId > 0);
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        DWORD code = 1234;
        QVERIFY(GetExitCodeProcess(info.hProcess, &code));
        QCOMPARE(code, DWORD(0));
        const auto fields = readProbe(m_out);
        QCOMPARE(values(fields, "arg"), (QStringList{"with blank", "quote\"inside", "$HOME", ";",
                                                     "semi;colon", "`id`", "a\\\\b", "", "'single'", "*"}));
        QVERIFY(CloseHandle(info.hProcess));
        QVERIFY(noZombieWithin(5000));
    }

    void noWindowPutsStreamsOnDevNullAndClosesStrayDescriptors()
    {
        // A descriptor without close-on-exec must still not reach the child.
        const int stray = open("/dev/null", O_RDONLY);
        QVERIFY(stray > 2);
        PROCESS_INFORMATION info = {};
        QVERIFY(start(quoted(PROBE_PATH), CREATE_NO_WINDOW, &info));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        close(stray);
        const auto fields = readProbe(m_out);
        QCOMPARE(value(fields, "stdin"), QString("/dev/null"));
        QCOMPARE(value(fields, "stdout"), QString("/dev/null"));
        QCOMPARE(value(fields, "stderr"), QString("/dev/null"));
        QCOMPARE(value(fields, "extra"), QString());
        QVERIFY(CloseHandle(info.hProcess));

        // Without the flag the child shares this process's standard output.
        QFile::remove(m_out);
        QVERIFY(start(quoted(PROBE_PATH), 0, &info));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        char own[4096] = {};
        QVERIFY(readlink("/proc/self/fd/1", own, sizeof(own) - 1) > 0);
        QCOMPARE(value(readProbe(m_out), "stdout"), QString::fromLocal8Bit(own));
        QVERIFY(CloseHandle(info.hProcess));
    }

    void exitCodeAndWaiting()
    {
        qputenv("TARN_PROBE_EXIT", "7");
        PROCESS_INFORMATION info = {};
        QVERIFY(start(quoted(PROBE_PATH), CREATE_NO_WINDOW, &info));
        QCOMPARE(WaitForSingleObject(info.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
        DWORD code = 0;
        QVERIFY(GetExitCodeProcess(info.hProcess, &code));
        QCOMPARE(code, DWORD(7));
        QVERIFY(CloseHandle(info.hProcess));
        QVERIFY(!CloseHandle(info.hProcess));

        // A running child reports STILL_ACTIVE and a timed wait runs out.
        QVERIFY(start("/bin/sleep 1", CREATE_NO_WINDOW, &info));
        QVERIFY(GetExitCodeProcess(info.hProcess, &code));
        QCOMPARE(code, DWORD(STILL_ACTIVE));
        QCOMPARE(WaitForSingleObject(info.hProcess, 10), DWORD(WAIT_TIMEOUT));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        QVERIFY(CloseHandle(info.hProcess));
        QCOMPARE(WaitForSingleObject(info.hProcess, 0), DWORD(WAIT_FAILED));
    }

    void noZombieWhenNobodyKeepsTheHandle()
    {
        QVERIFY(start(quoted(PROBE_PATH), CREATE_NO_WINDOW, nullptr));
        QVERIFY(!readProbe(m_out).isEmpty());
        QVERIFY2(noZombieWithin(5000), qPrintable(zombieChildren().join(' ')));

        // Handle closed while the child still runs: it is reaped when it ends all the same.
        PROCESS_INFORMATION info = {};
        QVERIFY(start("/bin/sleep 0.2", CREATE_NO_WINDOW, &info));
        const QString pid = QString::number(info.dwProcessId);
        QVERIFY(CloseHandle(info.hProcess));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists("/proc/" + pid), 5000);
        QVERIFY(noZombieWithin(5000));
    }

    void exeSuffixFallback()
    {
        const QString folder = m_dir.path() + "/fallback";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(PROBE_PATH, folder + "/tool.exe"));
        PROCESS_INFORMATION info = {};
        QVERIFY(start(quoted(folder + "/tool") + " x", CREATE_NO_WINDOW, &info));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        auto fields = readProbe(m_out);
        QCOMPARE(value(fields, "exe"), folder + "/tool.exe");
        QCOMPARE(values(fields, "arg"), QStringList{"x"});
        QVERIFY(CloseHandle(info.hProcess));

        // The name as given wins when it exists.
        QVERIFY(QFile::copy(PROBE_PATH, folder + "/tool"));
        QFile::remove(m_out);
        QVERIFY(start(quoted(folder + "/tool"), CREATE_NO_WINDOW, &info));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        QCOMPARE(value(readProbe(m_out), "exe"), folder + "/tool");
        QVERIFY(CloseHandle(info.hProcess));

        // A name with an extension is never extended.
        QVERIFY(!start(quoted(folder + "/tool.bin"), CREATE_NO_WINDOW, &info));
        QCOMPARE(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    }

    void applicationNameDirectoryAndEnvironment()
    {
        const QByteArray environment =
            "TARN_PROBE_OUT=" + m_out.toUtf8() + '\0' + "TARN_PROBE_MARK=block" + '\0' + '\0';
        QByteArray line = "first second";
        const QByteArray program = QByteArray(PROBE_PATH);
        PROCESS_INFORMATION info = {};
        QVERIFY(CreateProcessA(program.constData(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               const_cast<char *>(environment.constData()), m_dir.path().toUtf8().constData(),
                               nullptr, &info));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        const auto fields = readProbe(m_out);
        QCOMPARE(values(fields, "arg"), QStringList{"second"});
        QCOMPARE(value(fields, "mark"), QString("block"));
        QCOMPARE(value(fields, "cwd"), QDir(m_dir.path()).canonicalPath());
        QVERIFY(CloseHandle(info.hProcess));
    }

    void failuresAreReported()
    {
        PROCESS_INFORMATION info = {};
        QVERIFY(!start(quoted(m_dir.path() + "/missing"), CREATE_NO_WINDOW, &info));
        QCOMPARE(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        QVERIFY(!start("", CREATE_NO_WINDOW, &info));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        QVERIFY(
            !CreateProcessA(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info));

        // Not executable.
        const QString plain = m_dir.path() + "/plain";
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        QVERIFY(!start(quoted(plain), CREATE_NO_WINDOW, &info));
        QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

        // Executable text without an interpreter line: refused, never handed to a shell.
        const QString marker = m_dir.path() + "/shell-ran";
        const QString script = m_dir.path() + "/noshebang";
        QFile text(script);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(("touch '" + marker + "'\n").toUtf8());
        text.close();
        QVERIFY(text.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!start(quoted(script), CREATE_NO_WINDOW, &info));
        QCOMPARE(GetLastError(), DWORD(ERROR_BAD_FORMAT));
        QThread::msleep(200);
        QVERIFY(!QFile::exists(marker));
        QVERIFY(noZombieWithin(5000));
    }

    void shellExecuteStartsAScriptWithLiteralParameters()
    {
        // The installer removal call: a Windows-style path, "/x {code}" parameters.
        const QString folder = m_dir.path() + "/sys32";
        QVERIFY(QDir().mkpath(folder));
        const QString script = folder + "/msiexec.exe";
        const QString out = m_dir.path() + "/msiexec.args";
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out + ".part'\nmv '" +
                    out + ".part' '" + out + "'\n")
                       .toUtf8());
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        const std::wstring path = cv::string_utf8_to_wstring((folder + "\\msiexec.exe").toStdString());
        const std::wstring parameters = L"/x {ABC;rm -rf}";
        SHELLEXECUTEINFOW info = {};
        info.cbSize = 60;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = path.c_str();
        info.lpParameters = parameters.c_str();
        info.nShow = SW_SHOW;
        QVERIFY(ShellExecuteExW(&info));
        QCOMPARE(reinterpret_cast<intptr_t>(info.hInstApp), intptr_t(33));
        QVERIFY(info.hProcess);
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        QVERIFY(CloseHandle(info.hProcess));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 5000);
        QFile result(out);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(result.readAll()), QString("/x\n{ABC;rm\n-rf}\n"));

        // Without SEE_MASK_NOCLOSEPROCESS no handle is handed out.
        SHELLEXECUTEINFOW quiet = {};
        quiet.cbSize = sizeof(SHELLEXECUTEINFOW);
        quiet.lpFile = path.c_str();
        QVERIFY(ShellExecuteExW(&quiet));
        QVERIFY(!quiet.hProcess);
        QVERIFY(noZombieWithin(5000));
    }

    // The removal runs on after the invocation that started it, whatever ends that invocation's
    // process group or session (a closed terminal, a test harness ending its group).
    void shellExecuteStartsItsOwnSession()
    {
        const QString out = m_dir.path() + "/stat";
        const std::wstring parameters =
            cv::string_utf8_to_wstring(("-c \"cat /proc/self/stat > '" + out + "'\"").toStdString());
        SHELLEXECUTEINFOW info = {};
        info.cbSize = 60;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = L"/bin/sh";
        info.lpParameters = parameters.c_str();
        QVERIFY(ShellExecuteExW(&info));
        QCOMPARE(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        QVERIFY(CloseHandle(info.hProcess));
        QFile stat(out);
        QVERIFY(stat.open(QIODevice::ReadOnly));
        // Fields after the command's closing parenthesis: state, parent, group, session.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        QVERIFY2(fields.size() > 3, text.constData());
        QVERIFY(fields.at(3).toLongLong() != static_cast<qlonglong>(getsid(0)));
        QVERIFY(fields.at(2).toLongLong() != static_cast<qlonglong>(getpgrp()));
    }

    void shellExecuteFailures()
    {
        const std::wstring missing =
            cv::string_utf8_to_wstring((m_dir.path() + "\\nothing.exe").toStdString());
        SHELLEXECUTEINFOW info = {};
        info.cbSize = 60;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = missing.c_str();
        QVERIFY(!ShellExecuteExW(&info));
        QVERIFY(!info.hProcess);
        QVERIFY(reinterpret_cast<intptr_t>(info.hInstApp) <= 32);
        QCOMPARE(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

        SHELLEXECUTEINFOW badSize = {};
        badSize.cbSize = 59;
        badSize.lpFile = L"/bin/true";
        QVERIFY(!ShellExecuteExW(&badSize));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        QVERIFY(reinterpret_cast<intptr_t>(badSize.hInstApp) <= 32);

        SHELLEXECUTEINFOW noFile = {};
        noFile.cbSize = 60;
        QVERIFY(!ShellExecuteExW(&noFile));
        QVERIFY(!ShellExecuteExW(nullptr));

        SHELLEXECUTEINFOW verb = {};
        verb.cbSize = 60;
        verb.lpFile = L"/bin/true";
        verb.lpVerb = L"print";
        QVERIFY(!ShellExecuteExW(&verb));
    }
};

QTEST_GUILESS_MAIN(ProcessTest)
#include "ProcessTest.moc"
