// Camera settings requests: initialisation, resolutions, colour, cut mode, rotation and zoom.
// With the camera driver (CameraType 1) each is one driver entry; with the terminal's camera
// they keep the view settings that the preview and the photos apply.
#include "DEV_HUB.h"
#include "DRV_DOCSCOPE.h"
#include "camera_replies.h"
#include "driver_entries.h"
#include "handler_args.h"
#include "reply_format.h"

using countermate::CameraAnswer;
using countermate::HandlerArgs;
using countermate::call_camera;
using countermate::camera_code;
using countermate::camera_number_text;
using countermate::camera_reply;
using countermate::format_reply;

namespace {

// "成功": the text of the terminal camera's settings that have nothing to do.
constexpr const char* kNothingToDo = "成功";

// A settings request of the camera driver whose answer is a result and a message: logged with
// `debug_format` (result, then message), answered with its message, and on failure with
// `failure_code` and `failure_text` logged.
std::string driver_settings_reply(const char* method, const CameraAnswer& answer,
                                  const char* debug_format, const char* failure_text,
                                  int failure_code = 1, const char* error_function = nullptr) {
    SERVICE_LOG(LOG_LEVEL_DEBUG, method, debug_format, answer.result.c_str(),
                answer.message.c_str());
    const int code =
        camera_code(answer, failure_code, error_function ? error_function : method, failure_text);
    return camera_reply(method, code, answer.message);
}

// The terminal camera's rotation requests: one quarter turn, an empty error text.
std::string terminal_rotation_reply(const char* method, bool right) {
    m_rotationAngle = countermate::rotation_step(m_rotationAngle, right);
    return camera_reply(method, 0, "");
}

std::string terminal_zoom_reply(const char* method, bool in) {
    m_zoomInTimes = countermate::zoom_step(m_zoomInTimes, in);
    SERVICE_LOG(LOG_LEVEL_DEBUG, method,
                in ? "CamZoomIn m_zoomInTimes=%f" : "CamZoomOut m_zoomInTimes=%f",
                static_cast<double>(m_zoomInTimes.load()));
    return camera_reply(method, 0, "");
}

const char* terminal_resolutions(int camera) {
    if (camera == 1)
        return "2048*1536|1600*1200|1920*1080|1280*960|1024*768|1280*720|800*600|640*480|320*240";
    if (camera == 2) return "2048*1536|1600*1200|1920*1080|1024*768|1280*720|800*600|640*480";
    return "";
}

}  // namespace

void CDEV_HUB::CamInit(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = camera_reply("CamInit", 0, kNothingToDo);
        return;
    }
    const CameraAnswer answer = call_camera(pCamInit, kCamTextCapacity);
    SERVICE_LOG(LOG_LEVEL_DEBUG, "CamInit", "执行CamInit(): success = %s, errMsg = %s, state = %s",
                answer.result.c_str(), answer.message.c_str(), answer.output.c_str());
    reply = camera_reply("CamInit", camera_code(answer, 1, "CamInit", "初始化设备失败"),
                         answer.message);
}

void CDEV_HUB::CamDeinit(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = camera_reply("CamDeinit", 0, kNothingToDo);
        return;
    }
    reply = driver_settings_reply("CamDeinit", call_camera(pCamDeinit),
                                  "CamDeinit(): success = %s, errMsg = %s", "反初始化设备失败");
}

void CDEV_HUB::CamGetResolutionList(std::string args, std::string& reply) {
    const int camera = HandlerArgs(args).integer("cameraNo", 1);
    const char* reply_template =
        R"({"method":"CamGetResolutionList","retVal":%d,"errMsg":"%s","resolutionList":"%s"})";
    if (!m_isUVCCamera) {
        reply = format_reply(reply_template, {0, "", terminal_resolutions(camera)});
        return;
    }
    const CameraAnswer answer =
        call_camera(pCamGetResolutionList, camera_number_text(camera), kCamResolutionListCapacity);
    SERVICE_LOG(LOG_LEVEL_DEBUG, "CamGetResolutionList",
                "CamGetResolutionList():  success = %s, errMsg = %s ,resolutionList = %s",
                answer.result.c_str(), answer.message.c_str(), answer.output.c_str());
    const int code = camera_code(answer, 1, "CamGetResolutionList", "获取摄像头分辨率列表失败");
    reply = format_reply(reply_template, {code, answer.message, answer.output});
}

void CDEV_HUB::CamSetResolution(std::string args, std::string& reply) {
    // The resolution travels in a 96-byte field: longer input is cut to 95 bytes.
    std::string resolution = HandlerArgs(args).text("resolution").substr(0, 95);
    if (!m_isUVCCamera) {
        m_Resolution = resolution;
        reply = camera_reply("CamSetResolution", 0, kNothingToDo);
        return;
    }
    reply = driver_settings_reply("CamSetResolution", call_camera(pCamSetResolution, resolution),
                                  "CamSetResolution():  success = %s, errMsg = %s",
                                  "设置摄像头分辨率失败", 1, "CamGetResolutionList");
}

void CDEV_HUB::CamGetCurrentResolution(std::string, std::string& reply) {
    const char* reply_template =
        R"({"method":"CamGetCurrentResolution","retVal":%d,"resolution":"%s","errMsg":"%s"})";
    if (!m_isUVCCamera) {
        reply = format_reply(reply_template, {0, m_Resolution, ""});
        return;
    }
    const CameraAnswer answer = call_camera(pCamGetCurrentResolution, 1024);
    SERVICE_LOG(LOG_LEVEL_DEBUG, "CamSetResolution",
                "CamSetResolution():  success = %s, errMsg = %s ,resolutionList = %s",
                answer.result.c_str(), answer.message.c_str(), answer.output.c_str());
    const int code = camera_code(answer, 1, "CamGetResolutionList", "获取摄像头当前分辨率失败");
    reply = format_reply(reply_template, {code, answer.output, answer.message});
}

void CDEV_HUB::CamSetColor(std::string args, std::string& reply) {
    const int color = HandlerArgs(args).integer("color", 1);
    if (!m_isUVCCamera) {
        reply = camera_reply("CamSetColor", 0, kNothingToDo);
        return;
    }
    reply = driver_settings_reply("CamSetColor",
                                  call_camera(pCamSetColor, camera_number_text(color)),
                                  "CamSetColor():  success = %s, errMsg = %s ", "设置色彩模式失败");
}

void CDEV_HUB::CamSetCutType(std::string args, std::string& reply) {
    const int cut_type = HandlerArgs(args).integer("cutType", 1);
    if (!m_isUVCCamera) {
        m_CameraNo = 1;
        m_edgeDetection = cut_type;
        reply = camera_reply("CamSetCutType", 0, kNothingToDo);
        return;
    }
    reply = driver_settings_reply(
        "CamSetCutType", call_camera(pCamSetCutType, camera_number_text(cut_type)),
        "CamSetCutType():  success = %s, errMsg = %s", "设置裁切模式失败");
}

void CDEV_HUB::CamSetRotateLeft(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = terminal_rotation_reply("CamSetRotateLeft", false);
        return;
    }
    reply = driver_settings_reply("CamSetRotateLeft", call_camera(pCamSetRotateLeft),
                                  "CamSetRotateLeft(): success = %s, errMsg = %s", "向左旋转失败");
}

void CDEV_HUB::CamSetRotateRight(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = terminal_rotation_reply("CamSetRotateRight", true);
        return;
    }
    reply = driver_settings_reply("CamSetRotateRight", call_camera(pCamSetRotateRight),
                                  "CamSetRotateRight(): success = %s, errMsg = %s", "向右旋转失败");
}

void CDEV_HUB::VideoRotate(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = terminal_rotation_reply("VideoRotate", true);
        return;
    }
    reply = driver_settings_reply("VideoRotate", call_camera(pCamSetRotateRight),
                                  "CamSetRotateRight(): success = %s, errMsg = %s", "向右旋转失败",
                                  -11);
}

void CDEV_HUB::CamZoomIn(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = terminal_zoom_reply("CamZoomIn", true);
        return;
    }
    reply = driver_settings_reply("CamZoomIn", call_camera(pCamZoomIn),
                                  "CamZoomIn(): success = %s, errMsg = %s", "放大失败");
}

void CDEV_HUB::CamZoomOut(std::string, std::string& reply) {
    if (!m_isUVCCamera) {
        reply = terminal_zoom_reply("CamZoomOut", false);
        return;
    }
    reply = driver_settings_reply("CamZoomOut", call_camera(pCamZoomOut),
                                  "CamZoomOut(): success = %s, errMsg = %s", "缩小失败");
}
