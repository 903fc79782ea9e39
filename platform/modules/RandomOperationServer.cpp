#include "RandomOperationServer.h"

#include "ModuleTrace.h"
#include "RandomOperator.h"

#include <QCoreApplication>
#include <QPointer>

namespace {
QPointer<RandomOperator> g_operator;
const int kDefaultIntervalMs = 3000;
} // namespace

bool startRandomOperationServer()
{
    MODULE_TRACE();
    if (g_operator)
        return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    bool ok = false;
    int interval = qEnvironmentVariableIntValue("TARN_RANDOM_INTERVAL_MS", &ok);
    if (!ok || interval < 100)
        interval = kDefaultIntervalMs;
    g_operator = new RandomOperator(interval, app);
    return true;
}
