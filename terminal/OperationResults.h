// Reading an operation's results out of the terminal's answer into the caller's buffers.
//
// The interface hands output buffers without their sizes; each operation passes the capacity
// its callers provide for that output, and a longer text is cut to fit (never written past).
#pragma once

#include <cstddef>
#include <string>

class CJsonObject;

namespace countermate::terminal {

// Capacity of the short texts: device id, versions, serial numbers, typed numbers, stored values.
constexpr size_t kShortTextCapacity = 200;
// Capacity of each device identity field of GetDevAndModulesInfo.
constexpr size_t kDeviceInfoCapacity = 96;
// Capacity of the long texts: codes, recognised text, card answers, file lists, module states.
constexpr size_t kLongTextCapacity = 1024;
// Capacity of the fingerprint data text.
constexpr size_t kFingerDataCapacity = 3000;
// Capacity of a picture as Base64 text (card sides, fingerprints, signatures).
constexpr int kBase64PictureCapacity = 1024 * 1024;
// Capacity of a photo as Base64 text (camera photos, scene photos).
constexpr int kBase64PhotoCapacity = 2 * 1024 * 1024;
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
