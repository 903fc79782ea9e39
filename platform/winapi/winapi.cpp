#include "winapi.h"

#include "CommandLineSplitter.h"
#include "RuntimeLocation.h"
#include "cvstl.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// The state of a started child, shared by its handles and the thread that reaps it.
struct ProcessState
{
    std::mutex mutex;
    std::condition_variable ended;
    pid_t pid = 0;
    bool done = false;
    int status = 0;
};

enum class HandleKind
{
    Mapping,
    Process
};

struct WinHandle
{
    explicit WinHandle(HandleKind k) : kind(k) {}
    HandleKind kind;
    int fd = -1;
    std::string name; // path of a named mapping in the runtime folder, empty when anonymous
    uint64_t size = 0;
    std::shared_ptr<ProcessState> process;
};

struct HandleTable
{
    std::mutex mutex;
    std::set<WinHandle *> handles;        // live handles, so a stale or foreign pointer is refused
    std::map<const void *, size_t> views; // base -> length of each mapped view
    std::vector<pid_t> unreapedChildren;  // children whose reaper thread could not be started
};

// Never destroyed, so handles can still be closed from destructors that run at exit.
HandleTable &table()
{
    static HandleTable *handles = new HandleTable();
    return *handles;
}

HANDLE registerHandle(WinHandle *handle)
{
    std::lock_guard<std::mutex> lock(table().mutex);
    table().handles.insert(handle);
    return handle;
}

// Removes the handle from the live set; the caller owns the object afterwards.
WinHandle *takeHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(table().mutex);
    auto it = table().handles.find(static_cast<WinHandle *>(handle));
    if (it == table().handles.end()) {
        return nullptr;
    }
    WinHandle *object = *it;
    table().handles.erase(it);
    return object;
}

DWORD errorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

std::string executablePath()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return std::string();
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string executableFolder()
{
    const std::string path = executablePath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool isExecutableFile(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool hasExtension(const std::string &path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
}

// Finds the program to run: a name with a slash is taken as it stands, a bare name is looked up in
// PATH. With exeFallback a name without an extension that names nothing also tries "<name>.exe".
std::string resolveProgram(const std::string &program, bool exeFallback)
{
    auto candidate = [&](const std::string &path) -> std::string {
        if (exists(path)) {
            return path;
        }
        if (exeFallback && !hasExtension(path) && exists(path + ".exe")) {
            return path + ".exe";
        }
        return std::string();
    };
    if (program.find('/') != std::string::npos) {
        const std::string found = candidate(program);
        return found.empty() ? program : found;
    }
    const char *pathVariable = getenv("PATH");
    std::string searchPath = pathVariable && *pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    std::string firstMatch;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string::npos) {
            end = searchPath.size();
        }
        std::string folder = searchPath.substr(start, end - start);
        if (folder.empty()) {
            folder = ".";
        }
        const std::string found = candidate(folder + "/" + program);
        if (!found.empty()) {
            if (isExecutableFile(found)) {
                return found;
            }
            if (firstMatch.empty()) {
                firstMatch = found;
            }
        }
        start = end + 1;
    }
    // A match that cannot be run still gives the caller the right error from the start attempt.
    return firstMatch.empty() ? program : firstMatch;
}

void reapLeftovers()
{
    std::lock_guard<std::mutex> lock(table().mutex);
    for (auto it = table().unreapedChildren.begin(); it != table().unreapedChildren.end();) {
        int status = 0;
        const pid_t result = waitpid(*it, &status, WNOHANG);
        if (result == *it || (result < 0 && errno == ECHILD)) {
            it = table().unreapedChildren.erase(it);
        } else {
            ++it;
        }
    }
}

// Every child gets a thread that waits for it, so no child ever stays a zombie, whether or not
// anybody keeps its handle. waitpid on one pid leaves other children (QProcess's) alone.
void watchChild(const std::shared_ptr<ProcessState> &state)
{
    reapLeftovers();
    try {
        std::thread([state]() {
            int status = 0;
            pid_t result;
            do {
                result = waitpid(state->pid, &status, 0);
            } while (result < 0 && errno == EINTR);
            std::lock_guard<std::mutex> lock(state->mutex);
            state->done = true;
            state->status = result == state->pid ? status : 0;
            state->ended.notify_all();
        }).detach();
    } catch (...) {
        std::lock_guard<std::mutex> lock(table().mutex);
        table().unreapedChildren.push_back(state->pid);
    }
}

struct SpawnRequest
{
    std::string program;
    std::vector<std::string> arguments; // argv, argv[0] included
    const char *directory = nullptr;
    bool nullStreams = false;
    std::vector<std::string> environment; // empty: inherit
    bool customEnvironment = false;
};

// Starts the program without a shell. The child keeps only descriptors 0-2, starts with default
// signal handling and an empty mask; a program that cannot be executed is reported as a failure.
bool spawnProcess(const SpawnRequest &request, std::shared_ptr<ProcessState> &state, int &error)
{
    std::vector<char *> argv;
    for (const std::string &argument : request.arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char *> envp;
    if (request.customEnvironment) {
        for (const std::string &entry : request.environment) {
            envp.push_back(const_cast<char *>(entry.c_str()));
        }
        envp.push_back(nullptr);
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        error = ENOMEM;
        return false;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        error = ENOMEM;
        return false;
    }
    int result = 0;
    if (request.nullStreams) {
        result = result ? result : posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        result = result ? result : posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        result = result ? result : posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (request.directory) {
        result = result ? result : posix_spawn_file_actions_addchdir_np(&actions, request.directory);
    }
    result = result ? result : posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    result = result ? result : posix_spawnattr_setsigmask(&attributes, &empty);
    result = result ? result : posix_spawnattr_setsigdefault(&attributes, &all);
    result = result ? result
                    : posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    if (result == 0) {
        result = posix_spawn(&pid, request.program.c_str(), &actions, &attributes, argv.data(),
                             request.customEnvironment ? envp.data() : environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error = result;
        return false;
    }
    state = std::make_shared<ProcessState>();
    state->pid = pid;
    watchChild(state);
    return true;
}

HANDLE newProcessHandle(const std::shared_ptr<ProcessState> &state)
{
    WinHandle *handle = new WinHandle(HandleKind::Process);
    handle->process = state;
    return registerHandle(handle);
}

std::shared_ptr<ProcessState> processOf(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(table().mutex);
    auto it = table().handles.find(static_cast<WinHandle *>(handle));
    if (it == table().handles.end() || (*it)->kind != HandleKind::Process) {
        return nullptr;
    }
    return (*it)->process;
}

struct Apartment
{
    int count = 0;
    DWORD kind = 0;
};
thread_local Apartment t_apartment;

} // namespace

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD error)
{
    t_lastError = error;
}

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name)
{
    const uint64_t size = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    // Only paging-file backed mappings exist here, and they need a size.
    if (file != INVALID_HANDLE_VALUE || size == 0 || size > static_cast<uint64_t>(INT64_MAX) ||
        (protect != PAGE_READWRITE && protect != PAGE_READONLY)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path;
    int fd = -1;
    bool existed = false;
    if (name && *name) {
        // A named mapping lives in this user's private runtime folder, as it would live in the user's own
        // session namespace: no other account can create or squat the name there.
        path = RuntimeLocation::objectPath(name);
        if (path.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (RuntimeLocation::ensure(nullptr).empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        const int access = protect == PAGE_READWRITE ? O_RDWR : O_RDONLY;
        for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
            fd = open(path.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
            if (fd >= 0) {
                existed = false;
                break;
            }
            if (errno != EEXIST) {
                break;
            }
            // O_NONBLOCK: whatever sits at the name must not hold the open; only a regular file is used.
            fd = open(path.c_str(), access | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
            if (fd >= 0) {
                existed = true;
            } else if (errno != ENOENT) {
                break; // removed in between: try to create it again
            }
        }
        if (fd < 0) {
            // A link, a folder or a device at the name: something other than this user's object has it.
            const bool foreign = errno == ELOOP || errno == EISDIR || errno == ENXIO || errno == ENODEV;
            SetLastError(foreign ? ERROR_ACCESS_DENIED : errorFromErrno(errno));
            return nullptr;
        }
    } else {
        fd = memfd_create("mapping", MFD_CLOEXEC);
        if (fd < 0) {
            SetLastError(errorFromErrno(errno));
            return nullptr;
        }
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        SetLastError(errorFromErrno(error));
        return nullptr;
    }
    if (existed) {
        // Something that is not a plain object of this user is never ours to use.
        if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
            close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if ((info.st_mode & 077) != 0) {
            fchmod(fd, 0600);
        }
    }
    if (static_cast<uint64_t>(info.st_size) < size) {
        if (protect != PAGE_READWRITE || ftruncate(fd, static_cast<off_t>(size)) != 0) {
            const int error = protect != PAGE_READWRITE ? EACCES : errno;
            close(fd);
            if (!existed && !path.empty()) {
                unlink(path.c_str());
            }
            SetLastError(errorFromErrno(error));
            return nullptr;
        }
    }
    WinHandle *handle = new WinHandle(HandleKind::Mapping);
    handle->fd = fd;
    handle->name = path;
    handle->size = std::max<uint64_t>(size, static_cast<uint64_t>(info.st_size));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return registerHandle(handle);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, size_t bytes)
{
    int fd = -1;
    uint64_t size = 0;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        auto it = table().handles.find(static_cast<WinHandle *>(mapping));
        if (it == table().handles.end() || (*it)->kind != HandleKind::Mapping) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        fd = (*it)->fd;
        size = (*it)->size;
    }
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset >= size || offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0 ||
        bytes > size - offset) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const size_t length = bytes ? bytes : static_cast<size_t>(size - offset);
    const int protection = (desiredAccess & (FILE_MAP_WRITE | FILE_MAP_ALL_ACCESS)) == FILE_MAP_READ
                               ? PROT_READ
                               : PROT_READ | PROT_WRITE;
    void *base = mmap(nullptr, length, protection, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        SetLastError(errorFromErrno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(table().mutex);
    table().views[base] = length;
    return base;
}

BOOL UnmapViewOfFile(LPCVOID base)
{
    size_t length = 0;
    {
        std::lock_guard<std::mutex> lock(table().mutex);
        auto it = table().views.find(base);
        if (it == table().views.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        length = it->second;
        table().views.erase(it);
    }
    munmap(const_cast<void *>(base), length);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    WinHandle *object = takeHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->kind == HandleKind::Mapping) {
        close(object->fd);
        if (!object->name.empty()) {
            unlink(object->name.c_str());
        }
    }
    // A process handle only drops its share of the state; the reaper thread keeps the rest.
    delete object;
    return TRUE;
}

BOOL IsDebuggerPresent()
{
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FALSE;
    }
    char buffer[4096];
    size_t used = 0;
    ssize_t got;
    while (used < sizeof(buffer) - 1 && (got = read(fd, buffer + used, sizeof(buffer) - 1 - used)) > 0) {
        used += static_cast<size_t>(got);
    }
    close(fd);
    buffer[used] = '\0';
    const char *field = strstr(buffer, "\nTracerPid:");
    if (!field) {
        return FALSE;
    }
    return strtol(field + strlen("\nTracerPid:"), nullptr, 10) != 0 ? TRUE : FALSE;
}

HMODULE LoadLibraryA(LPCSTR name)
{
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string file = name;
    for (char &c : file) {
        if (c == '\\') {
            c = '/';
        }
    }
    void *library = nullptr;
    if (file.find('/') != std::string::npos) {
        library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        const size_t dot = file.rfind('.');
        if (dot != std::string::npos && strcasecmp(file.c_str() + dot, ".dll") == 0) {
            file = "lib" + file.substr(0, dot) + ".so";
        }
        const std::string beside = executableFolder() + "/" + file;
        if (exists(beside)) {
            library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!library) {
            library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return library;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (!module || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    dlerror();
    void *symbol = dlsym(module, name);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FARPROC function;
    static_assert(sizeof(function) == sizeof(symbol), "function and data pointers differ in size");
    memcpy(&function, &symbol, sizeof(function));
    return function;
}

BOOL FreeLibrary(HMODULE module)
{
    if (!module || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit)
{
    if (reserved) {
        return E_INVALIDARG;
    }
    const DWORD kind = coInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.count == 0) {
        t_apartment.kind = kind;
        t_apartment.count = 1;
        return S_OK;
    }
    if (t_apartment.kind != kind) {
        return RPC_E_CHANGED_MODE;
    }
    ++t_apartment.count;
    return S_FALSE;
}

void CoUninitialize()
{
    if (t_apartment.count > 0) {
        --t_apartment.count;
    }
}

BOOL SHGetSpecialFolderPathA(HWND, LPSTR path, int csidl, BOOL)
{
    if (!path || (csidl & 0xff) != CSIDL_SYSTEMX86) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char *folder = getenv("TARN_SYSTEMX86_DIR");
    if (!folder || !*folder) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const size_t length = strlen(folder);
    if (length >= MAX_PATH) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(path, folder, length + 1);
    return TRUE;
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW *info)
{
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto fail = [info](DWORD error) {
        info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(error <= 32 ? error : 31));
        SetLastError(error);
        return FALSE;
    };
    if (info->cbSize != 60 && info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        info->hProcess = nullptr;
    }
    if (info->lpVerb && *info->lpVerb) {
        const std::string verb = cv::wstring_to_string_utf8(info->lpVerb);
        if (verb != "open" && verb != "runas") {
            return fail(ERROR_INVALID_PARAMETER);
        }
    }
    if (!info->lpFile || !*info->lpFile) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    std::string file = cv::wstring_to_string_utf8(info->lpFile);
    for (char &c : file) {
        if (c == '\\') {
            c = '/';
        }
    }
    SpawnRequest request;
    request.program = resolveProgram(file, false);
    request.arguments.push_back(file);
    if (info->lpParameters) {
        for (const std::string &argument :
             CommandLineSplitter::split(cv::wstring_to_string_utf8(info->lpParameters))) {
            request.arguments.push_back(argument);
        }
    }
    std::string directory;
    if (info->lpDirectory && *info->lpDirectory) {
        directory = cv::wstring_to_string_utf8(info->lpDirectory);
        request.directory = directory.c_str();
    }
    std::shared_ptr<ProcessState> state;
    int error = 0;
    if (!spawnProcess(request, state, error)) {
        return fail(errorFromErrno(error));
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(33));
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        info->hProcess = newProcessHandle(state);
    }
    return TRUE;
}

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION processInformation)
{
    SpawnRequest request;
    if (commandLine) {
        request.arguments = CommandLineSplitter::split(commandLine);
    }
    std::string program;
    if (applicationName && *applicationName) {
        program = applicationName;
        if (request.arguments.empty()) {
            request.arguments.push_back(program);
        }
    } else if (!request.arguments.empty()) {
        program = request.arguments.front();
    }
    if (program.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    request.program = resolveProgram(program, true);
    request.nullStreams = (creationFlags & CREATE_NO_WINDOW) != 0;
    if (currentDirectory && *currentDirectory) {
        request.directory = currentDirectory;
    }
    if (environment) {
        // A Windows environment block: "NAME=value" strings, each ended by NUL, the block by another NUL.
        request.customEnvironment = true;
        for (const char *entry = static_cast<const char *>(environment); *entry; entry += strlen(entry) + 1) {
            request.environment.emplace_back(entry);
        }
    }
    std::shared_ptr<ProcessState> state;
    int error = 0;
    if (!spawnProcess(request, state, error)) {
        SetLastError(errorFromErrno(error));
        return FALSE;
    }
    if (processInformation) {
        processInformation->hProcess = newProcessHandle(state);
        processInformation->hThread = nullptr;
        processInformation->dwProcessId = static_cast<DWORD>(state->pid);
        processInformation->dwThreadId = static_cast<DWORD>(state->pid);
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    const std::shared_ptr<ProcessState> state = processOf(handle);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    if (milliseconds == INFINITE) {
        state->ended.wait(lock, [&] { return state->done; });
        return WAIT_OBJECT_0;
    }
    return state->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return state->done; })
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
}

BOOL GetExitCodeProcess(HANDLE process, DWORD *exitCode)
{
    const std::shared_ptr<ProcessState> state = processOf(process);
    if (!state || !exitCode) {
        SetLastError(state ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->done) {
        *exitCode = STILL_ACTIVE;
    } else if (WIFSIGNALED(state->status)) {
        *exitCode = 128u + static_cast<DWORD>(WTERMSIG(state->status));
    } else {
        *exitCode = static_cast<DWORD>(WEXITSTATUS(state->status));
    }
    return TRUE;
}
