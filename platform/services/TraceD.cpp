#include "ETLLib.h"

// Entry points looked up by ServiceModule. The trace functions come from the executable that loads
// this module, so its lines follow the program's own trace level and destination.
extern "C" __attribute__((visibility("default"))) int ServiceStart()
{
    etlModuleTrace(5, "N:TraceD", "TraceD service start");
    return 0;
}

extern "C" __attribute__((visibility("default"))) void ServiceStop()
{
    etlModuleTrace(5, "N:TraceD", "TraceD service stop");
}
