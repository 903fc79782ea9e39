#include "ETLMessageAdapter.h"

#include <mutex>

namespace {
std::mutex g_mutex;
ETLMessageAdapter *g_instance = nullptr;
} // namespace

ETLMessageAdapter::ETLMessageAdapter() = default;
ETLMessageAdapter::~ETLMessageAdapter() = default;

ETLMessageAdapter &ETLMessageAdapter::instance()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_instance) {
        g_instance = new ETLMessageAdapter();
    }
    return *g_instance;
}

void ETLMessageAdapter::releaseInstance()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    delete g_instance;
    g_instance = nullptr;
}

bool ETLMessageAdapter::exists()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_instance != nullptr;
}
