// Reading an operation's results out of the terminal's answer into the caller's buffers.
//
// The interface hands output buffers without their sizes; each operation passes the capacity
// its callers provide for that output, and a longer text is cut to fit (never written past).
#pragma once

#include <cstddef>

class CJsonObject;

namespace countermate::terminal {

// Capacity of the short texts: device id, versions, serial numbers, typed numbers.
constexpr size_t kShortTextCapacity = 200;

// Copies the string member `name` of the answer's `data` into `out` (terminated, cut to
// `capacity` - 1 bytes). A missing member leaves `out` untouched.
void CopyDataText(const CJsonObject& answer, const char* name, char* out, size_t capacity);

}  // namespace countermate::terminal
