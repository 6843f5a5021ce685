#include "CameraLog.h"

namespace docscope {

CLogTracker& CameraLog() {
  static CLogTracker tracker("", "DOCSCOPE", "DRV_DOCSCOPE");
  return tracker;
}

EntryTrace::EntryTrace(const char* entry) : m_entry(entry) { CAM_TRACE(m_entry, "Enter-"); }

EntryTrace::~EntryTrace() { CAM_TRACE(m_entry, "Exit-"); }

}  // namespace docscope
