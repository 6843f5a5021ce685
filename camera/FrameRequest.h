// A request that another thread raises and the next CamGetCameraImage honours: a photo, a
// time-stamped capture, or a copy of the preview for automatic capture.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <opencv2/core.hpp>

namespace docscope {

enum class RequestOutcome {
  Done,          // honoured
  CameraFailed,  // the camera delivered no frame, or was closed
  NotWritten,    // the file could not be written
  TimedOut,      // no frame honoured it in time; withdrawn
  Stopped,       // the waiting thread was asked to stop; withdrawn
};

// Thread-safe. Several threads may wait on one raised request; one honouring answers them all.
class FrameRequest {
 public:
  // Raises the request and returns the ticket to wait with.
  std::uint64_t raise();
  bool pending() const { return m_wanted.load(); }
  // Answers the raised request (with an image for the preview request); nothing when none is.
  void complete(RequestOutcome outcome, cv::Mat image = cv::Mat());
  // Answers the raised request with the outcome of `work` (writing a file), run without the lock;
  // nothing when none is raised. A waiter whose deadline passes meanwhile waits for this answer.
  template <typename Work>
  void honour(Work work) {
    if (begin()) complete(work());
  }
  // Waits until the request of `ticket` is answered, `deadline` passes while no frame is
  // honouring it (time_point::max(): never) or `stop` is set (and this request woken through
  // wake()). A request not answered is withdrawn for this waiter. `image` receives
  // the image of the answer.
  RequestOutcome await(std::uint64_t ticket, std::chrono::steady_clock::time_point deadline,
                       const std::atomic<bool>* stop = nullptr, cv::Mat* image = nullptr);
  // Wakes waiters to look at their stop flag.
  void wake();

 private:
  bool begin();

  mutable std::mutex m_lock;  // guards the counters, the outcome and the image
  std::condition_variable m_answered;
  std::atomic<bool> m_wanted{false};
  std::uint64_t m_answers = 0;  // answers given so far; a ticket is the count at raise
  int m_unanswered = 0;         // raises waiting for the next answer
  bool m_honouring = false;     // a frame is working out the answer
  RequestOutcome m_outcome = RequestOutcome::Done;
  cv::Mat m_image;
};

}  // namespace docscope
