#include "wAppLauncher.h"

#include "ETLLib.h"
#include "RuntimeFolder.h"
#include "UniqueFd.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

// Xlib comes last: its macros (Bool, Status, None, ...) must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

// Layout below the runtime folder:
//   launcher/<encoded name>/.lock   serialises registering and counting under one name
//   launcher/<encoded name>/<pid>   one file per registered process, flock'ed for its lifetime
// A registration file whose lock can be taken belongs to a process that is gone, whatever its pid is
// now used for, and is removed by whoever sees it.

namespace {

const char kTagW[] = "W:Launcher";
const char kTagD[] = "D:Launcher";
const int kNameLockWaitMs = 3000;

std::string hexByte(unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string{'%', digits[c >> 4], digits[c & 0xF]};
}

// Percent-encoding keeps names apart ("a b" and "a%20b" never share a folder) and never yields a
// separator, "." or "..". Very long names keep a prefix and a hash of the whole name.
std::string encodeName(const std::string &name)
{
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
            c == '-')
            out += static_cast<char>(c);
        else
            out += hexByte(c);
    }
    if (out.size() > 200) {
        uint64_t hash = 1469598103934665603ULL;
        for (unsigned char c : name) {
            hash ^= c;
            hash *= 1099511628211ULL;
        }
        char tail[24];
        snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
        out = out.substr(0, 150) + tail;
    }
    return out;
}

// Holds the name-level lock for its lifetime.
class NameLock
{
public:
    explicit NameLock(const std::string &folder)
    {
        const std::string file = folder + "/.lock";
        m_fd.reset(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!m_fd.isValid()) {
            etlModuleTrace(4, kTagW, "cannot open [%s]: %s", file.c_str(), strerror(errno));
            return;
        }
        // Holders only list and create a few files; a holder that is stopped must not hang us forever.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kNameLockWaitMs);
        while (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
                etlModuleTrace(4, kTagW, "cannot lock [%s]: %s", file.c_str(),
                               errno == EWOULDBLOCK ? "held too long by another process" : strerror(errno));
                m_fd.reset();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool locked() const { return m_fd.isValid(); }

    NameLock(const NameLock &) = delete;
    NameLock &operator=(const NameLock &) = delete;

private:
    UniqueFd m_fd;
};

// Lists the processes registered in the folder; call with the name lock held. Stale files are removed.
std::vector<pid_t> livePids(const std::string &folder)
{
    std::vector<pid_t> pids;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return pids;
    const int dirFd = ::dirfd(dir);
    while (dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] < '0' || name[0] > '9')
            continue;
        const UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd.isValid())
            continue;
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            etlModuleTrace(7, kTagD, "removing stale registration [%s/%s]", folder.c_str(), name);
            ::unlinkat(dirFd, name, 0);
        } else if (errno == EWOULDBLOCK) {
            pids.push_back(static_cast<pid_t>(strtol(name, nullptr, 10)));
        }
    }
    ::closedir(dir);
    return pids;
}

// libX11 is loaded when first needed, so the library works (without raising windows) where it is
// missing and never ties the process to an X connection it does not use.
struct XApi
{
    bool loaded = false;
    decltype(&XOpenDisplay) openDisplay = nullptr;
    decltype(&XCloseDisplay) closeDisplay = nullptr;
    decltype(&XDefaultRootWindow) defaultRootWindow = nullptr;
    decltype(&XInternAtom) internAtom = nullptr;
    decltype(&XGetWindowProperty) getWindowProperty = nullptr;
    decltype(&XFree) free = nullptr;
    decltype(&XQueryTree) queryTree = nullptr;
    decltype(&XGetWindowAttributes) getWindowAttributes = nullptr;
    decltype(&XSendEvent) sendEvent = nullptr;
    decltype(&XMapRaised) mapRaised = nullptr;
    decltype(&XSync) sync = nullptr;
    decltype(&XSetErrorHandler) setErrorHandler = nullptr;

    static const XApi *get()
    {
        static const XApi api = load();
        return api.loaded ? &api : nullptr;
    }

private:
    static XApi load()
    {
        XApi api;
        void *lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            etlModuleTrace(4, kTagW, "libX11 not available: %s", dlerror());
            return api;
        }
        bool ok = true;
        auto bind = [&](auto &slot, const char *symbol) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(::dlsym(lib, symbol));
            ok = ok && slot;
        };
        bind(api.openDisplay, "XOpenDisplay");
        bind(api.closeDisplay, "XCloseDisplay");
        bind(api.defaultRootWindow, "XDefaultRootWindow");
        bind(api.internAtom, "XInternAtom");
        bind(api.getWindowProperty, "XGetWindowProperty");
        bind(api.free, "XFree");
        bind(api.queryTree, "XQueryTree");
        bind(api.getWindowAttributes, "XGetWindowAttributes");
        bind(api.sendEvent, "XSendEvent");
        bind(api.mapRaised, "XMapRaised");
        bind(api.sync, "XSync");
        bind(api.setErrorHandler, "XSetErrorHandler");
        api.loaded = ok;
        if (!ok)
            etlModuleTrace(4, kTagW, "libX11 lacks a needed function");
        return api; // the library stays loaded for the process lifetime
    }
};

std::atomic<int> g_xErrors{0};

int countXError(Display *, XErrorEvent *)
{
    // Windows can vanish between listing and asking; the default handler would end the process.
    ++g_xErrors;
    return 0;
}

// Reads a 32-bit list property; empty when absent.
std::vector<unsigned long> listProperty(const XApi &x, Display *dpy, Window window, Atom property, Atom type)
{
    std::vector<unsigned long> values;
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (x.getWindowProperty(dpy, window, property, 0, 65536, False, type, &actualType, &actualFormat, &count,
                            &after, &data) == Success &&
        data && actualType == type && actualFormat == 32) {
        const unsigned long *items = reinterpret_cast<const unsigned long *>(data);
        values.assign(items, items + count);
    }
    if (data)
        x.free(data);
    return values;
}

// Top-level windows in stacking order (bottom first): the window manager's client list when there is
// one, else the root's children and their children (a manager without that list reparents).
std::vector<Window> topLevelWindows(const XApi &x, Display *dpy, Window root, bool *managed)
{
    const Atom clientList = x.internAtom(dpy, "_NET_CLIENT_LIST_STACKING", False);
    std::vector<unsigned long> listed = listProperty(x, dpy, root, clientList, XA_WINDOW);
    if (listed.empty())
        listed = listProperty(x, dpy, root, x.internAtom(dpy, "_NET_CLIENT_LIST", False), XA_WINDOW);
    *managed = !listed.empty();
    if (*managed)
        return std::vector<Window>(listed.begin(), listed.end());

    std::vector<Window> windows;
    Window rootReturn = 0, parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!x.queryTree(dpy, root, &rootReturn, &parent, &children, &count))
        return windows;
    for (unsigned int i = 0; i < count; ++i) {
        windows.push_back(children[i]);
        Window *inner = nullptr;
        unsigned int innerCount = 0;
        if (x.queryTree(dpy, children[i], &rootReturn, &parent, &inner, &innerCount)) {
            windows.insert(windows.end(), inner, inner + innerCount);
            if (inner)
                x.free(inner);
        }
    }
    if (children)
        x.free(children);
    return windows;
}

bool raiseWindowOf(const std::set<pid_t> &pids)
{
    const XApi *x = XApi::get();
    if (!x)
        return false;
    Display *dpy = x->openDisplay(nullptr);
    if (!dpy) {
        etlModuleTrace(6, "I:Launcher", "no X display to raise a window on");
        return false;
    }
    auto previousHandler = x->setErrorHandler(countXError);
    const Window root = x->defaultRootWindow(dpy);
    const Atom wmPid = x->internAtom(dpy, "_NET_WM_PID", False);

    bool managed = false;
    Window target = 0;
    for (Window window : topLevelWindows(*x, dpy, root, &managed)) {
        const std::vector<unsigned long> pid = listProperty(*x, dpy, window, wmPid, XA_CARDINAL);
        if (pid.empty() || !pids.count(static_cast<pid_t>(pid[0])))
            continue;
        XWindowAttributes attributes;
        if (!x->getWindowAttributes(dpy, window, &attributes) || attributes.override_redirect ||
            attributes.c_class == InputOnly)
            continue;
        // Without a manager only windows on screen count: Qt keeps unmapped helper windows too.
        if (!managed && attributes.map_state != IsViewable)
            continue;
        target = window; // the last one found is the highest in the stacking order
    }

    bool sent = false;
    if (target) {
        g_xErrors = 0;
        XEvent event;
        memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = x->internAtom(dpy, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // a pager's request, which managers honour without focus-stealing rules
        event.xclient.data.l[1] = CurrentTime;
        const Status status =
            x->sendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        x->mapRaised(dpy, target);
        x->sync(dpy, False);
        sent = status != 0 && g_xErrors == 0;
        etlModuleTrace(6, "I:Launcher", "raise window 0x%lx: %s", static_cast<unsigned long>(target),
                       sent ? "sent" : "failed");
    }
    x->setErrorHandler(previousHandler);
    x->closeDisplay(dpy);
    return sent;
}

} // namespace

struct wAppLauncher::Private
{
    struct Registration
    {
        std::string folder;
        std::string file;
        UniqueFd fd;
    };

    std::mutex mutex;
    std::map<std::string, Registration> held;
    std::atomic<bool> exiting{false};

    // The folder of a name; created only when asked to.
    static std::string folderOf(const std::string &name, bool create)
    {
        const std::string runtime = RuntimeFolder::path();
        if (runtime.empty())
            return std::string();
        const std::string launcher = runtime + "/launcher";
        const std::string folder = launcher + "/" + encodeName(name);
        if (!create) {
            struct stat st;
            if (::lstat(folder.c_str(), &st) != 0)
                return std::string();
        }
        std::string result;
        if (!RuntimeFolder::prepareChild(runtime, "launcher", nullptr) ||
            !RuntimeFolder::prepareChild(launcher, encodeName(name), &result))
            return std::string();
        return result;
    }

    // Creates and locks this process's file; call with the name lock held.
    static bool registerIn(const std::string &folder, Registration *reg)
    {
        const std::string pid = std::to_string(::getpid());
        // A live process of another pid namespace may hold the same number; take the next free suffix.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string file = folder + "/" + pid + (attempt ? "." + std::to_string(attempt) : "");
            UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
            if (!fd.isValid()) {
                etlModuleTrace(4, kTagW, "cannot create [%s]: %s", file.c_str(), strerror(errno));
                return false;
            }
            if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
                reg->folder = folder;
                reg->file = file;
                reg->fd = std::move(fd);
                return true;
            }
        }
        etlModuleTrace(4, kTagW, "no free registration file in [%s]", folder.c_str());
        return false;
    }
};

wAppLauncher *wAppLauncher::getInstance()
{
    // Lives for the whole process: its registrations must outlast every other object.
    static wAppLauncher *instance = new wAppLauncher;
    return instance;
}

wAppLauncher::wAppLauncher() : d(new Private) {}

wAppLauncher::~wAppLauncher() = default;

int wAppLauncher::startApp(const std::string &name)
{
    if (name.empty()) {
        etlModuleTrace(4, kTagW, "startApp with an empty name refused");
        return 0;
    }
    std::lock_guard<std::mutex> guard(d->mutex);
    const std::string folder = Private::folderOf(name, true);
    // Without a usable runtime folder nothing can be registered or found; going on as the only
    // instance is better than refusing to start at all.
    if (folder.empty()) {
        etlModuleTrace(3, "E:Launcher", "[%s] cannot be registered, going on unregistered", name.c_str());
        return 1;
    }
    NameLock lock(folder);
    if (!lock.locked()) {
        etlModuleTrace(3, "E:Launcher", "[%s] cannot be registered, going on unregistered", name.c_str());
        return 1;
    }
    if (!d->held.count(name)) {
        Private::Registration reg;
        if (!Private::registerIn(folder, &reg))
            return 1;
        d->held[name] = std::move(reg);
    }
    const int count = static_cast<int>(livePids(folder).size());
    etlModuleTrace(6, "I:Launcher", "[%s] registered, %d live", name.c_str(), count);
    return count;
}

int wAppLauncher::getExistAppCount(const std::string &name)
{
    if (name.empty())
        return 0;
    std::lock_guard<std::mutex> guard(d->mutex);
    const std::string folder = Private::folderOf(name, false);
    if (folder.empty())
        return d->held.count(name) ? 1 : 0;
    NameLock lock(folder);
    if (!lock.locked())
        return d->held.count(name) ? 1 : 0;
    return static_cast<int>(livePids(folder).size());
}

bool wAppLauncher::bringAppToTop(const std::string &name)
{
    std::set<pid_t> pids;
    {
        std::lock_guard<std::mutex> guard(d->mutex);
        const std::string folder = name.empty() ? std::string() : Private::folderOf(name, false);
        if (folder.empty())
            return false;
        NameLock lock(folder);
        if (!lock.locked())
            return false;
        for (pid_t pid : livePids(folder))
            pids.insert(pid);
    }
    if (pids.empty()) {
        etlModuleTrace(6, "I:Launcher", "[%s] not running, nothing to raise", name.c_str());
        return false;
    }
    return raiseWindowOf(pids);
}

void wAppLauncher::setAppMainExitFlag()
{
    d->exiting = true;
    std::lock_guard<std::mutex> guard(d->mutex);
    // Dropping the registrations now lets a start during our teardown become the new instance
    // instead of talking to one that is going away.
    for (auto &entry : d->held) {
        Private::Registration &reg = entry.second;
        NameLock lock(reg.folder);
        ::unlink(reg.file.c_str());
        reg.fd.reset();
        etlModuleTrace(6, "I:Launcher", "[%s] registration dropped at exit", entry.first.c_str());
    }
    d->held.clear();
}

bool wAppLauncher::exitFlag() const
{
    return d->exiting;
}

bool wAppLauncher::isRegistered() const
{
    std::lock_guard<std::mutex> guard(d->mutex);
    return !d->held.empty();
}
