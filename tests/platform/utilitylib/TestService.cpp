// Service modules for the loader tests; SERVICE_KIND selects how each one misbehaves.
#include "ETLLib.h"

#define SERVICE_GOOD 0
#define SERVICE_NO_STOP 1
#define SERVICE_START_FAILS 2

extern "C" __attribute__((visibility("default"))) int ServiceStart()
{
    etlModuleTrace(5, "N:TestService", "%s start", SERVICE_NAME);
    return SERVICE_KIND == SERVICE_START_FAILS ? 3 : 0;
}

#if SERVICE_KIND != SERVICE_NO_STOP
extern "C" __attribute__((visibility("default"))) void ServiceStop()
{
    etlModuleTrace(5, "N:TestService", "%s stop", SERVICE_NAME);
}
#endif
