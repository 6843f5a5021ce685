#include "FrameSource.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

namespace docscope {
namespace {

using Clock = std::chrono::steady_clock;

// Spaces reads of a file-backed camera like a camera's frame rate.
class FramePacer {
 public:
  explicit FramePacer(double framesPerSecond) {
    if (framesPerSecond > 0) {
      m_interval = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / framesPerSecond));
    }
  }
  // Returns once a frame interval has passed since the previous return.
  void awaitNextFrame() {
    if (m_interval == Clock::duration::zero()) return;
    const Clock::time_point now = Clock::now();
    if (m_next > now) std::this_thread::sleep_until(m_next);
    m_next = std::max(now, m_next) + m_interval;
  }

 private:
  Clock::duration m_interval = Clock::duration::zero();
  Clock::time_point m_next{};
};

double FileFramesPerSecond(double fallback) {
  const char* setting = std::getenv("COUNTERMATE_CAMERA_FILE_FPS");
  if (setting == nullptr || setting[0] == '\0') return fallback;
  return std::atof(setting);
}

// What identifies a version of a file: a change of either means it was replaced or rewritten.
struct FileVersion {
  timespec modified{};
  off_t size = -1;
  bool operator==(const FileVersion& other) const {
    return modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           size == other.size;
  }
};

bool CurrentVersion(const std::string& path, FileVersion& version) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  version.modified = status.st_mtim;
  version.size = status.st_size;
  return true;
}

class V4l2Source : public FrameSource {
 public:
  V4l2Source(const std::string& device, int width, int height) {
    if (!m_capture.open(device, cv::CAP_V4L2)) return;
    m_capture.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'));
    m_capture.set(cv::CAP_PROP_FRAME_WIDTH, width);
    m_capture.set(cv::CAP_PROP_FRAME_HEIGHT, height);
  }
  bool read(cv::Mat& frame) override {
    if (!m_capture.isOpened() || !m_capture.read(frame)) frame.release();
    return !frame.empty();
  }

 private:
  cv::VideoCapture m_capture;
};

// A still image delivered again and again; a rewritten file is read anew, a removed one ends
// the delivery.
class StillImageSource : public FrameSource {
 public:
  StillImageSource(std::string path, cv::Mat image, FileVersion version)
      : m_path(std::move(path)),
        m_image(std::move(image)),
        m_version(version),
        m_pacer(FileFramesPerSecond(25)) {}
  bool read(cv::Mat& frame) override {
    m_pacer.awaitNextFrame();
    FileVersion version;
    if (!CurrentVersion(m_path, version)) {
      m_image.release();
      m_version = FileVersion{};
    } else if (!(version == m_version)) {
      m_image = cv::imread(m_path, cv::IMREAD_COLOR);
      m_version = version;
    }
    frame = m_image.clone();
    return !frame.empty();
  }

 private:
  std::string m_path;
  cv::Mat m_image;
  FileVersion m_version;
  FramePacer m_pacer;
};

// A video file played in a loop at its own frame rate; a removed file ends the delivery.
class VideoFileSource : public FrameSource {
 public:
  explicit VideoFileSource(std::string path)
      : m_path(std::move(path)),
        m_capture(OpenVideo(m_path)),
        m_pacer(FileFramesPerSecond(VideoRate(m_capture))) {}
  bool opened() const { return m_capture.isOpened(); }
  bool read(cv::Mat& frame) override {
    m_pacer.awaitNextFrame();
    FileVersion version;
    if (!CurrentVersion(m_path, version)) {
      frame.release();
      return false;
    }
    if (!m_capture.read(frame)) {
      m_capture.set(cv::CAP_PROP_POS_FRAMES, 0);
      if (!m_capture.read(frame)) frame.release();
    }
    return !frame.empty();
  }

 private:
  // FFmpeg first: the other back ends that take files (GStreamer) start far more slowly.
  static cv::VideoCapture OpenVideo(const std::string& path) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    if (!capture.isOpened()) capture.open(path, cv::CAP_ANY);
    return capture;
  }
  static double VideoRate(const cv::VideoCapture& capture) {
    const double rate = capture.get(cv::CAP_PROP_FPS);
    return rate > 0 && rate <= 120 ? rate : 25;
  }
  std::string m_path;
  cv::VideoCapture m_capture;
  FramePacer m_pacer;
};

class FailingSource : public FrameSource {
 public:
  bool read(cv::Mat& frame) override {
    frame.release();
    return false;
  }
};

std::unique_ptr<FrameSource> OpenFileSource(const std::string& path) {
  FileVersion version;
  if (!CurrentVersion(path, version)) return std::make_unique<FailingSource>();
  cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
  if (!image.empty()) return std::make_unique<StillImageSource>(path, std::move(image), version);
  auto video = std::make_unique<VideoFileSource>(path);
  if (video->opened()) return video;
  return std::make_unique<FailingSource>();
}

}  // namespace

bool IsFileBackedNode(const std::string& device) {
  struct stat status {};
  return stat(device.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& device, int width, int height) {
  if (IsFileBackedNode(device)) return OpenFileSource(device);
  return std::make_unique<V4l2Source>(device, width, height);
}

cv::Size FileFrameSize(const std::string& path) {
  const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
  if (!image.empty()) return image.size();
  cv::VideoCapture video(path, cv::CAP_FFMPEG);
  if (!video.isOpened()) video.open(path, cv::CAP_ANY);
  if (!video.isOpened()) return {};
  return {static_cast<int>(video.get(cv::CAP_PROP_FRAME_WIDTH)),
          static_cast<int>(video.get(cv::CAP_PROP_FRAME_HEIGHT))};
}

}  // namespace docscope
