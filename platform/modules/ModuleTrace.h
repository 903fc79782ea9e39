#pragma once

#include "ETLLib.h"

// Every module operation leaves one line whose text is its own name, so the order of bring-up
// and teardown can be read back from the log.
#define MODULE_TRACE() etlModuleTrace(7, "D:Modules", "%s", __func__)
