// The capture thread of an opened camera: it owns the frame source and reads one frame each
// time a caller asks for one, sleeping in between.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <opencv2/core.hpp>

namespace docscope {

class FrameSource;

class CaptureSession {
 public:
  // Starts the thread, which opens `device` (width x height asked of a V4L2 camera).
  CaptureSession(std::string device, int width, int height);
  // Stops the thread and joins it; a read in progress is finished first.
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // Asks for a new frame and waits for it at most `limit`. False when none came in time or the
  // camera delivered none (`frame` empty). One caller at a time.
  bool takeFrame(cv::Mat& frame, std::chrono::milliseconds limit);

 private:
  void run(std::string device, int width, int height);
  void deliver(FrameSource& source, std::uint64_t request);

  std::mutex m_exchangeLock;  // guards the counters and m_frame
  std::condition_variable m_exchanged;
  std::uint64_t m_requested = 0;  // frames asked for so far
  std::uint64_t m_delivered = 0;  // the request the last frame answered
  cv::Mat m_frame;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
};

}  // namespace docscope
