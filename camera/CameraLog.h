// The driver's log: one CLogTracker (camera form, sub-folder "DOCSCOPE", files "DRV_DOCSCOPE_…"),
// made by the first entry that runs and kept until the library unloads.
#pragma once

#include "CLogTracker.h"

namespace docscope {

CLogTracker& CameraLog();

// Writes "Enter-" under the entry's name now and "Exit-" when it goes out of scope.
class EntryTrace {
 public:
  explicit EntryTrace(const char* entry);
  ~EntryTrace();
  EntryTrace(const EntryTrace&) = delete;
  EntryTrace& operator=(const EntryTrace&) = delete;

 private:
  const char* m_entry;
};

}  // namespace docscope

// One INFO line under `function` whenever logging is on.
#define CAM_TRACE(function, ...) docscope::CameraLog().WriteTrace(function, __VA_ARGS__)
