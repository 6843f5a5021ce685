// Camera preview and photo requests: open and close, the preview's start and stop, and photos
// taken while it runs. The preview itself is the stream of camera_preview.h.
#include <cstdio>
#include <cstring>

#include "AUX_X.h"
#include "DEV_HUB.h"
#include "DRV_DOCSCOPE.h"
#include "camera_preview.h"
#include "camera_replies.h"
#include "driver_entries.h"
#include "handler_args.h"
#include "local_paths.h"
#include "reply_format.h"
#include "stream_output.h"

using countermate::CameraAnswer;
using countermate::HandlerArgs;
using countermate::call_camera;
using countermate::camera_code;
using countermate::camera_number_text;
using countermate::camera_reply;
using countermate::format_reply;

namespace {

constexpr const char* kNoPreview = "高拍仪未开始预览";
// Where the camera driver leaves its photo, relative to the working directory.
constexpr const char* kDriverPhoto = "Temp/Camera0.jpg";

void set_stream_method(const char* method) {
    std::memset(m_videoStreamMethod, 0, sizeof m_videoStreamMethod);
    std::strncpy(m_videoStreamMethod, method, sizeof m_videoStreamMethod - 1);
}

void start_preview_for_requester(const char* method) {
    set_stream_method(method);
    countermate::start_preview(countermate::requesting_connection());
}

CameraAnswer close_driver_camera() {
    const CameraAnswer answer = call_camera(pCamClose);
    SERVICE_LOG(LOG_LEVEL_DEBUG, "CamClose", "CamClose():  success = %s, errMsg = %s",
                answer.result.c_str(), answer.message.c_str());
    return answer;
}

CameraAnswer open_driver_camera(const char* method, int camera) {
    countermate::await_preview_release();
    const CameraAnswer answer = call_camera(pCamOpen, camera_number_text(camera));
    SERVICE_LOG(LOG_LEVEL_DEBUG, method, "CamOpen(): success = %s, errMsg = %s",
                answer.result.c_str(), answer.message.c_str());
    return answer;
}

// Ends the preview of another camera before a new one is aimed: the camera closed, or the
// terminal video stopped and its port closed. `stop_log` is the terminal's DEBUG line.
void switch_away_from_preview(const char* method, const char* stop_log) {
    SERVICE_LOG(LOG_LEVEL_DEBUG, method, "摄像头已经打开，正在关闭");
    countermate::stop_preview();
    if (m_isUVCCamera) {
        close_driver_camera();
        return;
    }
    const int stopped = ctm->StopVideo();
    SERVICE_LOG(LOG_LEVEL_DEBUG, method, stop_log, stopped);
    countermate::reset_view_settings();
    ctm->HIDClosePort();
}

// The rename of the camera driver's photo; a failure is not reported.
void move_driver_photo(const std::string& from, const std::string& to) {
    if (to.empty()) return;
    if (!countermate::local_paths_refusal({{"imagePath", to, countermate::PathUse::Write}}).empty())
        return;
    std::rename(from.c_str(), to.c_str());
}

std::string module_photo_path() {
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    return std::string(folder) + kDriverPhoto;
}

struct Photo {
    int code = 0;
    std::string message;
    std::string picture;
};

// A photo of the camera driver's running preview. `failure_code` and `failure_message` are the
// request's own; VideoGetImage moves the photo only when it was taken, CamGetCameraImage always.
Photo driver_photo(const char* method, const std::string& image_path, int failure_code,
                   const char* failure_message, bool video_request) {
    const CameraAnswer answer = call_camera(pCamPhotoBase64, kCamBase64Capacity);
    SERVICE_LOG(LOG_LEVEL_DEBUG, method, "CamPhotoBase64(): success = %s, errMsg = %s",
                answer.result.c_str(), answer.message.c_str());
    Photo photo;
    photo.code = camera_code(answer, failure_code, method, "拍摄成BASE64字符串失败");
    photo.message = photo.code != 0 && failure_message ? failure_message : answer.message;
    photo.picture = answer.output;
    if (!video_request) {
        move_driver_photo(kDriverPhoto, image_path);
    } else if (photo.code == 0) {
        const std::string taken = module_photo_path();
        move_driver_photo(taken, image_path);
        std::remove(taken.c_str());
    }
    return photo;
}

// A photo of the terminal camera's running preview: the preview parks, the terminal takes it.
Photo terminal_photo(const char* log_function, const std::string& image_path) {
    Photo photo;
    const std::string refusal =
        countermate::local_paths_refusal({{"imagePath", image_path, countermate::PathUse::Write}});
    if (!refusal.empty()) {
        photo.code = 1;
        photo.message = refusal;
        return photo;
    }
    countermate::ParkedPreview parked;
    const int result = parked.parked()
                           ? CamGetCameraImage_Passthrough(m_rotationAngle, m_edgeDetection,
                                                           image_path, photo.picture)
                           : 1;
    if (result != 0) {
        photo.code = 1;
        photo.picture.clear();
        SERVICE_LOG(LOG_LEVEL_DEBUG, log_function, "CamGetCameraImage_Passthrough return %d", 1);
    }
    return photo;
}

std::string photo_reply(const char* method, const Photo& photo) {
    return format_reply(std::string(R"({"method":")")
                            .append(method)
                            .append(R"(","retVal":%d,"errMsg":"%s","imgBase64":"%s"})")
                            .c_str(),
                        {photo.code, photo.message, photo.picture});
}

}  // namespace

void CDEV_HUB::CamOpen(std::string args, std::string& reply) {
    const int camera = HandlerArgs(args).integer("cameraNo", 1);
    if (countermate::preview_runs_with(camera)) {
        SERVICE_LOG(LOG_LEVEL_DEBUG, "CamOpen", "摄像头已经打开");
        reply = camera_reply("CamOpen", 0, "");
        return;
    }
    if (countermate::preview_running())
        switch_away_from_preview("CamOpen", "执行ZR_StopVideo:  retVal=%d");
    m_CameraNo = camera;
    if (!m_isUVCCamera) {
        countermate::reset_view_settings();
        reply = camera_reply("CamOpen", 0, "成功");
        return;
    }
    const CameraAnswer answer = open_driver_camera("CamOpen", camera);
    reply = camera_reply("CamOpen", camera_code(answer, 1, "CamOpen", "打开摄像头失败"),
                         answer.message);
}

void CDEV_HUB::CamGetVideoStream(std::string, std::string& reply) {
    if (countermate::preview_running()) return;
    if (m_isUVCCamera) {
        start_preview_for_requester("CamGetVideoStream");
        return;
    }
    m_rotationAngle = 0;
    m_zoomInTimes = 0.0f;
    if (m_CameraNo == 2) m_edgeDetection = 0;
    const int started = countermate::start_terminal_video(m_CameraNo);
    if (started != 0) {
        reply = camera_reply("CamGetVideoStream", started, countermate::terminal_text(started));
        return;
    }
    start_preview_for_requester("CamGetVideoStream");
}

void CDEV_HUB::VideoStart(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int camera = reader.integer("cameraNo", 1);
    const bool edge_detection = camera == 1 && reader.integer("isEdgeDetection", 0) == 1;
    if (countermate::preview_runs_with(camera)) {
        SERVICE_LOG(LOG_LEVEL_DEBUG, "VideoStart", "摄像头已经打开");
        reply = camera_reply("VideoStart", 0, "");
        return;
    }
    if (countermate::preview_running()) {
        switch_away_from_preview("VideoStart", "ZR_StopVideo():  retVal=%d");
    } else if (m_isUVCCamera) {
        const CameraAnswer answer = call_camera(pCamInit, kCamTextCapacity);
        SERVICE_LOG(LOG_LEVEL_DEBUG, "VideoStart",
                    "CamInit(): success = %s, errMsg = %s, state = %s", answer.result.c_str(),
                    answer.message.c_str(), answer.output.c_str());
        if (const int code = camera_code(answer, -19, "VideoStart", "初始化设备失败")) {
            reply = camera_reply("VideoStart", code, answer.message);
            return;
        }
    }
    if (m_isUVCCamera) {
        CameraAnswer answer = open_driver_camera("VideoStart", camera);
        int code = camera_code(answer, -11, "VideoStart", "打开摄像头失败");
        if (code == 0 && edge_detection) {
            answer = call_camera(pCamSetCutType, "1");
            SERVICE_LOG(LOG_LEVEL_DEBUG, "VideoStart",
                        "CamSetCutType():  success = %s, errMsg = %s", answer.result.c_str(),
                        answer.message.c_str());
            code = camera_code(answer, -11, "VideoStart", "设置裁切模式失败");
        }
        if (code != 0) {
            reply = camera_reply("VideoStart", code, answer.message);
            return;
        }
    } else {
        m_rotationAngle = 0;
        m_zoomInTimes = 0.0f;
        m_edgeDetection = edge_detection ? 1 : 0;
        if (const int code = countermate::start_terminal_video(camera)) {
            reply = camera_reply("VideoStart", code, countermate::terminal_text(code));
            return;
        }
    }
    m_CameraNo = camera;
    SERVICE_LOG(LOG_LEVEL_DEBUG, "VideoStart", "打开摄像头成功");
    start_preview_for_requester("VideoStream");
    reply = camera_reply("VideoStart", 0, "");
}

namespace {

// VideoStop and CamClose: the preview stopped, then the camera closed. `failure_code` is the
// driver failure's code (-11 for VideoStop, 1 for CamClose).
std::string close_camera_reply(const char* method, int failure_code, bool deinitialise) {
    countermate::stop_preview();
    if (m_isUVCCamera) {
        const CameraAnswer answer = close_driver_camera();
        const int code = camera_code(answer, failure_code, method, "关闭摄像头失败");
        if (deinitialise) {
            const CameraAnswer ended = call_camera(pCamDeinit);
            SERVICE_LOG(LOG_LEVEL_DEBUG, method, "CamDeinit(): success = %s, errMsg = %s",
                        ended.result.c_str(), ended.message.c_str());
        }
        return camera_reply(method, code, answer.message);
    }
    int code = ctm->StopVideo();
    if (code != 0) {
        SERVICE_LOG(LOG_LEVEL_ERROR, method, "关闭摄像头失败");
        if (failure_code == 1) code = 1;
    }
    countermate::reset_view_settings();
    ctm->HIDClosePort();
    return camera_reply(method, code, code == 0 ? std::string() : countermate::terminal_text(code));
}

}  // namespace

void CDEV_HUB::VideoStop(std::string, std::string& reply) {
    if (!countermate::preview_running()) {
        SERVICE_LOG(LOG_LEVEL_DEBUG, "VideoStop", "摄像头已经关闭");
        reply = camera_reply("VideoStop", 0, "");
        return;
    }
    reply = close_camera_reply("VideoStop", -11, true);
}

void CDEV_HUB::CamClose(std::string, std::string& reply) {
    reply = close_camera_reply("CamClose", 1, false);
}

void CDEV_HUB::CamGetCameraImage(std::string args, std::string& reply) {
    const std::string image_path = HandlerArgs(args).text("imagePath");
    if (!countermate::preview_running()) {
        reply = format_reply(
            R"({"method":"CamGetCameraImage","retVal":%d,"imgBase64":"","errMsg":"%s"})",
            {1, kNoPreview});
        return;
    }
    const Photo photo = m_isUVCCamera
                            ? driver_photo("CamGetCameraImage", image_path, 1, nullptr, false)
                            : terminal_photo("doMethodProcess", image_path);
    reply = photo_reply("CamGetCameraImage", photo);
}

void CDEV_HUB::VideoGetImage(std::string args, std::string& reply) {
    const std::string image_path = HandlerArgs(args).text("imagePath");
    if (!countermate::preview_running()) {
        reply = photo_reply("VideoGetImage", Photo{-11, kNoPreview, ""});
        return;
    }
    const Photo photo =
        m_isUVCCamera ? driver_photo("VideoGetImage", image_path, -11, "获取高拍仪照片失败", true)
                      : terminal_photo("VideoGetImage", image_path);
    reply = photo_reply("VideoGetImage", photo);
}
