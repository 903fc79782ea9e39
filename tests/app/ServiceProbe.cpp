// A service module for the loader tests: records its start and stop in $TARN_SERVICE_PROBE_LOG.
#include <cstdio>
#include <cstdlib>

#ifndef PROBE_NAME
#error PROBE_NAME must name the module
#endif

static void record(const char *what)
{
    const char *path = std::getenv("TARN_SERVICE_PROBE_LOG");
    if (!path) {
        return;
    }
    if (FILE *file = std::fopen(path, "a")) {
        std::fprintf(file, "%s %s\n", what, PROBE_NAME);
        std::fclose(file);
    }
}

extern "C" __attribute__((visibility("default"))) int ServiceStart()
{
    record("start");
    return 0;
}

extern "C" __attribute__((visibility("default"))) void ServiceStop()
{
    record("stop");
}
