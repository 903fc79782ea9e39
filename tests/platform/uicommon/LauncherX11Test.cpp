#include "LauncherHelperPath.h"
#include "TestProcess.h"
#include "XDesktop.h"
#include "wAppLauncher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <dlfcn.h>
#include <signal.h>

#include <memory>

// Xlib last: its macros must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// Reads the stacking order of a private X server through libX11, loaded at run time.
class XProbe
{
public:
    bool open(const QByteArray &display)
    {
        m_lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!m_lib)
            return false;
        m_open = reinterpret_cast<decltype(m_open)>(::dlsym(m_lib, "XOpenDisplay"));
        m_close = reinterpret_cast<decltype(m_close)>(::dlsym(m_lib, "XCloseDisplay"));
        m_root = reinterpret_cast<decltype(m_root)>(::dlsym(m_lib, "XDefaultRootWindow"));
        m_tree = reinterpret_cast<decltype(m_tree)>(::dlsym(m_lib, "XQueryTree"));
        m_prop = reinterpret_cast<decltype(m_prop)>(::dlsym(m_lib, "XGetWindowProperty"));
        m_atom = reinterpret_cast<decltype(m_atom)>(::dlsym(m_lib, "XInternAtom"));
        m_attr = reinterpret_cast<decltype(m_attr)>(::dlsym(m_lib, "XGetWindowAttributes"));
        m_free = reinterpret_cast<decltype(m_free)>(::dlsym(m_lib, "XFree"));
        if (!m_open || !m_close || !m_root || !m_tree || !m_prop || !m_atom || !m_attr || !m_free)
            return false;
        m_display = m_open(display.constData());
        return m_display != nullptr;
    }
    ~XProbe()
    {
        if (m_display)
            m_close(m_display);
    }

    // The pid owning the highest viewable top-level window among `pids`, 0 when none is shown.
    qint64 topmost(const QList<qint64> &pids)
    {
        const Atom wmPid = m_atom(m_display, "_NET_WM_PID", False);
        Window rootReturn, parent, *children = nullptr;
        unsigned int count = 0;
        qint64 top = 0;
        if (!m_tree(m_display, m_root(m_display), &rootReturn, &parent, &children, &count))
            return 0;
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (!m_attr(m_display, children[i], &attributes) || attributes.map_state != IsViewable)
                continue;
            Atom type;
            int format;
            unsigned long items, after;
            unsigned char *data = nullptr;
            if (m_prop(m_display, children[i], wmPid, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                       &after, &data) == Success &&
                data && items == 1) {
                const qint64 pid = static_cast<qint64>(*reinterpret_cast<unsigned long *>(data));
                if (pids.contains(pid))
                    top = pid;
            }
            if (data)
                m_free(data);
        }
        if (children)
            m_free(children);
        return top;
    }

private:
    void *m_lib = nullptr;
    Display *m_display = nullptr;
    decltype(&XOpenDisplay) m_open = nullptr;
    decltype(&XCloseDisplay) m_close = nullptr;
    decltype(&XDefaultRootWindow) m_root = nullptr;
    decltype(&XQueryTree) m_tree = nullptr;
    decltype(&XGetWindowProperty) m_prop = nullptr;
    decltype(&XInternAtom) m_atom = nullptr;
    decltype(&XGetWindowAttributes) m_attr = nullptr;
    decltype(&XFree) m_free = nullptr;
};

} // namespace

class TestLauncherX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void raisesTheRegisteredProcessWindow();
    void falseWithoutProcessOrWindow();

private:
    void startHelper(TestProcess *helper, const QString &name);
    XDesktop m_desktop{XDesktop::NoTrayHost, QSize(640, 480)};
    QByteArray m_display;
};

void TestLauncherX11::initTestCase()
{
    QVERIFY2(QFileInfo(launcherHelperPath()).isExecutable(), qPrintable(launcherHelperPath()));
    QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
    m_display = m_desktop.display().toLatin1();
    qputenv("DISPLAY", m_display);
}

void TestLauncherX11::startHelper(TestProcess *helper, const QString &name)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromLatin1(m_display));
    env.insert("QT_QPA_PLATFORM", "xcb");
    helper->setProcessEnvironment(env);
    helper->start(launcherHelperPath(), {name, "60"});
    QVERIFY(helper->waitForStarted(5000));
    QCOMPARE(helper->readOutputLine(10000), QByteArray("startApp 1"));
}

void TestLauncherX11::raisesTheRegisteredProcessWindow()
{
    XProbe probe;
    QVERIFY(probe.open(m_display));
    TestProcess installer, other;
    startHelper(&installer, "Demo.install");
    const qint64 installerPid = installer.processId();
    QTRY_COMPARE_WITH_TIMEOUT(probe.topmost({installerPid}), installerPid, 10000);
    startHelper(&other, "Other.main");
    const qint64 otherPid = other.processId();
    QTRY_COMPARE_WITH_TIMEOUT(probe.topmost({installerPid, otherPid}), otherPid, 10000);

    QVERIFY(wAppLauncher::getInstance()->bringAppToTop("Demo.install"));
    QTRY_COMPARE_WITH_TIMEOUT(probe.topmost({installerPid, otherPid}), installerPid, 3000);
    QVERIFY(wAppLauncher::getInstance()->bringAppToTop("Other.main"));
    QTRY_COMPARE_WITH_TIMEOUT(probe.topmost({installerPid, otherPid}), otherPid, 3000);
}

void TestLauncherX11::falseWithoutProcessOrWindow()
{
    wAppLauncher *launcher = wAppLauncher::getInstance();
    QVERIFY(!launcher->bringAppToTop("Demo.uninstall"));
    // Registered but without a window: this process has none.
    QCOMPARE(launcher->startApp("Windowless.main"), 1);
    QVERIFY(!launcher->bringAppToTop("Windowless.main"));
    // A registered process that was killed has no registration left to raise.
    TestProcess gone;
    startHelper(&gone, "Gone.main");
    ::kill(static_cast<pid_t>(gone.processId()), SIGKILL);
    QVERIFY(gone.waitForFinished(5000));
    QVERIFY(!launcher->bringAppToTop("Gone.main"));
}

QTEST_GUILESS_MAIN(TestLauncherX11)
#include "LauncherX11Test.moc"
