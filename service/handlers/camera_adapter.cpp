// The adapter's own photo methods of the terminal camera, GetCameraImage and GetCameraImage_Path:
// no request name leads to them, only a caller of the adapter itself. Each ends the preview,
// takes a photo cut to the document, and starts the preview again for the page that asked
// (the restarted preview's frames go to the requesting connection, never to a socket number
// named in the arguments, which could be another page's).
#include <cstdio>

#include "Base64.h"
#include "DEV_HUB.h"
#include "LocalFile.h"
#include "camera_preview.h"
#include "handler_args.h"
#include "jpeg_chain.h"
#include "local_paths.h"
#include "reply_format.h"
#include "stream_output.h"

using countermate::HandlerArgs;
using countermate::format_reply;

namespace {

constexpr size_t kPhotoCapacity = 2097152;
// The terminal did not answer a video start or stop.
constexpr int kVideoNoAnswer = -15;

// The photo taken with the port reopened and the video paused, turned and cut to the document.
int take_photo(const std::string& terminal_name, std::vector<unsigned char>& photo) {
    ctm->HIDClosePort();
    int result = ctm->HIDOpenPort();
    if (result == 0) result = ctm->PauseVideo();
    if (result != 0) return result;
    photo.resize(kPhotoCapacity);
    int length = 0;
    result = ctm->GetCapturedImage(const_cast<char*>(terminal_name.c_str()), photo.data(), &length);
    if (result != 0) return result;
    photo.resize(length > 0 && static_cast<size_t>(length) <= kPhotoCapacity ? size_t(length) : 0);
    countermate::JpegChain chain(photo, kPhotoCapacity, "GetCameraImage");
    if (m_rotationAngle != 0) chain.rotate(m_rotationAngle, "图像旋转失败！");
    if (m_edgeDetection != 0) chain.cut_and_straighten(1.0f, "图像裁剪纠偏失败！");
    return chain.result();
}

// After the photo: the preview starts again unless the terminal did not answer.
void resume_preview(int result) {
    if (result == kVideoNoAnswer) {
        SERVICE_LOG(LOG_LEVEL_ERROR, "GetCameraImage", "retVal:IFD_DEVNORESP");
        return;
    }
    ctm->KeepVideo();
    countermate::start_preview(countermate::requesting_connection());
}

constexpr const char* kNotOpen =
    R"({"functionName":"iCamPhotoBase64","errorMsg":"%s","success":0})";

}  // namespace

void CDEV_HUB::GetCameraImage(std::string, std::string& reply) {
    if (!countermate::preview_running()) {
        reply = format_reply(kNotOpen, {"摄像头没有打开"});
        return;
    }
    countermate::stop_preview();
    std::vector<unsigned char> photo;
    const int result = take_photo(std::string(), photo);
    if (result != 0) {
        reply = format_reply(R"({"functionName":"iCamPhotoBase64","errorMsg":"%s","success":0})",
                             {"拍照失败"});
    } else {
        std::string text(countermate::base64_encoded_length(photo.size()), '\0');
        text.resize(countermate::base64_encode(photo.data(), photo.size(), &text[0]));
        reply = format_reply(
            R"({"functionName":"iCamPhotoBase64","errorMsg":"","success":1,"imgBase64Str":"%s"})",
            {text});
    }
    resume_preview(result);
}

void CDEV_HUB::GetCameraImage_Path(std::string args, std::string& reply) {
    if (!countermate::preview_running()) {
        reply = format_reply(kNotOpen, {"摄像头没有打开"});
        return;
    }
    const std::string image_path = HandlerArgs(args).text("imgPath");
    const std::string refusal =
        countermate::local_paths_refusal({{"imgPath", image_path, countermate::PathUse::Write}});
    if (!refusal.empty()) {
        reply =
            format_reply(R"({"functionName":"iCamPhoto","errorMsg":"%s","success":0})", {refusal});
        return;
    }
    countermate::stop_preview();
    std::vector<unsigned char> photo;
    const int result = take_photo(image_path, photo);
    if (result != 0) {
        reply = format_reply(R"({"functionName":"iCamPhoto","errorMsg":"%s","success":0})",
                             {"拍照失败"});
    } else {
        if (!image_path.empty()) {
            countermate::terminal::LocalFile file =
                countermate::terminal::OpenRegularFileToWrite(image_path.c_str());
            if (file) {
                std::fwrite(photo.data(), 1, photo.size(), file.get());
            } else {
                SERVICE_LOG(LOG_LEVEL_ERROR, "GetCameraImage_Path", "路径【%s】写文件失败",
                            image_path.c_str());
            }
        }
        reply =
            format_reply(R"({"functionName":"iCamPhoto","errorMsg":"","imgPath":"%s","success":1})",
                         {image_path});
    }
    resume_preview(result);
}
