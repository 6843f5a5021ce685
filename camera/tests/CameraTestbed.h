// Test helpers: a counter without cameras, made of files. A workspace is a fresh working folder
// (the image libraries linked in from the deploy folder, an empty Temp/) with a fake device
// folder and video4linux tree that the driver's probe is pointed at; a camera node there is a
// regular file whose image the driver reads as its frames. Each DriverCopy loads its own copy of
// libDRV_DOCSCOPE.so, so every test starts from a driver that has never been called.
#pragma once

#include <dlfcn.h>
#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "DRV_DOCSCOPE.h"
#include "DocumentImaging.h"

namespace camera_testbed {

namespace fs = std::filesystem;

inline fs::path DeployFolder() {
  const char* folder = std::getenv("COUNTERMATE_DEPLOY_DIR");
  return folder != nullptr ? folder : COUNTERMATE_DEPLOY_DIR;
}

inline std::string Modalias(const char* vid, const char* pid) {
  return std::string("usb:v") + vid + "p" + pid + "d0100dcEFdsc02dp01ic0Eisc01ip00in00";
}
inline const std::string kDocumentCamera = Modalias("0C45", "6366");
inline const std::string kPersonCamera = Modalias("1B17", "0209");
inline const std::string kPersonCameraAlternative = Modalias("0C40", "0C80");

// The working folder of one test, made current for its lifetime, with the probe pointed at it.
class Workspace {
 public:
  explicit Workspace(std::vector<std::string> libraries = {"libframepack.so", "libcropalign.so",
                                                           "libscenewatch.so"}) {
    std::string pattern = (fs::temp_directory_path() / "camera-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    for (const char* folder : {"dev", "sys", "Temp"}) fs::create_directory(root_ / folder);
    for (const std::string& library : libraries)
      fs::create_symlink(DeployFolder() / library, root_ / library);
    previous_ = fs::current_path();
    fs::current_path(root_);
    setenv("COUNTERMATE_DEV_ROOT", (root_ / "dev").c_str(), 1);
    setenv("COUNTERMATE_SYSFS_ROOT", (root_ / "sys").c_str(), 1);
  }
  ~Workspace() {
    unsetenv("COUNTERMATE_DEV_ROOT");
    unsetenv("COUNTERMATE_SYSFS_ROOT");
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  const fs::path& root() const { return root_; }
  fs::path node(const std::string& name) const { return root_ / "dev" / name; }
  fs::path temp() const { return root_ / "Temp"; }

  // A device node with its modalias (none when `modalias` is empty); `frame` is what the node
  // shows when the driver reads it as a camera (an empty node when empty).
  void addNode(const std::string& name, const std::string& modalias,
               const cv::Mat& frame = cv::Mat()) {
    if (!modalias.empty()) {
      fs::create_directories(root_ / "sys" / name / "device");
      writeText(root_ / "sys" / name / "device" / "modalias", modalias + "\n");
    }
    if (frame.empty()) writeText(node(name), "");
    else show(name, frame);
  }

  // Replaces what node `name` shows, in one rename so that no reader sees half a file.
  void show(const std::string& name, const cv::Mat& frame) const {
    const fs::path staging = root_ / ("staging-" + name + ".jpg");
    if (!cv::imwrite(staging.string(), frame)) throw std::runtime_error("cannot write a frame");
    fs::rename(staging, node(name));
  }

  static void writeText(const fs::path& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }

 private:
  fs::path root_;
  fs::path previous_;
};

// The 21 entries of one freshly loaded copy of the driver.
class DriverCopy {
  void* handle_;  // first: opened before the entries are bound

  static void* Load(const Workspace& workspace) {
    const fs::path copy = workspace.root() / "libDRV_DOCSCOPE.so";
    fs::copy_file(DeployFolder() / "libDRV_DOCSCOPE.so", copy);
    void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(dlerror());
    return handle;
  }

 public:
  explicit DriverCopy(const Workspace& workspace) : handle_(Load(workspace)) {}
  ~DriverCopy() { dlclose(handle_); }
  DriverCopy(const DriverCopy&) = delete;
  DriverCopy& operator=(const DriverCopy&) = delete;

  template <typename Entry>
  Entry bind(const char* name) const {
    void* address = dlsym(handle_, name);
    if (address == nullptr) throw std::runtime_error(std::string("missing entry ") + name);
    return reinterpret_cast<Entry>(address);
  }

#define CAMERA_ENTRY(name) const decltype(&::name) name = bind<decltype(&::name)>(#name)
  CAMERA_ENTRY(CamInit);
  CAMERA_ENTRY(CamDeinit);
  CAMERA_ENTRY(CamGetResolutionList);
  CAMERA_ENTRY(CamSetResolution);
  CAMERA_ENTRY(CamSetColor);
  CAMERA_ENTRY(CamSetCutType);
  CAMERA_ENTRY(CamOpen);
  CAMERA_ENTRY(CamGetCameraImage);
  CAMERA_ENTRY(CamClose);
  CAMERA_ENTRY(CamGetCurrentResolution);
  CAMERA_ENTRY(CamPhotoBase64);
  CAMERA_ENTRY(CamFileToBase64);
  CAMERA_ENTRY(CamPhoto);
  CAMERA_ENTRY(CamStartTimerCap);
  CAMERA_ENTRY(CamStopTimerCap);
  CAMERA_ENTRY(CamStartAutoCap);
  CAMERA_ENTRY(CamStopAutoCap);
  CAMERA_ENTRY(CamSetRotateLeft);
  CAMERA_ENTRY(CamSetRotateRight);
  CAMERA_ENTRY(CamZoomOut);
  CAMERA_ENTRY(CamZoomIn);
#undef CAMERA_ENTRY
};

// The result texts of one call.
struct Result {
  char retVal[kCamTextCapacity] = {};
  char errMsg[kCamTextCapacity] = {};
  std::string code() const { return retVal; }
  std::string message() const { return errMsg; }
};

// One preview frame fetched through CamGetCameraImage.
struct Preview {
  Result result;
  std::vector<unsigned char> jpeg = std::vector<unsigned char>(kFramepackCapacity);
  int length = 0;
  cv::Mat image() const {
    return cv::imdecode(std::vector<unsigned char>(jpeg.begin(), jpeg.begin() + length),
                        cv::IMREAD_COLOR);
  }
};

inline Preview FetchPreview(const DriverCopy& driver, float scale) {
  Preview preview;
  driver.CamGetCameraImage(preview.jpeg.data(), &preview.length, preview.result.retVal,
                           preview.result.errMsg, scale);
  return preview;
}

// The service's preview thread: fetches frames one after another (paced by the camera) until
// stopped or until a frame fails.
class PreviewPump {
 public:
  PreviewPump(const DriverCopy& driver, float scale)
      : thread_([this, &driver, scale] {
          while (!stop_ && FetchPreview(driver, scale).result.code() == "0") {
            {
              std::lock_guard<std::mutex> guard(framesLock_);
              ++frames_;
            }
            framesChanged_.notify_all();
          }
        }) {}
  ~PreviewPump() {
    stop_ = true;
    thread_.join();
  }
  int frames() const {
    std::lock_guard<std::mutex> guard(framesLock_);
    return frames_;
  }
  // True once `count` frames have been delivered in all, false when `limit` passes first.
  bool awaitFrames(int count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(framesLock_);
    return framesChanged_.wait_for(guard, limit, [&] { return frames_ >= count; });
  }

 private:
  std::atomic<bool> stop_{false};
  mutable std::mutex framesLock_;  // guards frames_
  std::condition_variable framesChanged_;
  int frames_ = 0;
  std::thread thread_;
};

// Names of the files that appear in `folder` (closed after writing or moved in) until `enough`
// holds for them or `limit` passes; waits on inotify, never on a timer loop.
inline std::vector<std::string> AwaitFiles(
    const fs::path& folder, const std::function<bool(const std::vector<std::string>&)>& enough,
    std::chrono::milliseconds limit) {
  const int watch = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(watch, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
  std::vector<std::string> names;
  const auto collect = [&] {
    names.clear();
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename());
  };
  collect();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!enough(names)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{watch, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char events[4096];
    [[maybe_unused]] const ssize_t ignored = read(watch, events, sizeof events);
    collect();
  }
  close(watch);
  return names;
}

}  // namespace camera_testbed
