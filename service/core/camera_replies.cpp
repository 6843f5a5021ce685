#include "camera_replies.h"

#include "DEV_HUB.h"
#include "camera_preview.h"
#include "reply_format.h"
#include "terminal_call.h"

namespace countermate {

std::string camera_reply(const char* method, int code, const std::string& message) {
    return format_reply(R"({"method":"%s","retVal":%d,"errMsg":"%s"})", {method, code, message});
}

int camera_code(const CameraAnswer& answer, int failure_code, const char* function,
                const char* failure_text) {
    if (answer.ok()) return 0;
    SERVICE_LOG(LOG_LEVEL_ERROR, function, "%s", failure_text);
    return failure_code;
}

std::string terminal_text(int code) { return terminal_error_text(*ctm, code); }

void reset_view_settings() {
    m_edgeDetection = 0;
    m_rotationAngle = 0;
    m_zoomInTimes = 0.0f;
}

int start_terminal_video(int camera) {
    await_preview_release();
    const int opened = ctm->HIDOpenPort();
    if (opened != 0) return opened;
    return ctm->StartVideo(camera);
}

}  // namespace countermate
