#include "HeartbeatRecord.h"
#include "WddmpCommandLine.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

namespace {

const int64_t kHangSeconds = 30;

int64_t hangSeconds()
{
    const char *text = getenv("TARN_WDDMP_HANG_SECONDS");
    if (text == nullptr || *text == '\0')
        return kHangSeconds;
    char *end = nullptr;
    const long value = strtol(text, &end, 10);
    // The limit can be lowered (for tests), never raised or switched off.
    if (*end != '\0' || value < 1 || value > kHangSeconds)
        return kHangSeconds;
    return value;
}

bool processGone(pid_t pid)
{
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z' ||
           text[close + 2] == 'X';
}

std::string localStamp()
{
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y%m%d-%H%M%S", &local);
    return text;
}

// Runs the dump tool against the hung process and waits for it.
bool dumpHungProcess(const WddmpCommandLine &command)
{
    std::string tool = command.dumpTool;
    struct stat st;
    if (stat(tool.c_str(), &st) != 0 && stat((tool + ".exe").c_str(), &st) == 0)
        tool += ".exe";
    const std::string pid = std::to_string(command.pid);
    const std::string path =
        command.logFolder + "/" + command.prefix + "(" + pid + ")-" + localStamp() + "(h).dmp";
    const char *argv[] = {tool.c_str(), "-accepteula", "-mm", "-n", "1", pid.c_str(), path.c_str(), nullptr};
    fprintf(stderr, "wddmp: process %s is not responding; dumping to %s\n", pid.c_str(), path.c_str());
    const pid_t child = fork();
    if (child < 0) {
        fprintf(stderr, "wddmp: cannot start %s: %s\n", tool.c_str(), strerror(errno));
        return false;
    }
    if (child == 0) {
        execv(argv[0], const_cast<char *const *>(argv));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok)
        fprintf(stderr, "wddmp: %s failed (status %d)\n", tool.c_str(), status);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    const WddmpCommandLine command = WddmpCommandLine::parse(argc, argv);
    if (!command.valid) {
        fputs(WddmpCommandLine::usage(), stderr);
        return 2;
    }
    const int64_t limit = hangSeconds();
    const auto poll = std::chrono::milliseconds(std::min<int64_t>(1000, limit * 1000 / 4));

    HeartbeatRecord record(command.recordName);
    bool dumpedThisStall = false;
    int64_t stalledValue = 0;
    for (;;) {
        if (processGone(command.pid))
            return 0;
        if (record.open()) {
            const int64_t beat = record.read();
            if (beat == 0)
                return 0;
            if (beat != stalledValue)
                dumpedThisStall = false;
            const int64_t age = static_cast<int64_t>(time(nullptr)) - beat;
            // A clock set back makes the age negative: that is no hang.
            if (age > limit && !dumpedThisStall) {
                dumpHungProcess(command);
                dumpedThisStall = true;
                stalledValue = beat;
            }
        }
        std::this_thread::sleep_for(poll);
    }
}
