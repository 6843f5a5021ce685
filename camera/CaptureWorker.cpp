#include "CaptureWorker.h"

#include "FrameRequest.h"

namespace docscope {

void CaptureWorker::start(std::function<void(CaptureWorker&)> body,
                          std::initializer_list<FrameRequest*> awaited) {
  stop();
  m_stopping = false;
  m_awaited.assign(awaited);
  m_thread = std::thread([this, body = std::move(body)] { body(*this); });
}

void CaptureWorker::stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(m_sleepLock);
    m_stopping = true;
  }
  m_woken.notify_all();
  for (FrameRequest* request : m_awaited) request->wake();
  m_thread.join();
}

bool CaptureWorker::sleepFor(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> guard(m_sleepLock);
  return !m_woken.wait_for(guard, duration, [this] { return m_stopping.load(); });
}

}  // namespace docscope
