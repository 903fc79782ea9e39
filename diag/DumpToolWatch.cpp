#include "DumpToolWatch.h"

#include "DumpToolLink.h"
#include "ETLLib.h"
#include "RuntimeFolder.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace {

const char kTag[] = "W:Demo";
const int kRetryMs = 100;
// The tool checks its target before it listens; on a loaded machine that takes a while.
const int kGiveUpMs = 20000;

} // namespace

DumpToolWatch::DumpToolWatch(QObject *parent) : QObject(parent)
{
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &DumpToolWatch::tryConnect);
}

// The link itself stays: a crash during the rest of the shutdown still reaches the tool.
DumpToolWatch::~DumpToolWatch() = default;

void DumpToolWatch::start()
{
    delete m_notifier;
    m_notifier = nullptr;
    const std::string folder = RuntimeFolder::path();
    if (folder.empty()) {
        giveUp("no private runtime folder");
        return;
    }
    m_socketPath = folder + "/" + DumpToolLink::socketName(getpid());
    m_since.start();
    m_retry.start();
}

bool DumpToolWatch::isLinked() const
{
    return m_notifier != nullptr && DumpToolLink::descriptor() >= 0;
}

void DumpToolWatch::tryConnect()
{
    std::string why;
    const DumpToolLink::Attempt attempt = DumpToolLink::connect(m_socketPath, &why);
    if (attempt == DumpToolLink::Attempt::NotYet) {
        if (m_since.elapsed() >= kGiveUpMs)
            giveUp("the dump tool did not answer");
        return;
    }
    m_retry.stop();
    if (attempt == DumpToolLink::Attempt::Refused) {
        giveUp(why.c_str());
        return;
    }
    etlModuleTrace(6, "I:Demo", "dump tool %d is waiting", static_cast<int>(DumpToolLink::toolPid()));
    m_notifier = new QSocketNotifier(DumpToolLink::descriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DumpToolWatch::linkReadable);
}

void DumpToolWatch::linkReadable()
{
    const int tool = static_cast<int>(DumpToolLink::toolPid());
    if (!DumpToolLink::toolGone())
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    etlModuleTrace(4, kTag, "crash dumps are off: dump tool %d ended", tool);
}

void DumpToolWatch::giveUp(const char *why)
{
    m_retry.stop();
    etlModuleTrace(4, kTag, "crash dumps are off: the dump tool cannot be reached: %s", why);
}
