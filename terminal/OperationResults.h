// Reading an operation's results out of the terminal's answer into the caller's buffers.
//
// The interface hands output buffers without their sizes; each operation passes the capacity
// its callers provide for that output, and a longer text is cut to fit (never written past).
#pragma once

#include <cstddef>
#include <string>

#include "OutputCapacities.h"

class CJsonObject;

namespace countermate::terminal {

// The capacities the callers of the interface provide.
using countermate::kBase64PhotoCapacity;
using countermate::kBase64FrameCapacity;
using countermate::kBase64PictureCapacity;
using countermate::kCapturedImageCapacity;
using countermate::kDeviceInfoCapacity;
using countermate::kFingerDataCapacity;
using countermate::kLongTextCapacity;
using countermate::kScreenImageCapacity;
using countermate::kShortTextCapacity;
using countermate::kVideoFrameCapacity;

// Capacity of the card's fingerprint data as Base64 text.
constexpr int kCardFingerDataCapacity = 10240;

// Copies `text` into `out` (terminated, cut to `capacity` - 1 bytes). A null `out` is skipped.
void CopyText(const std::string& text, char* out, size_t capacity);

// Copies the string member `name` of the answer's `data` into `out` (terminated, cut to
// `capacity` - 1 bytes). A missing member leaves `out` untouched.
void CopyDataText(const CJsonObject& answer, const char* name, char* out, size_t capacity);

// Stores the numeric member `name` of the answer's `data` in `out`. A missing member, or a null
// `out`, leaves it untouched.
void CopyDataInteger(const CJsonObject& answer, const char* name, int* out);
void CopyDataNumber(const CJsonObject& answer, const char* name, double* out);

}  // namespace countermate::terminal
