#include "winapi.h"

#include "RuntimeLocation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

std::string uniqueName(const char *what)
{
    static int counter = 0;
    return std::string("tarn-test-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(++counter);
}

bool shmExists(const std::string &name, struct stat *info = nullptr)
{
    struct stat local;
    return lstat(RuntimeLocation::objectPath(name).c_str(), info ? info : &local) == 0;
}

// Plants an object at a name the way another program of the same user could.
int plant(const std::string &name)
{
    return open(RuntimeLocation::objectPath(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

} // namespace

class WinApiTest : public QObject
{
    Q_OBJECT

private slots:
    void processIdAndLastError()
    {
        QCOMPARE(GetCurrentProcessId(), DWORD(getpid()));
        SetLastError(ERROR_ACCESS_DENIED);
        QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        DWORD seenByOther = 1234;
        std::thread other([&] {
            seenByOther = GetLastError();
            SetLastError(ERROR_BAD_FORMAT);
        });
        other.join();
        QCOMPARE(seenByOther, DWORD(ERROR_SUCCESS));
        QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }

    void namedMappingCreateOpenAndRemove()
    {
        const std::string name = uniqueName("map");
        HANDLE first = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
        QVERIFY(first);
        QCOMPARE(GetLastError(), DWORD(ERROR_SUCCESS));
        struct stat info;
        QVERIFY(shmExists(name, &info));
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QCOMPARE(int(info.st_size), 8);

        HANDLE second = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
        QVERIFY(second);
        QCOMPARE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        QVERIFY(second != first);

        auto *written = static_cast<int64_t *>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 8));
        auto *read = static_cast<int64_t *>(MapViewOfFile(second, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        QVERIFY(written && read);
        *written = 0x1122334455667788;
        QCOMPARE(*read, int64_t(0x1122334455667788));

        QVERIFY(CloseHandle(second));
        QVERIFY(!shmExists(name));
        // Views outlive the handle, as they do on Windows.
        *written = 7;
        QCOMPARE(*read, int64_t(7));
        QVERIFY(UnmapViewOfFile(written));
        QVERIFY(UnmapViewOfFile(read));
        QVERIFY(!UnmapViewOfFile(read));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        QVERIFY(CloseHandle(first));
        QVERIFY(!CloseHandle(first));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }

    void existingObjectKeepsItsSizeAndIsTightened()
    {
        const std::string name = uniqueName("existing");
        const int fd = plant(name);
        QVERIFY(fd >= 0);
        QCOMPARE(ftruncate(fd, 8192), 0);
        fchmod(fd, 0644);
        close(fd);
        HANDLE mapping =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
        QVERIFY(mapping);
        QCOMPARE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        struct stat info;
        QVERIFY(shmExists(name, &info));
        QCOMPARE(int(info.st_size), 8192);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QVERIFY(CloseHandle(mapping));

        // A smaller existing object grows to the asked size.
        const int small = plant(name);
        QVERIFY(small >= 0);
        close(small);
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16, name.c_str());
        QVERIFY(mapping);
        QVERIFY(shmExists(name, &info));
        QCOMPARE(int(info.st_size), 16);
        QVERIFY(CloseHandle(mapping));
    }

    void namedMappingIsAFileOfThePrivateRuntimeFolder()
    {
        const std::string name = uniqueName("private");
        HANDLE mapping =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
        QVERIFY(mapping);
        const std::string path = RuntimeLocation::objectPath(name);
        QCOMPARE(path, RuntimeLocation::folder() + "/" + name);
        struct stat info;
        QCOMPARE(lstat(path.c_str(), &info), 0);
        QVERIFY(S_ISREG(info.st_mode));
        QCOMPARE(info.st_uid, geteuid());
        QCOMPARE(lstat(RuntimeLocation::folder().c_str(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0700);
        QVERIFY(CloseHandle(mapping));
        QVERIFY(!shmExists(name));
    }

    void namedMappingRefusesWhatIsNotAPlainFile()
    {
        QVERIFY(!RuntimeLocation::ensure(nullptr).empty());
        // A link, a FIFO and a folder at the name: none is opened, none blocks, none is removed.
        const std::string link = uniqueName("link");
        QTemporaryDir target;
        QVERIFY(target.isValid());
        const std::string aim = target.path().toStdString() + "/aim";
        QCOMPARE(symlink(aim.c_str(), RuntimeLocation::objectPath(link).c_str()), 0);
        const std::string fifo = uniqueName("fifo");
        QCOMPARE(mkfifo(RuntimeLocation::objectPath(fifo).c_str(), 0600), 0);
        const std::string folder = uniqueName("folder");
        QCOMPARE(mkdir(RuntimeLocation::objectPath(folder).c_str(), 0700), 0);
        for (const std::string &name : {link, fifo, folder}) {
            QVERIFY2(!CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str()),
                     name.c_str());
            QVERIFY(GetLastError() != ERROR_SUCCESS);
            QVERIFY2(shmExists(name), name.c_str());
        }
        QVERIFY(!QFile::exists(QString::fromStdString(aim)));
        unlink(RuntimeLocation::objectPath(link).c_str());
        unlink(RuntimeLocation::objectPath(fifo).c_str());
        rmdir(RuntimeLocation::objectPath(folder).c_str());
    }

    void anonymousMapping()
    {
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
        QVERIFY(mapping);
        auto *bytes = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        QVERIFY(bytes);
        bytes[4095] = 'z';
        QCOMPARE(bytes[0], '\0');
        QVERIFY(UnmapViewOfFile(bytes));
        QVERIFY(CloseHandle(mapping));
    }

    void badMappingRequests()
    {
        QVERIFY(!CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "tarn-zero-size"));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        QVERIFY(!shmExists("tarn-zero-size"));
        int dummy = 0;
        QVERIFY(!CreateFileMappingA(&dummy, nullptr, PAGE_READWRITE, 0, 8, "tarn-file-backed"));
        QVERIFY(!CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, "../escape"));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        QVERIFY(!MapViewOfFile(&dummy, FILE_MAP_ALL_ACCESS, 0, 0, 8));
        QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        QVERIFY(!CloseHandle(nullptr));
        QVERIFY(!CloseHandle(&dummy));
        QVERIFY(!CloseHandle(INVALID_HANDLE_VALUE));

        const std::string name = uniqueName("view");
        HANDLE mapping =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
        QVERIFY(mapping);
        QVERIFY(!MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 9));
        QVERIFY(!MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 4096, 0));
        QVERIFY(CloseHandle(mapping));
    }

    void tickCountIsMonotonicMilliseconds()
    {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t expected = uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
        const DWORD first = GetTickCount();
        // The counter may run up to one coarse tick (a few milliseconds) behind the precise clock.
        const int32_t offset = int32_t(first - DWORD(expected));
        QVERIFY2(offset > -50 && offset < 50, qPrintable(QString::number(offset)));
        usleep(120 * 1000);
        const DWORD elapsed = GetTickCount() - first;
        QVERIFY2(elapsed >= 110 && elapsed < 2000, qPrintable(QString::number(elapsed)));
    }

    void apartmentRules()
    {
        HRESULT results[8] = {};
        std::thread thread([&] {
            results[0] = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            results[1] = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            results[2] = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            CoUninitialize();
            results[3] = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            CoUninitialize();
            CoUninitialize();
            CoUninitialize(); // one too many does no harm
            results[4] = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            int reserved = 0;
            results[5] = CoInitializeEx(&reserved, COINIT_MULTITHREADED);
            CoUninitialize();
        });
        thread.join();
        QCOMPARE(results[0], S_OK);
        QCOMPARE(results[1], S_FALSE);
        QCOMPARE(results[2], RPC_E_CHANGED_MODE);
        // The refused call did not count: one uninitialise leaves one apartment reference.
        QCOMPARE(results[3], S_FALSE);
        QCOMPARE(results[4], S_OK);
        QCOMPARE(results[5], E_INVALIDARG);

        // Each thread keeps its own count.
        QCOMPARE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        HRESULT other = S_FALSE;
        std::thread second([&] { other = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); });
        second.join();
        QCOMPARE(other, S_OK);
        CoUninitialize();
    }

    void systemFolder()
    {
        char buffer[MAX_PATH];
        memset(buffer, 'Q', sizeof(buffer));
        qunsetenv("TARN_SYSTEMX86_DIR");
        QVERIFY(!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_SYSTEMX86, FALSE));
        for (char c : buffer) {
            QCOMPARE(c, 'Q');
        }
        qputenv("TARN_SYSTEMX86_DIR", "");
        QVERIFY(!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_SYSTEMX86, FALSE));
        QCOMPARE(buffer[0], 'Q');
        qputenv("TARN_SYSTEMX86_DIR", QByteArray(MAX_PATH, 'x'));
        QVERIFY(!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_SYSTEMX86, FALSE));
        QCOMPARE(buffer[0], 'Q');
        qputenv("TARN_SYSTEMX86_DIR", "/opt/sys32");
        QVERIFY(!SHGetSpecialFolderPathA(nullptr, buffer, 0x0025, FALSE));
        QVERIFY(!SHGetSpecialFolderPathA(nullptr, nullptr, CSIDL_SYSTEMX86, FALSE));
        QVERIFY(SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_SYSTEMX86, FALSE));
        QCOMPARE(QByteArray(buffer), QByteArray("/opt/sys32"));
        qunsetenv("TARN_SYSTEMX86_DIR");
    }

    void debuggerPresence()
    {
        QVERIFY(!IsDebuggerPresent());
        // A child that asks to be traced by this process sees its tracer.
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
                _exit(2);
            }
            _exit(IsDebuggerPresent() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void loadLibraryByWindowsName()
    {
        HMODULE beside = LoadLibraryA("WinapiTestModule.dll");
        QVERIFY(beside);
        auto value = reinterpret_cast<int (*)()>(GetProcAddress(beside, "testModuleValue"));
        QVERIFY(value);
        QCOMPARE(value(), 1);
        QVERIFY(!GetProcAddress(beside, "noSuchEntry"));
        QCOMPARE(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
        QVERIFY(FreeLibrary(beside));

        HMODULE upperCase = LoadLibraryA("WinapiTestModule.DLL");
        QVERIFY(upperCase);
        QVERIFY(FreeLibrary(upperCase));
        HMODULE plain = LoadLibraryA("libWinapiTestModule.so");
        QVERIFY(plain);
        QVERIFY(FreeLibrary(plain));
        const QString full = QCoreApplication::applicationDirPath() + "/libWinapiTestModule.so";
        HMODULE byPath = LoadLibraryA(full.toLocal8Bit().constData());
        QVERIFY(byPath);
        QVERIFY(FreeLibrary(byPath));
    }

    void loadLibraryFallsBackToTheLibraryPath()
    {
        // Only on LD_LIBRARY_PATH (set for this test), not beside the executable.
        HMODULE library = LoadLibraryA("WinapiPathModule.dll");
        QVERIFY(library);
        auto value = reinterpret_cast<int (*)()>(GetProcAddress(library, "testModuleValue"));
        QVERIFY(value);
        QCOMPARE(value(), 2);
        QVERIFY(FreeLibrary(library));
    }

    void loadLibraryFailures()
    {
        QVERIFY(!LoadLibraryA("NoSuchModule.dll"));
        QCOMPARE(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
        QVERIFY(!LoadLibraryA(""));
        QVERIFY(!LoadLibraryA(nullptr));
        QTemporaryDir dir;
        QFile garbage(dir.path() + "/libGarbage.so");
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not an ELF file");
        garbage.close();
        QVERIFY(!LoadLibraryA(garbage.fileName().toLocal8Bit().constData()));
        QVERIFY(!GetProcAddress(nullptr, "x"));
        QVERIFY(!FreeLibrary(nullptr));
    }
};

QTEST_GUILESS_MAIN(WinApiTest)
#include "WinApiTest.moc"
