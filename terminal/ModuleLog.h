// The module-wide log of libCounterMate (log tag "CTM").
#pragma once

#include "CLogTracker.h"

namespace countermate::terminal {

// The tracker made by the latest CreateCounterMate, or null before the first one.
CLogTracker* ModuleLog();
// Makes a new tracker and makes it the module log. Trackers it replaces stay alive until the
// library unloads, since another thread may still be writing through one.
void ReplaceModuleLog();

}  // namespace countermate::terminal

#define CTM_TRACE(level, module, ...)                                      \
    do {                                                                   \
        if (CLogTracker* module_log_ = countermate::terminal::ModuleLog()) \
            module_log_->WriteTrace(level, module, __VA_ARGS__);           \
    } while (0)
