#include "ETLLib.h"
#include "TraceWriter.h"
#include "uCTraceHelper.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> readLines(const QString &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path.toStdString());
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool allDigits(const std::string &text, size_t from, size_t count)
{
    if (from + count > text.size()) {
        return false;
    }
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// Splits "YYYY-MM-DD hh:mm:ss.zzz <pid>:<tid> <tag> <text>"; false when the line does not have that shape.
bool parseLine(const std::string &line, long &pid, long &tid, std::string &tag, std::string &text)
{
    static const char shape[] = "0000-00-00 00:00:00.000 ";
    if (line.size() < sizeof(shape) - 1) {
        return false;
    }
    for (size_t i = 0; i < sizeof(shape) - 1; ++i) {
        if (shape[i] == '0' ? !allDigits(line, i, 1) : line[i] != shape[i]) {
            return false;
        }
    }
    size_t position = sizeof(shape) - 1;
    char *end = nullptr;
    pid = strtol(line.c_str() + position, &end, 10);
    if (*end != ':') {
        return false;
    }
    tid = strtol(end + 1, &end, 10);
    if (*end != ' ') {
        return false;
    }
    position = static_cast<size_t>(end - line.c_str()) + 1;
    const size_t blank = line.find(' ', position);
    if (blank == std::string::npos) {
        return false;
    }
    tag = line.substr(position, blank - position);
    text = line.substr(blank + 1);
    return true;
}

// Redirects standard error into a file for the lifetime of the object.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path)
    {
        fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        const int fd = open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StderrCapture()
    {
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }

private:
    int m_saved = -1;
};

// Holds the first line that reaches the hook between counting and writing until the test lets it go.
std::atomic<int> g_holdState{0}; // 0 idle, 1 armed, 2 holding, 3 released

void holdOneLine()
{
    int armed = 1;
    if (g_holdState.compare_exchange_strong(armed, 2)) {
        while (g_holdState.load() != 3) {
            std::this_thread::yield();
        }
    }
}

} // namespace

class TraceTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    QString logPath() const { return m_dir->path() + "/log/tarn-desktop.log"; }

private slots:
    void initTestCase()
    {
        // Before any redirection, lines already go to the log file below the document folder.
        m_dir = new QTemporaryDir;
        etlSetAppDocPath(m_dir->path().toStdString());
        etlModuleTrace(5, "N:Early", "before any redirect");
        const std::vector<std::string> lines = readLines(logPath());
        QCOMPARE(lines.size(), size_t(1));
        QVERIFY(lines[0].find("N:Early before any redirect") != std::string::npos);
        delete m_dir;
        m_dir = nullptr;
    }

    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        etlSetAppDocPath(m_dir->path().toStdString());
        TraceWriter::instance().setRotateBytes(0);
        uCTraceHelper::getInstance().ResetTraceLevel(5);
        QCOMPARE(uCTraceHelper::getInstance().RedirectToShareMemory(), 0);
    }

    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    void lineHasTheDocumentedShape()
    {
        const QDateTime before = QDateTime::currentDateTime();
        etlModuleTrace(5, "N:Demo", "value %d and %s", 42, "text");
        const QDateTime after = QDateTime::currentDateTime();
        const std::vector<std::string> lines = readLines(logPath());
        QCOMPARE(lines.size(), size_t(1));
        const QString line = QString::fromStdString(lines[0]);
        const QRegularExpression shape(
            "^(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}) (\\d+):(\\d+) N:Demo value 42 and text$");
        const QRegularExpressionMatch match = shape.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(2).toLong(), long(getpid()));
        QCOMPARE(match.captured(3).toLong(), long(syscall(SYS_gettid)));
        const QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyy-MM-dd HH:mm:ss.zzz");
        QVERIFY(stamp.isValid());
        QVERIFY2(stamp >= before.addMSecs(-1) && stamp <= after.addMSecs(1), qPrintable(line));
    }

    void eachThreadShowsItsOwnId()
    {
        long otherTid = 0;
        std::thread worker([&] {
            otherTid = syscall(SYS_gettid);
            etlModuleTrace(5, "N:Worker", "from a thread");
        });
        worker.join();
        long pid = 0, tid = 0;
        std::string tag, text;
        const std::vector<std::string> lines = readLines(logPath());
        QCOMPARE(lines.size(), size_t(1));
        QVERIFY(parseLine(lines[0], pid, tid, tag, text));
        QCOMPARE(pid, long(getpid()));
        QCOMPARE(tid, otherTid);
        QVERIFY(tid != long(getpid()));
    }

    void newlinesNeverSplitOrDoubleALine()
    {
        etlModuleTrace(5, "N:Nl", "ends in newline\n");
        etlModuleTrace(5, "N:Nl", "ends in crlf\r\n");
        etlModuleTrace(5, "N:Nl", "first\nsecond");
        etlModuleTrace(5, "N:Nl", "%s", "");
        const QByteArray content = readAll(logPath());
        QCOMPARE(content.count('\n'), 4);
        QVERIFY(!content.contains("\n\n"));
        QVERIFY(!content.contains('\r'));
        const std::vector<std::string> lines = readLines(logPath());
        QVERIFY(lines[0].size() > 16 && lines[0].substr(lines[0].size() - 16) == " ends in newline");
        QVERIFY(lines[1].find("ends in crlf") != std::string::npos);
        QVERIFY(lines[2].find("first second") != std::string::npos);
        QVERIFY(lines[3].size() > 4 && lines[3].substr(lines[3].size() - 5) == "N:Nl ");
    }

    void levelFilter_data()
    {
        QTest::addColumn<int>("traceLevel");
        QTest::addColumn<int>("lineLevel");
        QTest::addColumn<bool>("written");
        QTest::newRow("default accepts 5") << 5 << 5 << true;
        QTest::newRow("default drops 6") << 5 << 6 << false;
        QTest::newRow("level 4 drops 5") << 4 << 5 << false;
        QTest::newRow("level 4 keeps 4") << 4 << 4 << true;
        QTest::newRow("level 4 keeps 3") << 4 << 3 << true;
        QTest::newRow("level 7 keeps 7") << 7 << 7 << true;
        QTest::newRow("level 7 drops 8") << 7 << 8 << false;
        QTest::newRow("level 0 drops 3") << 0 << 3 << false;
        QTest::newRow("negative level drops all") << -1 << 0 << false;
    }

    void levelFilter()
    {
        QFETCH(int, traceLevel);
        QFETCH(int, lineLevel);
        QFETCH(bool, written);
        QCOMPARE(uCTraceHelper::getInstance().ResetTraceLevel(traceLevel), 5);
        QCOMPARE(uCTraceHelper::getInstance().GetTraceLevel(), traceLevel);
        etlModuleTrace(lineLevel, "N:Level", "line at %d", lineLevel);
        QCOMPARE(readAll(logPath()).contains("N:Level line at"), written);
    }

    void levelIsReadWithoutFormatting()
    {
        // A filtered call must not evaluate the format: a bad pointer there would crash.
        uCTraceHelper::getInstance().ResetTraceLevel(3);
        etlModuleTrace(7, "D:Skip", "%s", reinterpret_cast<const char *>(uintptr_t(1)));
        QVERIFY(readAll(logPath()).isEmpty());
    }

    void missingTagOrFormatDoesNotCrash()
    {
        etlModuleTrace(5, nullptr, "no tag");
        etlModuleTrace(5, "N:NoFormat", nullptr);
        const std::vector<std::string> lines = readLines(logPath());
        QCOMPARE(lines.size(), size_t(2));
        QVERIFY(lines[0].find(" - no tag") != std::string::npos);
        QVERIFY(lines[1].find("N:NoFormat") != std::string::npos);
    }

    void longLineIsCappedAndMarked()
    {
        const std::string text(100000, 'x');
        etlModuleTrace(5, "N:Long", "%s tail", text.c_str());
        etlModuleTrace(5, "N:Long", "after");
        const std::vector<std::string> lines = readLines(logPath());
        QCOMPARE(lines.size(), size_t(2));
        QVERIFY(lines[0].size() + 1 <= TraceWriter::kMaxLineBytes);
        QVERIFY(lines[0].size() > TraceWriter::kMaxLineBytes - 100);
        const std::string mark = TraceWriter::kTruncationMark;
        QCOMPARE(lines[0].substr(lines[0].size() - mark.size()), mark);
        QVERIFY(lines[1].find("N:Long after") != std::string::npos);
    }

    void logFileAndFolderAreOwnerOnly()
    {
        etlModuleTrace(5, "N:Perm", "x");
        struct stat info;
        QCOMPARE(stat(logPath().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QCOMPARE(stat((m_dir->path() + "/log").toLocal8Bit().constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0700);
    }

    void existingLogIsAppendedAndTightened()
    {
        QVERIFY(QDir().mkpath(m_dir->path() + "/log"));
        {
            QFile old(logPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old line\n");
        }
        QVERIFY(chmod(logPath().toLocal8Bit().constData(), 0644) == 0);
        etlSetAppDocPath(m_dir->path().toStdString()); // reopen
        etlModuleTrace(5, "N:Append", "new line");
        const std::vector<std::string> lines = readLines(logPath());
        QCOMPARE(lines.size(), size_t(2));
        QCOMPARE(lines[0], std::string("old line"));
        struct stat info;
        QCOMPARE(stat(logPath().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
    }

    void documentFolderChangeMovesTheLog()
    {
        QTemporaryDir second;
        etlModuleTrace(5, "N:Move", "first folder");
        etlSetAppDocPath(second.path().toStdString());
        etlModuleTrace(5, "N:Move", "second folder");
        QVERIFY(readAll(logPath()).contains("first folder"));
        QVERIFY(!readAll(logPath()).contains("second folder"));
        QVERIFY(readAll(second.path() + "/log/tarn-desktop.log").contains("second folder"));
        etlSetAppDocPath(m_dir->path().toStdString());
    }

    void lineOnItsWayWhenTheLogIsLeftNeverLandsInAnotherFile()
    {
        // A line that has been counted but not yet written while the log is switched off must still go
        // to a log file, never into whatever file got opened in the meantime.
        etlModuleTrace(5, "N:Before", "the log is open");
        TraceWriter::setBeforeAppendForTesting(&holdOneLine);
        g_holdState.store(1);
        std::thread writer([] { etlModuleTrace(5, "N:Late", "held between counting and writing"); });
        const bool held = QTest::qWaitFor([] { return g_holdState.load() == 2; }, 10000);
        const QString victimPath = m_dir->path() + "/victim.txt";
        const QString captured = m_dir->path() + "/stderr.txt";
        int victim = -1;
        {
            StderrCapture capture(captured);
            uCTraceHelper::getInstance().RedirectToConsole();
            victim = open(QFile::encodeName(victimPath).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            g_holdState.store(3);
            writer.join();
            uCTraceHelper::getInstance().RedirectToShareMemory();
        }
        TraceWriter::setBeforeAppendForTesting(nullptr);
        g_holdState.store(0);
        if (victim >= 0) {
            close(victim);
        }
        QVERIFY(held);
        QVERIFY(victim >= 0);
        QCOMPARE(readAll(victimPath), QByteArray());
        QVERIFY(readAll(logPath()).contains("N:Late held between counting and writing\n"));
    }

    void consoleRedirectWritesToStderr()
    {
        const QString captured = m_dir->path() + "/stderr.txt";
        {
            StderrCapture capture(captured);
            uCTraceHelper::getInstance().RedirectToConsole();
            etlModuleTrace(5, "N:Console", "to the console");
            uCTraceHelper::getInstance().RedirectToShareMemory();
            etlModuleTrace(5, "N:Console", "back to the file");
        }
        const QByteArray console = readAll(captured);
        QVERIFY(console.contains("N:Console to the console\n"));
        QVERIFY(!console.contains("back to the file"));
        QVERIFY(readAll(logPath()).contains("back to the file"));
        QVERIFY(!readAll(logPath()).contains("to the console"));
    }

    void unusableLogFolderFallsBackToStderr()
    {
        // "log" is a plain file, so neither the folder nor the log file can be made.
        QVERIFY(QDir(m_dir->path() + "/log").removeRecursively());
        etlSetAppDocPath(m_dir->path().toStdString());
        QFile blocker(m_dir->path() + "/log");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString captured = m_dir->path() + "/stderr.txt";
        {
            StderrCapture capture(captured);
            QCOMPARE(uCTraceHelper::getInstance().RedirectToShareMemory(), -1);
            etlModuleTrace(5, "N:Fallback", "still visible");
        }
        QVERIFY(readAll(captured).contains("N:Fallback still visible\n"));
    }

    void symlinkedLogFileIsRefused()
    {
        // Lines never follow a link planted where the log file belongs.
        QVERIFY(QFile::remove(logPath()));
        const QString target = m_dir->path() + "/elsewhere.txt";
        QVERIFY(QFile::link(target, logPath()));
        etlSetAppDocPath(m_dir->path().toStdString());
        const QString captured = m_dir->path() + "/stderr.txt";
        {
            StderrCapture capture(captured);
            etlModuleTrace(5, "N:Link", "not through the link");
        }
        QVERIFY(!QFile::exists(target));
        QVERIFY(readAll(captured).contains("N:Link not through the link"));
    }

    void fifoAtTheLogPathIsRefusedWithoutWaiting()
    {
        // Nobody reads the FIFO: opening it for writing would wait for a reader for ever.
        QVERIFY(QFile::remove(logPath()));
        QCOMPARE(mkfifo(QFile::encodeName(logPath()).constData(), 0600), 0);
        etlSetAppDocPath(m_dir->path().toStdString());
        const QString captured = m_dir->path() + "/stderr.txt";
        {
            StderrCapture capture(captured);
            std::atomic<bool> done{false};
            std::thread writer([&done] {
                etlModuleTrace(5, "N:Fifo", "not into the FIFO");
                done.store(true);
            });
            const bool inTime = QTest::qWaitFor([&done] { return done.load(); }, 10000);
            if (!inTime) {
                // Let the stuck writer go before failing, so the test ends.
                const int reader = open(QFile::encodeName(logPath()).constData(), O_RDONLY | O_NONBLOCK);
                writer.join();
                if (reader >= 0)
                    close(reader);
            } else {
                writer.join();
            }
            QVERIFY2(inTime, "the trace waited for a reader of the FIFO");
        }
        QVERIFY(readAll(captured).contains("N:Fifo not into the FIFO\n"));
        struct stat st;
        QCOMPARE(lstat(QFile::encodeName(logPath()).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void rotatesAtEightMebibytes()
    {
        const std::string text(1000, 'r');
        const uint64_t limit = 8u * 1024u * 1024u;
        for (int i = 0; i < 9000; ++i) {
            etlModuleTrace(5, "N:Rotate", "%06d %s", i, text.c_str());
        }
        const QString first = logPath() + ".1";
        QVERIFY(QFile::exists(first));
        QVERIFY(!QFile::exists(logPath() + ".2"));
        QVERIFY(uint64_t(QFileInfo(first).size()) <= limit);
        QVERIFY(uint64_t(QFileInfo(first).size()) > limit - 2000);
        QVERIFY(uint64_t(QFileInfo(logPath()).size()) <= limit);
        struct stat info;
        QCOMPARE(stat(first.toLocal8Bit().constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QCOMPARE(stat(logPath().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
    }

    void rotationCountsWhatTheFileAlreadyHolds()
    {
        // A log left by an earlier run counts towards the limit from the first new line on.
        const uint64_t limit = 16 * 1024;
        TraceWriter::instance().setRotateBytes(limit);
        QVERIFY(QDir().mkpath(m_dir->path() + "/log"));
        {
            QFile old(logPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(int(limit) - 100, 'o').append('\n'));
        }
        etlSetAppDocPath(m_dir->path().toStdString());
        etlModuleTrace(5, "N:Old", "%s", std::string(200, 'n').c_str());
        QVERIFY(QFile::exists(logPath() + ".1"));
        QVERIFY(readAll(logPath() + ".1").startsWith("oooo"));
        QVERIFY(readAll(logPath()).contains("N:Old nnnn"));
        QVERIFY(uint64_t(QFileInfo(logPath() + ".1").size()) <= limit);
    }

    void rotationKeepsFourFilesInOrder()
    {
        const uint64_t limit = 16 * 1024;
        TraceWriter::instance().setRotateBytes(limit);
        const int count = 3000; // about ten files' worth
        for (int i = 0; i < count; ++i) {
            etlModuleTrace(5, "N:Keep", "%06d padding padding padding padding", i);
        }
        QVERIFY(!QFile::exists(logPath() + ".5"));
        // Oldest kept first: .4 .3 .2 .1 then the current file, with no gap and no reordering.
        std::vector<int> numbers;
        for (const char *suffix : {".4", ".3", ".2", ".1", ""}) {
            const QString path = logPath() + QLatin1String(suffix);
            QVERIFY2(QFile::exists(path), qPrintable(path));
            QVERIFY(uint64_t(QFileInfo(path).size()) <= limit);
            struct stat info;
            QCOMPARE(stat(path.toLocal8Bit().constData(), &info), 0);
            QCOMPARE(int(info.st_mode & 0777), 0600);
            for (const std::string &line : readLines(path)) {
                long pid, tid;
                std::string tag, text;
                QVERIFY(parseLine(line, pid, tid, tag, text));
                numbers.push_back(std::stoi(text.substr(0, 6)));
            }
        }
        QVERIFY(numbers.size() > 700);
        QCOMPARE(numbers.back(), count - 1);
        for (size_t i = 1; i < numbers.size(); ++i) {
            QCOMPARE(numbers[i], numbers[i - 1] + 1);
        }
    }

    void threadsWritingThroughRotationsKeepEveryFileWithinItsLimit()
    {
        // Lines other threads are writing at the moment the file fills up must neither be lost nor take
        // the next file over the limit, however often that happens. Every few lines a writer stops for a
        // while between counting its line and writing it, while the others go on and rotate.
        const uint64_t limit = 8 * 1024;
        TraceWriter::instance().setRotateBytes(limit);
        TraceWriter::setBeforeAppendForTesting([] {
            thread_local int count = 0;
            if (++count % 16 == 0) {
                const struct timespec delay = {0, 200 * 1000};
                nanosleep(&delay, nullptr);
            }
        });
        const int threads = 8;
        const int total = 20000;
        const QByteArray current = logPath().toLocal8Bit();
        const QByteArray first = (logPath() + ".1").toLocal8Bit();
        std::atomic<uint64_t> largest{0};
        // Each writer looks at the sizes after each of its lines: a file over the limit is seen while it
        // is the current or the last rotated one.
        auto noteSizes = [&] {
            for (const QByteArray &path : {current, first}) {
                struct stat info;
                if (stat(path.constData(), &info) == 0 && uint64_t(info.st_size) > largest.load()) {
                    largest.store(uint64_t(info.st_size));
                }
            }
        };
        std::atomic<int> ticket{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([t, &ticket, &noteSizes] {
                for (int n = ticket.fetch_add(1); n < total; n = ticket.fetch_add(1)) {
                    etlModuleTrace(5, "N:Turn", "t%d n%06d with some words to give the line a length", t, n);
                    noteSizes();
                }
            });
        }
        for (std::thread &worker : workers) {
            worker.join();
        }
        TraceWriter::setBeforeAppendForTesting(nullptr);
        QVERIFY2(largest.load() <= limit, qPrintable(QString::number(largest.load())));

        // Oldest kept file first: each thread's lines in the order it wrote them, none twice, and the
        // last lines of all complete.
        std::vector<int> last(threads, -1);
        std::vector<bool> seen(total, false);
        for (const char *suffix : {".4", ".3", ".2", ".1", ""}) {
            const QString path = logPath() + QLatin1String(suffix);
            QVERIFY2(QFile::exists(path), qPrintable(path));
            QVERIFY2(uint64_t(QFileInfo(path).size()) <= limit, qPrintable(path));
            // A file is given up only when full: lines on their way at a rotation, counted in both
            // files, must not make the next files rotate ever earlier and the kept history ever shorter.
            if (*suffix) {
                QVERIFY2(uint64_t(QFileInfo(path).size()) >= limit / 2,
                         qPrintable(path + ": " + QString::number(QFileInfo(path).size())));
            }
            for (const std::string &line : readLines(path)) {
                long pid, tid;
                std::string tag, text;
                QVERIFY2(parseLine(line, pid, tid, tag, text), line.c_str());
                int t = -1, n = -1;
                char tail[8] = {0};
                QVERIFY2(
                    sscanf(text.c_str(), "t%d n%d with some words to give the line a %7s", &t, &n, tail) == 3,
                    line.c_str());
                QCOMPARE(std::string(tail), std::string("length"));
                QVERIFY(t >= 0 && t < threads && n >= 0 && n < total);
                QVERIFY2(n > last[t], line.c_str());
                last[t] = n;
                QVERIFY2(!seen[n], line.c_str());
                seen[n] = true;
            }
        }
        for (int n = total - 100; n < total; ++n) {
            QVERIFY2(seen[n], qPrintable(QString::number(n)));
        }
    }

    void oldestNameThatIsNoFileIsRemovedNotFollowed()
    {
        // Whatever sits at the oldest name is removed, never opened for writing, followed or waited on.
        const uint64_t limit = 16 * 1024;
        TraceWriter::instance().setRotateBytes(limit);
        QVERIFY(QDir().mkpath(m_dir->path() + "/log"));
        const QString victim = m_dir->path() + "/victim.txt";
        {
            QFile file(victim);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep me\n");
        }
        for (const bool fifo : {false, true}) {
            const QByteArray oldest = (logPath() + ".4").toLocal8Bit();
            ::unlink(oldest.constData());
            if (fifo) {
                QCOMPARE(mkfifo(oldest.constData(), 0600), 0);
            } else {
                QVERIFY(QFile::link(victim, logPath() + ".4"));
            }
            // About seven files' worth, so the oldest name ends up holding a rotated log.
            for (int i = 0; i < 200; ++i) {
                etlModuleTrace(5, "N:Keep", "%06d %s", i, std::string(500, 'p').c_str());
            }
            struct stat info;
            QCOMPARE(lstat(oldest.constData(), &info), 0);
            QVERIFY(S_ISREG(info.st_mode));
        }
        QCOMPARE(readAll(victim), QByteArray("keep me\n"));
    }

    void concurrentLinesNeitherInterleaveNorGetLost()
    {
        TraceWriter::instance().setRotateBytes(uint64_t(1) << 40);
        const int threads = 8;
        const int perThread = 100000;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([t] {
                for (int i = 0; i < perThread; ++i) {
                    etlModuleTrace(5, "N:Thread", "t%d n%d end", t, i);
                }
            });
        }
        for (std::thread &worker : workers) {
            worker.join();
        }
        std::vector<int> next(threads, 0);
        std::ifstream in(logPath().toStdString());
        std::string line;
        size_t total = 0;
        while (std::getline(in, line)) {
            long pid, tid;
            std::string tag, text;
            QVERIFY2(parseLine(line, pid, tid, tag, text), line.c_str());
            QCOMPARE(tag, std::string("N:Thread"));
            int t = -1, i = -1;
            char tail[8] = {0};
            QVERIFY2(sscanf(text.c_str(), "t%d n%d %7s", &t, &i, tail) == 3, line.c_str());
            QCOMPARE(std::string(tail), std::string("end"));
            QVERIFY(t >= 0 && t < threads);
            // Each thread's lines arrive complete and in its own order.
            QCOMPARE(i, next[t]);
            ++next[t];
            ++total;
        }
        QCOMPARE(total, size_t(threads) * perThread);
    }

    void crashKeepsEveryAcceptedLine_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<int>("expectedSignal");
        QTest::newRow("bad pointer") << 0 << int(SIGSEGV);
        QTest::newRow("abort") << 1 << int(SIGABRT);
        QTest::newRow("stack overflow") << 2 << int(SIGSEGV);
        QTest::newRow("raised SIGFPE") << 3 << int(SIGFPE);
        QTest::newRow("raised SIGBUS") << 4 << int(SIGBUS);
        QTest::newRow("crash on another thread") << 5 << int(SIGSEGV);
        QTest::newRow("breakpoint trap") << 6 << int(SIGTRAP);
        QTest::newRow("raised SIGSYS") << 7 << int(SIGSYS);
        QTest::newRow("invalid instruction") << 8 << int(SIGILL);
    }

    void crashKeepsEveryAcceptedLine()
    {
        QFETCH(int, how);
        QFETCH(int, expectedSignal);
#if defined(__SANITIZE_THREAD__)
        // A forked child that starts a thread can be given the id of a thread the parent had, which
        // ThreadSanitizer takes for its own error; the normal and address-sanitizer builds run this row.
        if (how == 5) {
            QSKIP("a thread started in a forked child is not supported by ThreadSanitizer");
        }
#endif
        const int lines = 2000;
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            struct rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            etlHookCrashSignal();
            for (int i = 0; i < lines; ++i) {
                etlModuleTrace(5, "N:Crash", "line %d", i);
            }
            crashNow(how);
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status), qPrintable(QString::number(status)));
        QCOMPARE(WTERMSIG(status), expectedSignal);
        const std::vector<std::string> written = readLines(logPath());
        int next = 0;
        bool crashLine = false;
        for (const std::string &line : written) {
            long pid, tid;
            std::string tag, text;
            QVERIFY2(parseLine(line, pid, tid, tag, text), line.c_str());
            QCOMPARE(pid, long(child));
            if (tag == "N:Crash") {
                QCOMPARE(text, "line " + std::to_string(next));
                ++next;
            } else if (tag == "E:Crash") {
                QCOMPARE(text, "fatal signal " + std::to_string(expectedSignal));
                crashLine = true;
            }
        }
        QCOMPARE(next, lines);
        // The handler ran, on the alternate stack even when the stack overflowed.
        QVERIFY(crashLine);
    }

private:
    static volatile bool s_deeper;

    __attribute__((noinline)) static int recurse(int depth)
    {
        if (!s_deeper) {
            return depth;
        }
        volatile char block[4096];
        block[0] = static_cast<char>(depth);
        return recurse(depth + 1) + block[0];
    }

    static void crashNow(int how)
    {
        // A page that may not be touched: a real fault, which the sanitizers do not intercept first.
        void *page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        volatile uintptr_t address = reinterpret_cast<uintptr_t>(page);
        switch (how) {
        case 0:
            *reinterpret_cast<volatile int *>(address) = 1;
            break;
        case 1:
            abort();
        case 2:
            recurse(0);
            break;
        case 3:
            raise(SIGFPE);
            break;
        case 4:
            raise(SIGBUS);
            break;
        case 5: {
            std::thread worker([&] { *reinterpret_cast<volatile int *>(address) = 1; });
            worker.join();
            break;
        }
        case 6:
            __asm__ volatile("int3");
            break;
        case 7:
            raise(SIGSYS);
            break;
        case 8:
            __builtin_trap();
        }
    }
};

volatile bool TraceTest::s_deeper = true;

QTEST_GUILESS_MAIN(TraceTest)
#include "TraceTest.moc"
