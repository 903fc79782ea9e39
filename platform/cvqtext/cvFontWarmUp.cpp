#include "cvFontWarmUp.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

struct WarmUp
{
    std::mutex lock;
    std::thread reader;
    bool started = false;
    std::atomic<bool> finished{false};

    ~WarmUp()
    {
        // A process that ends without its application object still waits for the read.
        if (reader.joinable())
            reader.join();
    }
};

WarmUp &warmUp()
{
    static WarmUp instance;
    return instance;
}

} // namespace

void cvFontWarmUp::start()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    WarmUp &state = warmUp();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.started)
        return;
    state.started = true;
    // The platform's font database must not outlive the application object that owns it.
    qAddPostRoutine(&cvFontWarmUp::finish);
    state.reader = std::thread([&state] {
        const QFontDatabase database;
        (void)database;
        state.finished.store(true, std::memory_order_release);
    });
}

void cvFontWarmUp::finish()
{
    WarmUp &state = warmUp();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.reader.joinable())
        state.reader.join();
}

bool cvFontWarmUp::done()
{
    return warmUp().finished.load(std::memory_order_acquire);
}
