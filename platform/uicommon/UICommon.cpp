#include "UICommon.h"

#include "ETLLib.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

namespace {

std::string homeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && *home) {
        return home;
    }
    if (const passwd *pw = ::getpwuid(::getuid())) {
        if (pw->pw_dir && *pw->pw_dir) {
            return pw->pw_dir;
        }
    }
    return "/tmp";
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// "de_DE.UTF-8@euro" -> "de", "DE", the part after the language and territory is dropped.
void splitLocale(const std::string &locale, std::string &language, std::string &territory)
{
    const size_t end = locale.find_first_of(".@");
    const std::string base = locale.substr(0, end);
    const size_t underscore = base.find('_');
    language = base.substr(0, underscore);
    territory = underscore == std::string::npos ? std::string() : base.substr(underscore + 1);
}

} // namespace

std::string getAppDocPath()
{
    // Relative XDG values are invalid and ignored, as the base-directory rules ask.
    const char *data = std::getenv("XDG_DATA_HOME");
    std::string root = (data && data[0] == '/') ? std::string(data) : homeFolder() + "/.local/share";
    return withoutTrailingSlashes(root) + "/tarn-desktop";
}

float getCurrentDpiSize()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        return 1.0f;
    }
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return 1.0f;
    }
    const double scale = screen->logicalDotsPerInch() / 96.0 * screen->devicePixelRatio();
    return (std::isfinite(scale) && scale > 0.0) ? static_cast<float>(scale) : 1.0f;
}

std::string dpiSize2String(float scale)
{
    static const struct
    {
        float value;
        const char *text;
    } steps[] = {{1.0f, "1"}, {1.25f, "1.25"}, {1.5f, "1.5"}, {2.0f, "2"}};
    if (std::isnan(scale) || scale < 0.0f) {
        return "1";
    }
    // Halfway between two steps goes to the larger one: sharper images rather than blurred ones.
    const char *best = steps[0].text;
    float bestDistance = std::fabs(scale - steps[0].value);
    for (const auto &step : steps) {
        const float distance = std::fabs(scale - step.value);
        if (distance <= bestDistance) {
            best = step.text;
            bestDistance = distance;
        }
    }
    return best;
}

QString toQString(const std::string &text, bool local8Bit)
{
    const int size = static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(INT32_MAX)));
    return local8Bit ? QString::fromLocal8Bit(text.data(), size) : QString::fromUtf8(text.data(), size);
}

std::string registryGetProgrameLang()
{
    std::string locale;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    std::string language;
    std::string territory;
    splitLocale(locale, language, territory);
    if (language.empty() || language == "C" || language == "POSIX") {
        return std::string();
    }
    if (language == "de") {
        return "German";
    }
    if (language == "fr") {
        return "French";
    }
    if (language == "en") {
        return "English";
    }
    if (language == "zh" &&
        (territory == "CN" || territory == "SG" || territory.compare(0, 4, "Hans") == 0)) {
        return "ChineseSimplified";
    }
    return std::string();
}

QDateTime GetLocalTime()
{
    return QDateTime::currentDateTime();
}

BOOL AutoCreateProcessInJobA(LPCSTR applicationName, LPSTR commandLine,
                             LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                             BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                             LPCSTR currentDirectory)
{
    if (!commandLine || !*commandLine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        etlModuleTrace(4, "W:UICommon", "no command line to start");
        return FALSE;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
                        creationFlags, environment, currentDirectory, &startup, &info)) {
        const DWORD error = GetLastError();
        etlModuleTrace(4, "W:UICommon", "cannot start \"%s\" (error %u)", commandLine, error);
        SetLastError(error);
        return FALSE;
    }
    // The job of a Windows process becomes a tracing grant here: the child (a dump tool) may attach to us
    // even where Yama allows tracing only of descendants. One grant at a time; the latest child holds it.
    // Without Yama the call fails harmlessly because any same-user process may attach anyway.
    if (::prctl(PR_SET_PTRACER, static_cast<unsigned long>(info.dwProcessId), 0, 0, 0) != 0) {
        etlModuleTrace(7, "D:UICommon", "no tracing grant for %u", info.dwProcessId);
    }
    if (info.hThread) {
        CloseHandle(info.hThread);
    }
    if (info.hProcess) {
        CloseHandle(info.hProcess);
    }
    return TRUE;
}
