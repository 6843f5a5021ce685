// The sizes of the output buffers that callers of CCounterMate provide. The interface hands its
// output buffers without their sizes, so the caller allocates these capacities and the driver
// never writes more (a longer text is cut to fit, a Base64 text that would not fit is left empty).
#pragma once

#include <cstddef>

namespace countermate {

// Short texts: device id, versions, serial numbers, typed numbers, stored values.
constexpr size_t kShortTextCapacity = 200;
// Each device identity field of GetDevAndModulesInfo.
constexpr size_t kDeviceInfoCapacity = 96;
// Long texts: codes, recognised text, card answers, file lists, module states, evaluations.
constexpr size_t kLongTextCapacity = 1024;
// The fingerprint data text.
constexpr size_t kFingerDataCapacity = 3000;
// A picture as Base64 text (card photo and sides, fingerprints, signatures).
constexpr int kBase64PictureCapacity = 1024 * 1024;
// A photo as Base64 text (camera photos, scene photos).
constexpr int kBase64PhotoCapacity = 2 * 1024 * 1024;
// A camera frame of GetVideoData (JPEG bytes).
constexpr int kVideoFrameCapacity = 10 * 1024 * 1024;
// A frame as Base64 text: GetVideoData_Base64 and SignNameScreen_GetScreenBase64.
constexpr int kBase64FrameCapacity = 4 * 1024 * 1024;
// A signing-screen image of SignNameScreen_GetScreen (image bytes).
constexpr int kScreenImageCapacity = 5 * 1024 * 1024;
// The captured image of GetCapturedImage (JPEG bytes).
constexpr int kCapturedImageCapacity = 2 * 1024 * 1024;

}  // namespace countermate
