// The driver's process-wide state: one set per loaded copy of the library, made on first use and
// torn down (background threads stopped, capture joined) when the library unloads.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "CaptureSession.h"
#include "CaptureWorker.h"
#include "FrameRequest.h"
#include "ImageLibraries.h"

namespace docscope {

constexpr char kPhotoPath[] = "./Temp/Camera0.jpg";
constexpr char kCaptureFolder[] = "./Temp";
constexpr std::chrono::seconds kFrameWaitLimit{5};
constexpr std::chrono::seconds kAutoCaptureCycle{1};
constexpr double kSceneChangeJump = 100000000.0;

struct DriverState {
  std::mutex initLock;  // serialises CamInit
  ImageLibraries libraries;
  std::atomic<bool> librariesLoaded{false};  // LoadLibraryFlag
  std::atomic<bool> initialised{false};      // Init_Flag

  std::mutex cameraNamesLock;  // guards the two names
  std::string documentCameraName;
  std::string personCameraName;
  std::atomic<int> documentCameraStatus{0};  // last probe: 0 present, 1 absent
  std::atomic<int> personCameraStatus{0};

  std::mutex resolutionLock;  // guards the requested capture size
  std::string resolution;     // m_resolution, at most 99 characters
  int width = 0;              // m_Width, 0: not set
  int height = 0;             // m_Height, 0: not set

  std::atomic<int> camNo{0};  // camera opened last
  std::atomic<int> color{2};
  std::atomic<int> cutType{0};
  std::atomic<int> zoom{100};
  std::atomic<int> rotation{0};  // Rotate_Flag

  std::mutex captureLock;                   // guards `capture` and the frame in progress
  std::unique_ptr<CaptureSession> capture;  // the running capture, null when none runs
  std::atomic<bool> frameDelivered{false};  // CameraImage_Flag

  std::mutex photoLock;  // one photo request at a time
  FrameRequest photo;
  FrameRequest timedCapture;
  FrameRequest autoPreview;

  std::mutex workersLock;              // serialises starting and stopping the workers
  std::atomic<double> detectold{0.0};  // the previous scene score, kept across runs
  // Last members: destroyed first, while the requests they wait on still exist.
  CaptureWorker timer;
  CaptureWorker automatic;
};

DriverState& Driver();

// The device node of camera 1 or 2 as last probed.
std::string CameraName(int camNo);

}  // namespace docscope
