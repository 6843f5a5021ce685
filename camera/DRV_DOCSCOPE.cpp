// The 21 entries of the camera driver: argument reading, result texts and logging; the work is
// in the probe, the capture session, the frame pipeline and the background captures.
#include "DRV_DOCSCOPE.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "BackgroundCaptures.h"
#include "CameraLog.h"
#include "CameraProbe.h"
#include "DriverState.h"
#include "FileBase64.h"
#include "FramePipeline.h"
#include "ResolutionList.h"
#include "ResultTexts.h"
#include "ViewTransform.h"

using namespace docscope;

namespace {

constexpr int kDefaultWidth = 1600;
constexpr int kDefaultHeight = 1200;
constexpr std::size_t kResolutionTextLength = 99;

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }
int DecimalValue(const char* text) { return std::atoi(TextOrEmpty(text)); }

// Answers "未初始化" and returns false before CamInit.
bool RequireInitialised(char* retVal, char* errMsg) {
  if (Driver().initialised) return true;
  Answer(retVal, errMsg, "-1", message::kNotInitialised);
  return false;
}

void Update(std::atomic<int>& value, const std::function<int(int)>& change) {
  int current = value.load();
  while (!value.compare_exchange_weak(current, change(current))) {
  }
}

// Probes camera 1 or 2 and records its status and node.
int Probe(int camNo) {
  DriverState& driver = Driver();
  std::string name;
  const int status = ProbeCamera(camNo, name);
  std::lock_guard<std::mutex> guard(driver.cameraNamesLock);
  if (camNo == 1) {
    driver.documentCameraStatus = status;
    if (status == 0) driver.documentCameraName = name;
  } else {
    driver.personCameraStatus = status;
    if (status == 0) driver.personCameraName = name;
  }
  return status;
}

const char* CameraStatusDigit(int documentStatus, int personStatus) {
  if (documentStatus == 0) return personStatus == 0 ? "1" : "4";
  return personStatus == 0 ? "3" : "2";
}

void StoreResolution(DriverState& driver, const std::string& text) {
  driver.resolution = text.substr(0, kResolutionTextLength);
  const std::size_t star = driver.resolution.find('*');
  driver.width = std::atoi(driver.resolution.substr(0, star).c_str());
  driver.height = star == std::string::npos ? 0 : std::atoi(driver.resolution.c_str() + star + 1);
}

// The size to ask of the camera: the one set, else 1600 x 1200 for the document camera and the
// first size the person camera lists.
cv::Size CaptureSize(int camNo, const std::string& device) {
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.resolutionLock);
  if (driver.width != 0 && driver.height != 0) return {driver.width, driver.height};
  if (camNo == 1) {
    driver.resolution = std::to_string(kDefaultWidth) + "*" + std::to_string(kDefaultHeight);
    return {kDefaultWidth, kDefaultHeight};
  }
  std::string list;
  GetResolution(device, list);
  CAM_TRACE("Display1", "Resolution = %s", list.c_str());
  StoreResolution(driver, list.substr(0, list.find('|')));
  return {driver.width, driver.height};
}

RequestOutcome TakePhoto() {
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.photoLock);
  const std::uint64_t ticket = driver.photo.raise();
  return driver.photo.await(ticket, std::chrono::steady_clock::now() + kFrameWaitLimit);
}

// CamPhoto and CamPhotoBase64: true when the photo file was written.
bool Photograph(char* retVal, char* errMsg) {
  if (!RequireInitialised(retVal, errMsg)) return false;
  if (!Driver().frameDelivered) {
    Answer(retVal, errMsg, "-2", message::kCameraNotOpen);
    return false;
  }
  switch (TakePhoto()) {
    case RequestOutcome::Done: Answer(retVal, errMsg, "0"); return true;
    case RequestOutcome::NotWritten:
      Answer(retVal, errMsg, "-1", message::kPhotoNotWritten);
      return false;
    default: Answer(retVal, errMsg, "-2", message::kCameraNotConnected); return false;
  }
}

void AnswerFileEncoding(FileEncoding result, const char* entry, char* retVal, char* errMsg) {
  switch (result) {
    case FileEncoding::Encoded:
      CAM_TRACE(entry, "将文件转成BASE64字符串成功");
      return Answer(retVal, errMsg, "0");
    case FileEncoding::Missing:
      CAM_TRACE(entry, "将文件转成BASE64字符串失败");
      return Answer(retVal, errMsg, "1", message::kFileMissing);
    case FileEncoding::TooLarge:
      CAM_TRACE(entry, "将文件转成BASE64字符串失败");
      return Answer(retVal, errMsg, "-1", message::kFileTooLarge);
  }
}

}  // namespace

void CamInit(char* retVal, char* errMsg, char* cameraStatus) {
  CameraLog();
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.initLock);
  if (!driver.librariesLoaded) {
    CAM_TRACE("CamInit", "Enter-");
    if (!LoadImageLibraries(driver.libraries)) {
      Answer(retVal, errMsg, "-1", message::kDependenciesMissing);
      CAM_TRACE("CamInit", "Exit-");
      return;
    }
    driver.librariesLoaded = true;
  }
  const int documentStatus = Probe(1);
  const int personStatus = Probe(2);
  CopyText(cameraStatus, 2, CameraStatusDigit(documentStatus, personStatus));
  driver.rotation = 0;
  driver.zoom = kZoomWhole;
  driver.initialised = true;
  Answer(retVal, errMsg, "0");
}

void CamDeinit(char* retVal, char* errMsg) {
  EntryTrace trace("CamDeinit");
  Driver().initialised = false;
  Answer(retVal, errMsg, "0");
}

void CamGetResolutionList(const char* camNo, char* retVal, char* errMsg, char* resolutionList) {
  EntryTrace trace("CamGetResolutionList");
  CAM_TRACE("CamGetResolutionList", "CamNo = %s", TextOrEmpty(camNo));
  CopyText(resolutionList, kCamResolutionListCapacity, "");
  if (!RequireInitialised(retVal, errMsg)) return;
  DriverState& driver = Driver();
  const int number = DecimalValue(camNo);
  if (number == 1 || number == 2) {
    const int status = number == 1 ? driver.documentCameraStatus : driver.personCameraStatus;
    CAM_TRACE("CamGetResolutionList",
              number == 1 ? "DocumentCameraStatus = %d" : "PersonCameraStatus = %d", status);
    if (status != 0) return Answer(retVal, errMsg, "-2", message::kCameraNotConnected);
    const std::string device = CameraName(number);
    CAM_TRACE("CamGetResolutionList",
              number == 1 ? "DocumentCameraName = %s" : "PersonCameraName = %s", device.c_str());
    std::string list;
    GetResolution(device, list);
    CAM_TRACE("CamGetResolutionList", "Resolution = %s", list.c_str());
    CopyText(resolutionList, kCamResolutionListCapacity,
             FitResolutionList(list, kCamResolutionListCapacity).c_str());
  }
  Answer(retVal, errMsg, "0");
}

void CamSetResolution(const char* resolution, char* retVal, char* errMsg) {
  EntryTrace trace("CamSetResolution");
  CAM_TRACE("CamSetResolution", "resolution = %s", TextOrEmpty(resolution));
  DriverState& driver = Driver();
  {
    std::lock_guard<std::mutex> guard(driver.resolutionLock);
    StoreResolution(driver, TextOrEmpty(resolution));
  }
  Answer(retVal, errMsg, "0");
}

void CamSetColor(const char* color, char* retVal, char* errMsg) {
  EntryTrace trace("CamSetColor");
  CAM_TRACE("CamSetColor", "color = %s", TextOrEmpty(color));
  Driver().color = DecimalValue(color);
  Answer(retVal, errMsg, "0");
}

void CamSetCutType(const char* cutType, char* retVal, char* errMsg) {
  EntryTrace trace("CamSetCutType");
  CAM_TRACE("CamSetCutType", "cutType = %s", TextOrEmpty(cutType));
  Driver().cutType = DecimalValue(cutType);
  Answer(retVal, errMsg, "0");
}

void CamOpen(const char* camNo, char* retVal, char* errMsg) {
  EntryTrace trace("CamOpen");
  CAM_TRACE("CamOpen", "CamNo = %s", TextOrEmpty(camNo));
  if (!RequireInitialised(retVal, errMsg)) return;
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.captureLock);
  if (driver.capture) {
    CAM_TRACE("CamOpen", "摄像头已经打开，直接返回成功");
    return Answer(retVal, errMsg, "0");
  }
  const int number = DecimalValue(camNo);
  driver.camNo = number;
  if (number != 1 && number != 2) return Answer(retVal, errMsg, "-2", message::kCameraNotConnected);
  const int status = Probe(number);
  CAM_TRACE("CamOpen", number == 1 ? "DocumentCameraStatus = %d" : "PersonCameraStatus = %d",
            status);
  if (status != 0) return Answer(retVal, errMsg, "-2", message::kCameraNotConnected);
  const std::string device = CameraName(number);
  CAM_TRACE("Display1", "m_CamNo = %d", number);
  CAM_TRACE("Display1", "CameraNo = %s", DeviceNumberText(device).c_str());
  const cv::Size size = CaptureSize(number, device);
  driver.capture = std::make_unique<CaptureSession>(device, size.width, size.height);
  driver.rotation = 0;
  Answer(retVal, errMsg, "0");
}

void CamGetCameraImage(unsigned char* jpegBuf, int* jpegLen, char* retVal, char* errMsg,
                       float scale) {
  CameraLog();
  if (!RequireInitialised(retVal, errMsg)) return;
  ServeFrame(jpegBuf, jpegLen, retVal, errMsg, scale);
}

void CamClose(char* retVal, char* errMsg) {
  EntryTrace trace("CamClose");
  if (!RequireInitialised(retVal, errMsg)) return;
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.captureLock);
  if (!driver.frameDelivered) return Answer(retVal, errMsg, "-2", message::kCameraNotOpen);
  driver.capture.reset();
  driver.frameDelivered = false;
  driver.photo.complete(RequestOutcome::CameraFailed);
  Answer(retVal, errMsg, "0");
}

void CamGetCurrentResolution(char* retVal, char* errMsg, char* resolution) {
  EntryTrace trace("CamGetCurrentResolution");
  DriverState& driver = Driver();
  {
    std::lock_guard<std::mutex> guard(driver.resolutionLock);
    CopyText(resolution, kCamResolutionCapacity, driver.resolution.c_str());
  }
  Answer(retVal, errMsg, "0");
}

void CamPhoto(char* retVal, char* errMsg, char* photoPath) {
  EntryTrace trace("CamPhoto");
  if (Photograph(retVal, errMsg)) CopyText(photoPath, sizeof kPhotoPath, kPhotoPath);
}

void CamPhotoBase64(char* retVal, char* errMsg, char* base64Out) {
  EntryTrace trace("CamPhotoBase64");
  if (!Photograph(retVal, errMsg)) return;
  AnswerFileEncoding(EncodeFileBase64(kPhotoPath, base64Out, kCamBase64Capacity), "CamPhotoBase64",
                     retVal, errMsg);
}

void CamFileToBase64(const char* filePath, char* retVal, char* errMsg, char* base64Out) {
  EntryTrace trace("CamFileToBase64");
  CAM_TRACE("CamFileToBase64", "filePath = %s", TextOrEmpty(filePath));
  AnswerFileEncoding(EncodeFileBase64(filePath, base64Out, kCamBase64Capacity), "CamFileToBase64",
                     retVal, errMsg);
}

void CamStartTimerCap(const char* time, char* retVal, char* errMsg, char* folder) {
  EntryTrace trace("CamStartTimerCap");
  CAM_TRACE("CamStartTimerCap", "time = %s", TextOrEmpty(time));
  DriverState& driver = Driver();
  const int interval = std::max(0, DecimalValue(time));
  {
    std::lock_guard<std::mutex> guard(driver.workersLock);
    driver.timer.start([interval](CaptureWorker& worker) { TimerCap(worker, interval); },
                       {&driver.timedCapture});
  }
  CopyText(folder, sizeof kCaptureFolder, kCaptureFolder);
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamStartTimerCap", "开始定时抓拍成功");
}

void CamStopTimerCap(char* retVal, char* errMsg) {
  EntryTrace trace("CamStopTimerCap");
  DriverState& driver = Driver();
  {
    std::lock_guard<std::mutex> guard(driver.workersLock);
    driver.timer.stop();
  }
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamStopTimerCap", "结束定时抓拍成功");
}

void CamStartAutoCap(char* retVal, char* errMsg, char* folder) {
  EntryTrace trace("CamStartAutoCap");
  DriverState& driver = Driver();
  if (driver.libraries.scenewatch.load() == nullptr) {
    return Answer(retVal, errMsg, "-1", message::kDependenciesMissing);
  }
  {
    std::lock_guard<std::mutex> guard(driver.workersLock);
    driver.automatic.start(AutoCap, {&driver.autoPreview, &driver.timedCapture});
  }
  CopyText(folder, sizeof kCaptureFolder, kCaptureFolder);
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamStartAutoCap", "开始自动抓拍成功");
}

void CamStopAutoCap(char* retVal, char* errMsg) {
  EntryTrace trace("CamStopAutoCap");
  DriverState& driver = Driver();
  {
    std::lock_guard<std::mutex> guard(driver.workersLock);
    driver.automatic.stop();
  }
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamStopAutoCap", "结束自动抓拍成功");
}

void CamSetRotateLeft(char* retVal, char* errMsg) {
  EntryTrace trace("CamSetRotateLeft");
  if (!RequireInitialised(retVal, errMsg)) return;
  Update(Driver().rotation, RotatedLeft);
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamSetRotateLeft", "向左旋转成功");
}

void CamSetRotateRight(char* retVal, char* errMsg) {
  EntryTrace trace("CamSetRotateRight");
  if (!RequireInitialised(retVal, errMsg)) return;
  Update(Driver().rotation, RotatedRight);
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamSetRotateRight", "向右旋转成功");
}

void CamZoomOut(char* retVal, char* errMsg) {
  EntryTrace trace("CamZoomOut");
  Update(Driver().zoom, [](int zoom) { return zoom < kZoomWhole ? zoom + 1 : zoom; });
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamZoomOut", "缩小成功");
}

void CamZoomIn(char* retVal, char* errMsg) {
  EntryTrace trace("CamZoomIn");
  Update(Driver().zoom, [](int zoom) { return zoom > 0 ? zoom - 1 : zoom; });
  Answer(retVal, errMsg, "0");
  CAM_TRACE("CamZoomIn", "放大成功");
}
