#include "CommandLineSplitter.h"
#include "HandleTable.h"
#include "ProcessState.h"
#include "WinHandle.h"
#include "cvstl.h"
#include "errors.h"
#include "paths.h"
#include "winapi.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

using namespace winapi;

namespace {

bool isExecutableFile(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
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
    bool ownSession = false;
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
    const short flags = static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                           (request.ownSession ? POSIX_SPAWN_SETSID : 0));
    result = result ? result : posix_spawnattr_setflags(&attributes, flags);
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

} // namespace

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
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
    // A program the shell would start runs on by itself, as it does on Windows: ending the starter's
    // process group or session leaves it alone.
    request.ownSession = true;
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
