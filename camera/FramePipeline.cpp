#include "FramePipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "AUX_X.h"
#include "CameraLog.h"
#include "DriverState.h"
#include "ResultTexts.h"
#include "ViewTransform.h"

namespace docscope {
namespace {

bool FileExists(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0;
}

bool WriteImage(const char* path, const cv::Mat& image) {
  try {
    return cv::imwrite(path, image) && FileExists(path);
  } catch (const cv::Exception&) {
    return false;
  }
}

// The photo: the document cut out and straightened when one was found, otherwise (and when the
// cut finds no region large enough) the whole view.
RequestOutcome WritePhoto(const cv::Mat& view, bool cutToDocument, float scale,
                          const DocumentBox& box) {
  unlink(kPhotoPath);
  if (cutToDocument) {
    try {
      Driver().libraries.cropalign.load()(view, kPhotoPath, 1, scale, box);
    } catch (const cv::Exception&) {
      unlink(kPhotoPath);
    }
    if (FileExists(kPhotoPath)) return RequestOutcome::Done;
    CAM_TRACE("CamGetCameraImage", "no document region to cut; the whole frame is written");
  }
  return WriteImage(kPhotoPath, view) ? RequestOutcome::Done : RequestOutcome::NotWritten;
}

RequestOutcome WriteTimedCapture(const cv::Mat& view) {
  char path[64];
  TimeStampedPath(path, sizeof path);
  CAM_TRACE("CamGetCameraImage", "CameraPath = %s", path);
  return WriteImage(path, view) ? RequestOutcome::Done : RequestOutcome::NotWritten;
}

bool CameraAbsent(const DriverState& driver, int camNo) {
  return (camNo == 1 && driver.documentCameraStatus != 0) ||
         (camNo == 2 && driver.personCameraStatus != 0);
}

// Everything after the frame has arrived. Throws cv::Exception when an image step fails.
void ProcessFrame(const cv::Mat& frame, int camNo, float scale, unsigned char* jpegBuf,
                  int* jpegLen) {
  DriverState& driver = Driver();
  const cv::Mat colour = AsColourFrame(frame);
  if (colour.empty()) CV_Error(cv::Error::StsUnsupportedFormat, "frame with an unusable layout");
  const cv::Mat turned = Rotated(colour, driver.rotation);
  const cv::Mat view = turned(ZoomRegion(turned.size(), driver.zoom));
  const float previewScale = PreviewScale(scale);
  cv::Mat preview;
  cv::resize(view, preview, PreviewSize(view.size(), previewScale), 0, 0, cv::INTER_LINEAR);

  if (driver.autoPreview.pending())
    driver.autoPreview.complete(RequestOutcome::Done, preview.clone());
  DocumentBox box{};
  int found = 0;
  driver.libraries.framepack.load()(preview, jpegBuf, jpegLen,
                                    camNo == 1 ? driver.cutType.load() : 0, driver.color, &box,
                                    &found);
  driver.photo.honour(
      [&] { return WritePhoto(view, camNo == 1 && found == 1, previewScale, box); });
  driver.timedCapture.honour([&] { return WriteTimedCapture(view); });
}

}  // namespace

void TimeStampedPath(char* path, int capacity) {
  _sys_time_ now{};
  AUX_X::GetLocalTime(&now);
  std::snprintf(path, capacity, "%s/%04d%02d%02d%02d%02d%02d.jpg", kCaptureFolder, now.year,
                now.month, now.day, now.hour, now.minute, now.second);
}

void ServeFrame(unsigned char* jpegBuf, int* jpegLen, char* retVal, char* errMsg, float scale) {
  DriverState& driver = Driver();
  std::lock_guard<std::mutex> guard(driver.captureLock);
  const int camNo = driver.camNo;
  if (CameraAbsent(driver, camNo))
    return Answer(retVal, errMsg, "-2", message::kCameraNotConnected);
  if (!driver.capture) return Answer(retVal, errMsg, "-2", message::kCameraNotOpen);
  cv::Mat frame;
  if (!driver.capture->takeFrame(frame, kFrameWaitLimit)) {
    CAM_TRACE("CamGetCameraImage", "cam.rows == 0 || cam.cols == 0");
    driver.photo.complete(RequestOutcome::CameraFailed);
    return Answer(retVal, errMsg, "-2", message::kCameraNotConnected);
  }
  try {
    ProcessFrame(frame, camNo, scale, jpegBuf, jpegLen);
  } catch (const cv::Exception& failure) {
    CAM_TRACE("CamGetCameraImage", "%s", failure.what());
    driver.photo.complete(RequestOutcome::CameraFailed);
    return Answer(retVal, errMsg, "-2", message::kCameraNotConnected);
  }
  driver.frameDelivered = true;
  Answer(retVal, errMsg, "0");
}

}  // namespace docscope
