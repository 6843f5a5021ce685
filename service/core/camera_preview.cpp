#include "camera_preview.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "Base64.h"
#include "DEV_HUB.h"
#include "DRV_DOCSCOPE.h"
#include "LocalFile.h"
#include "driver_entries.h"
#include "jpeg_chain.h"
#include "stream_output.h"

std::thread videoStreamTh;

namespace countermate {

namespace {

// The largest frame either camera hands over (the camera driver writes at most this much, and
// the terminal driver drops a frame that would not fit).
constexpr size_t kFrameCapacity = 10485760;
// Work buffers of the JPEG library's steps: preview frames, photos.
constexpr size_t kFrameWorkCapacity = 3145728;
constexpr size_t kPhotoCapacity = 2097152;
// The camera driver's pace: a frame every 100 ms at most.
constexpr std::chrono::milliseconds kDriverFramePause{100};

// Guards videoStreamTh (started and joined by one caller at a time) and preview_connection.
std::mutex preview_thread_lock;
uint64_t preview_connection = 0;

// The pause handshake and the camera driver's pause between frames wait on this.
std::mutex preview_state_lock;
std::condition_variable preview_state_changed;

std::string base64_of(const std::vector<unsigned char>& bytes) {
    std::string text(base64_encoded_length(bytes.size()), '\0');
    text.resize(base64_encode(bytes.data(), bytes.size(), &text[0]));
    return text;
}

// {"method":"%s","retVal":%d,"imgBase64":"%s"}: built directly, since the method name is one of
// two fixed names and Base64 needs no escaping.
std::string preview_frame(const char* method, int result, const std::string& picture) {
    std::string frame;
    frame.reserve(picture.size() + 64);
    frame.append("{\"method\":\"").append(method).append("\",\"retVal\":");
    frame.append(std::to_string(result)).append(",\"imgBase64\":\"").append(picture).append("\"}");
    return frame;
}

// The terminal camera's preview waits here while a photo handler has asked it to park.
void park_while_asked() {
    if (!m_isPauseVideoStream) return;
    std::unique_lock<std::mutex> hold(preview_state_lock);
    m_isPauseing = true;
    preview_state_changed.notify_all();
    preview_state_changed.wait(hold, [] { return !m_isPauseVideoStream || m_isStopVideoStream; });
    m_isPauseing = false;
}

// One frame of the running preview into `frame`; false on a camera failure.
bool next_frame(std::vector<unsigned char>& frame) {
    if (m_isUVCCamera) {
        frame.resize(kFrameCapacity);
        char result[kCamTextCapacity + 1] = {};
        char message[kCamTextCapacity + 1] = {};
        int length = 0;
        pCamGetCameraImage(frame.data(), &length, result, message, m_scale);
        if (std::atoi(result) != 0 || length < 0 || static_cast<size_t>(length) > kFrameCapacity) {
            return false;
        }
        frame.resize(static_cast<size_t>(length));
        return true;
    }
    park_while_asked();
    return CamGetVideoImage_Passthrough(m_rotationAngle, m_edgeDetection, m_zoomInTimes, frame) ==
           0;
}

// The camera driver's frames come at most every 100 ms; a stop ends the pause at once.
void pause_between_driver_frames() {
    std::unique_lock<std::mutex> hold(preview_state_lock);
    preview_state_changed.wait_for(hold, kDriverFramePause,
                                   [] { return m_isStopVideoStream.load(); });
}

void run_preview(StreamOutput& output) {
    std::vector<unsigned char> frame;
    frame.reserve(kFrameCapacity);
    while (!m_isStopVideoStream) {
        if (!next_frame(frame)) {
            // A frame read that the stop itself interrupted is no camera failure.
            if (m_isStopVideoStream) break;
            SERVICE_LOG(LOG_LEVEL_ERROR, "VideoStreamThreadProcess", "获取摄像头数据失败");
            output.send(preview_frame(m_videoStreamMethod, 1, std::string()));
            break;
        }
        // A terminal read ended by the stop hands over no frame.
        if (frame.empty()) continue;
        std::string picture = base64_of(frame);
        if (m_isUVCCamera) pause_between_driver_frames();
        if (m_isStopVideoStream) break;
        if (!output.send(preview_frame(m_videoStreamMethod, 0, picture))) break;
    }
}

void join_preview_thread() {
    if (videoStreamTh.joinable()) videoStreamTh.join();
}

// Asks the preview to end and waits for it; the caller holds preview_thread_lock.
void stop_preview_thread() {
    const bool terminal_camera = !m_isUVCCamera;
    {
        std::lock_guard<std::mutex> hold(preview_state_lock);
        m_isStopVideoStream = true;
    }
    preview_state_changed.notify_all();
    // A frame read waiting on the terminal returns at once; the flag is withdrawn once the
    // thread has ended, so that no later terminal operation finds it still pending.
    if (terminal_camera && ctm) ctm->SetForcedReturn(true);
    join_preview_thread();
    if (terminal_camera && ctm) ctm->SetForcedReturn(false);
}

void close_camera() {
    if (m_isUVCCamera) {
        char result[kCamTextCapacity + 1] = {};
        char message[kCamTextCapacity + 1] = {};
        pCamClose(result, message);
        return;
    }
    if (ctm) ctm->StopVideo();
}

}  // namespace

bool preview_running() { return !m_isStopVideoStream; }

bool preview_runs_with(int camera) { return preview_running() && m_CameraNo == camera; }

void start_preview(uint64_t connection) {
    std::lock_guard<std::mutex> hold(preview_thread_lock);
    join_preview_thread();
    preview_connection = connection;
    m_isPauseVideoStream = false;
    m_isPauseing = false;
    m_isStopVideoStream = false;
    videoStreamTh = std::thread(VideoStreamThreadProcess);
}

void stop_preview() {
    std::lock_guard<std::mutex> hold(preview_thread_lock);
    if (videoStreamTh.joinable()) stop_preview_thread();
}

void stop_preview_of_departed(uint64_t connection) {
    {
        std::lock_guard<std::mutex> hold(preview_thread_lock);
        if (connection != preview_connection || !preview_running()) return;
    }
    CamVideoDetection();
}

void await_preview_release() { std::lock_guard<std::mutex> hold(preview_thread_lock); }

ParkedPreview::ParkedPreview() {
    std::unique_lock<std::mutex> hold(preview_state_lock);
    m_isPauseVideoStream = true;
    preview_state_changed.wait(hold, [] { return m_isPauseing || m_isStopVideoStream; });
    parked_ = m_isPauseing;
}

ParkedPreview::~ParkedPreview() {
    {
        std::lock_guard<std::mutex> hold(preview_state_lock);
        m_isPauseVideoStream = false;
    }
    preview_state_changed.notify_all();
}

}  // namespace countermate

using namespace countermate;

void CamVideoDetection() {
    std::lock_guard<std::mutex> hold(preview_thread_lock);
    if (m_isStopVideoStream) {
        join_preview_thread();
        return;
    }
    stop_preview_thread();
    close_camera();
}

void VideoStreamThreadProcess() {
    SERVICE_LOG(LOG_LEVEL_INFO, "VideoStreamThreadProcess", "...");
    m_isPauseing = false;
    SERVICE_LOG(LOG_LEVEL_INFO, "VideoStreamThreadProcess", "视频预览线程启动...");
    SERVICE_LOG(LOG_LEVEL_DEBUG, "VideoStreamThreadProcess", "预览压缩系数：%f", m_scale);
    {
        // The output ends (and logs its dropped frames) before the preview counts as stopped,
        // so that a preview started next never overlaps this one's output.
        StreamOutput output(preview_connection, m_videoStreamMethod);
        run_preview(output);
    }
    {
        std::lock_guard<std::mutex> hold(preview_state_lock);
        m_isStopVideoStream = true;
    }
    preview_state_changed.notify_all();
    SERVICE_LOG(LOG_LEVEL_INFO, "VideoStreamThreadProcess", "视频预览线程退出！");
}

int CamGetVideoImage_Passthrough(int rotation, int edge, float zoom,
                                 std::vector<unsigned char>& jpeg) {
    jpeg.resize(kFrameCapacity);
    int length = 0;
    const int read = ctm->GetVideoData(&length, jpeg.data());
    if (read != 0) return read;
    jpeg.resize(length > 0 && static_cast<size_t>(length) <= kFrameCapacity ? size_t(length) : 0);
    if (jpeg.empty()) return 0;
    JpegChain chain(jpeg, kFrameWorkCapacity, "CamGetVideoImage_Passthrough");
    if (rotation != 0) chain.rotate(rotation, "图像旋转失败");
    if (edge == 1) chain.mark_edges("边缘检测失败");
    if (zoom > 0) chain.zoom(zoom, "放大缩小失败");
    return chain.result();
}

namespace {

void write_photo(const std::string& path, const std::vector<unsigned char>& photo) {
    terminal::LocalFile file = terminal::OpenRegularFileToWrite(path.c_str());
    if (file) std::fwrite(photo.data(), 1, photo.size(), file.get());
}

int take_passthrough_photo(int rotation, int cutType, const std::string& imagePath,
                           std::string& base64) {
    std::vector<unsigned char> photo(kPhotoCapacity);
    int length = 0;
    const int taken = ctm->GetCapturedImage(const_cast<char*>(""), photo.data(), &length);
    if (taken != 0) {
        SERVICE_LOG(LOG_LEVEL_ERROR, "CamGetCameraImage_Passthrough",
                    "ZR_GetCapturedImageData return %d", taken);
        return taken;
    }
    photo.resize(length > 0 && static_cast<size_t>(length) <= kPhotoCapacity ? size_t(length) : 0);
    JpegChain chain(photo, kPhotoCapacity, "CamGetCameraImage_Passthrough");
    if (rotation != 0) chain.rotate(rotation, "图像旋转失败");
    if (cutType == 1) chain.cut_and_straighten(0.5f, "图像裁剪纠偏失败");
    base64 = base64_of(photo);
    if (!imagePath.empty()) write_photo(imagePath, photo);
    return chain.result();
}

}  // namespace

int CamGetCameraImage_Passthrough(int rotation, int cutType, const std::string& imagePath,
                                  std::string& base64) {
    SERVICE_LOG(LOG_LEVEL_DEBUG, "CamGetCameraImage_Passthrough", "...");
    const int paused = ctm->PauseVideo();
    if (paused != 0) {
        SERVICE_LOG(LOG_LEVEL_DEBUG, "CamGetCameraImage_Passthrough", "ZR_PauseVideo return %d",
                    paused);
        return paused;
    }
    const int result = take_passthrough_photo(rotation, cutType, imagePath, base64);
    ctm->KeepVideo();
    SERVICE_LOG(LOG_LEVEL_DEBUG, "CamGetCameraImage_Passthrough", "return %d", result);
    return result;
}
