// A background capture thread (timed or automatic capture) that can be asked to stop at any
// point of its cycle: its sleeps and its waits on frame requests end at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

namespace docscope {

class FrameRequest;

class CaptureWorker {
 public:
  CaptureWorker() = default;
  ~CaptureWorker() { stop(); }
  CaptureWorker(const CaptureWorker&) = delete;
  CaptureWorker& operator=(const CaptureWorker&) = delete;

  // Stops a running thread, then runs `body` on a new one. `awaited` are the requests the body
  // waits on with stopFlag(), woken by stop(). Not thread-safe: callers serialise start and stop.
  void start(std::function<void(CaptureWorker&)> body,
             std::initializer_list<FrameRequest*> awaited);
  // Asks the thread to end and joins it; nothing when none runs.
  void stop();

  // For the body: true when asked to stop.
  bool stopping() const { return m_stopping.load(); }
  const std::atomic<bool>& stopFlag() const { return m_stopping; }
  // For the body: sleeps `duration`; false when asked to stop meanwhile.
  bool sleepFor(std::chrono::milliseconds duration);

 private:
  std::atomic<bool> m_stopping{false};
  std::mutex m_sleepLock;  // pairs with m_woken for sleepFor
  std::condition_variable m_woken;
  std::vector<FrameRequest*> m_awaited;
  std::thread m_thread;
};

}  // namespace docscope
