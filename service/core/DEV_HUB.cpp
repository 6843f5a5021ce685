#include "DEV_HUB.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "AUX_X.h"
#include "driver_entries.h"
#include "screen_streams.h"

// Globals come before m_Dev_Hub in this file, so they are initialised before its constructor runs.
CLogTracker* m_LogTracker = nullptr;
std::string m_webMessage;
std::atomic<int> m_clientFd{0};
std::atomic<bool> m_isdoMethodProcessing{false};
std::atomic<bool> m_isExitSever{false};
void* handle = nullptr;
void (*DestroyCounterMate)(CCounterMate*) = nullptr;
CCounterMate* ctm = nullptr;
void* handle2 = nullptr;
bool m_isUVCCamera = false;
float m_scale = 0.3f;
char m_videoStreamMethod[100] = "CamGetVideoStream";
std::atomic<bool> m_isStopVideoStream{true};
std::atomic<bool> m_isPauseVideoStream{false};
std::atomic<bool> m_isPauseing{false};
std::atomic<int> m_edgeDetection{0};
std::atomic<int> m_rotationAngle{0};
std::atomic<float> m_zoomInTimes{0.0f};
std::atomic<int> m_CameraNo{0};
std::string m_Resolution;
std::atomic<bool> m_isStopScreenStream{true};
std::atomic<int> m_signScreenStatus{0};
std::thread m_signStreamTh;
std::atomic<bool> m_isStopComputerScreenStream{true};
std::thread m_computerStreamTh;

CamInitFn pCamInit = nullptr;
CamResultFn pCamDeinit = nullptr;
CamTextInOutFn pCamGetResolutionList = nullptr;
CamTextInFn pCamSetResolution = nullptr;
CamTextInFn pCamSetColor = nullptr;
CamTextInFn pCamSetCutType = nullptr;
CamTextInFn pCamOpen = nullptr;
CamGetCameraImageFn pCamGetCameraImage = nullptr;
CamResultFn pCamClose = nullptr;
CamResultOutFn pCamGetCurrentResolution = nullptr;
CamResultOutFn pCamPhotoBase64 = nullptr;
CamTextInOutFn pCamFileToBase64 = nullptr;
CamResultOutFn pCamPhoto = nullptr;
CamTextInOutFn pCamStartTimerCap = nullptr;
CamResultFn pCamStopTimerCap = nullptr;
CamResultOutFn pCamStartAutoCap = nullptr;
CamResultFn pCamStopAutoCap = nullptr;
CamResultFn pCamSetRotateLeft = nullptr;
CamResultFn pCamSetRotateRight = nullptr;
CamResultFn pCamZoomOut = nullptr;
CamResultFn pCamZoomIn = nullptr;

JpegEdgeFn jpegedge = nullptr;
JpegCutAndRotateFn jpegcutandrotate = nullptr;
JpegTransposeFn jpegtranspose = nullptr;
JpegZoomFn jpegzoom = nullptr;
JpegGrayFn jpeggray = nullptr;

namespace countermate {

CLogTracker* service_log() {
    static std::once_flag made;
    std::call_once(made, [] {
        if (!m_LogTracker) m_LogTracker = new CLogTracker("", "", "", "SER");
    });
    return m_LogTracker;
}

}  // namespace countermate

CDEV_HUB m_Dev_Hub;

namespace {

struct EntryBinding {
    const char* name;
    void** slot;
};

[[noreturn]] void end_process() {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(1);
}

// Loads a library of the working directory; a counter without it cannot serve.
void* load_library_or_exit(const char* path) {
    dlerror();
    void* library = dlopen(path, RTLD_LAZY);
    if (!library) {
        const char* error = dlerror();
        SERVICE_LOG(LOG_LEVEL_ERROR, "CDEV_HUB", "%s", error);
        std::fprintf(stderr, "%s\n", error);
        end_process();
    }
    return library;
}

// Binds every entry in order; any missing entry ends the process with `failure_text` logged.
void bind_entries_or_exit(void* library, const EntryBinding* bindings, size_t count,
                          const char* failure_text) {
    for (size_t index = 0; index < count; ++index) {
        *bindings[index].slot = dlsym(library, bindings[index].name);
        if (!*bindings[index].slot) {
            SERVICE_LOG(LOG_LEVEL_ERROR, "CDEV_HUB", "%s", failure_text);
            std::printf("dlsym error!\n");
            end_process();
        }
    }
}

template <typename Function>
void** slot(Function& function) {
    return reinterpret_cast<void**>(&function);
}

}  // namespace

CDEV_HUB::CDEV_HUB() {
    load_terminal_driver();
    read_module_settings();
    if (m_isUVCCamera) {
        load_camera_driver();
    } else {
        load_jpeg_library();
    }
    std::memset(m_videoStreamMethod, 0, sizeof m_videoStreamMethod);
    std::strcpy(m_videoStreamMethod, "CamGetVideoStream");
    m_isCancelOpt = false;
    m_isStopVideoStream = true;
    m_isStopScreenStream = true;
    m_isStopComputerScreenStream = true;
    m_edgeDetection = 0;
    m_rotationAngle = 0;
    m_zoomInTimes = 0.0f;
}

CDEV_HUB::~CDEV_HUB() {
    // No stream thread may outlive the terminal object it reads from (nor its std::thread,
    // whose destruction while joinable would end the process).
    countermate::stop_screen_streams();
    if (DestroyCounterMate) DestroyCounterMate(ctm);
    ctm = nullptr;
    if (handle) dlclose(handle);
    handle = nullptr;
    if (handle2) dlclose(handle2);
    handle2 = nullptr;
}

void CDEV_HUB::load_terminal_driver() {
    handle = load_library_or_exit("./libCounterMate.so");
    CCounterMate* (*CreateCounterMate)() = nullptr;
    const EntryBinding bindings[] = {
        {"CreateCounterMate", slot(CreateCounterMate)},
        {"DestroyCounterMate", slot(DestroyCounterMate)},
    };
    bind_entries_or_exit(handle, bindings, 2, "加载动态库（libCounterMate.so）函数失败！");
    ctm = CreateCounterMate();
}

void CDEV_HUB::read_module_settings() {
    char module_path[1024] = {};
    AUX_X::GetModuleCurPath(module_path);
    const std::string config_path = std::string(module_path) + "CONFIG.ini";
    char camera_type[1024] = {};
    char scale[1024] = {};
    AUX_X::X_INIKeyString(config_path.c_str(), "MODULES", "CameraType", camera_type, "0");
    AUX_X::X_INIKeyString(config_path.c_str(), "MODULES", "scale", scale, "30");
    m_scale = static_cast<float>(std::atof(scale) / 100.0);
    m_isUVCCamera = camera_type[0] != '\0' && std::atoi(camera_type) == 1;
}

void CDEV_HUB::load_camera_driver() {
    handle2 = load_library_or_exit("./libDRV_DOCSCOPE.so");
    const EntryBinding bindings[] = {
        {"CamInit", slot(pCamInit)},
        {"CamDeinit", slot(pCamDeinit)},
        {"CamGetResolutionList", slot(pCamGetResolutionList)},
        {"CamSetResolution", slot(pCamSetResolution)},
        {"CamSetColor", slot(pCamSetColor)},
        {"CamSetCutType", slot(pCamSetCutType)},
        {"CamOpen", slot(pCamOpen)},
        {"CamGetCameraImage", slot(pCamGetCameraImage)},
        {"CamClose", slot(pCamClose)},
        {"CamGetCurrentResolution", slot(pCamGetCurrentResolution)},
        {"CamPhotoBase64", slot(pCamPhotoBase64)},
        {"CamFileToBase64", slot(pCamFileToBase64)},
        {"CamPhoto", slot(pCamPhoto)},
        {"CamStartTimerCap", slot(pCamStartTimerCap)},
        {"CamStopTimerCap", slot(pCamStopTimerCap)},
        {"CamStartAutoCap", slot(pCamStartAutoCap)},
        {"CamStopAutoCap", slot(pCamStopAutoCap)},
        {"CamSetRotateLeft", slot(pCamSetRotateLeft)},
        {"CamSetRotateRight", slot(pCamSetRotateRight)},
        {"CamZoomOut", slot(pCamZoomOut)},
        {"CamZoomIn", slot(pCamZoomIn)},
    };
    bind_entries_or_exit(handle2, bindings, sizeof bindings / sizeof bindings[0],
                         "加载动态库（libDRV_DOCSCOPE.so）函数失败！");
}

void CDEV_HUB::load_jpeg_library() {
    handle2 = load_library_or_exit("./libpixelwork.so");
    const EntryBinding bindings[] = {
        {"jpegedge", slot(jpegedge)},           {"jpegcutandrotate", slot(jpegcutandrotate)},
        {"jpegtranspose", slot(jpegtranspose)}, {"jpegzoom", slot(jpegzoom)},
        {"jpeggray", slot(jpeggray)},
    };
    bind_entries_or_exit(handle2, bindings, sizeof bindings / sizeof bindings[0],
                         "加载动态库（libpixelwork.so）函数失败！");
}

void CDEV_HUB::SetForcedReturn() {
    if (ctm) ctm->SetForcedReturn(true);
}
