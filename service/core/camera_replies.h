// The shapes the camera requests share, in both camera configurations: the reply with retVal and
// errMsg, the camera driver's answer judged and logged, and the terminal camera's settings.
#pragma once

#include <string>

#include "camera_driver_call.h"
#include "camera_view.h"

namespace countermate {

// {"method":METHOD,"retVal":%d,"errMsg":"%s"}.
std::string camera_reply(const char* method, int code, const std::string& message);

// The code of a camera driver answer: 0 when it succeeded, otherwise `failure_code` with
// `failure_text` logged as ERROR under `function`.
int camera_code(const CameraAnswer& answer, int failure_code, const char* function,
                const char* failure_text);

// The terminal driver's text for `code` (its GetErrMsg).
std::string terminal_text(int code);

// The terminal camera's view settings back to none: no rotation, zoom or edge marking.
void reset_view_settings();

// Hands the preview's camera the terminal port for a preview: open the port, start the video.
// The first failing code, or 0.
int start_terminal_video(int camera);

}  // namespace countermate
