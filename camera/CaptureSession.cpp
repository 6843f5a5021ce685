#include "CaptureSession.h"

#include "CameraLog.h"
#include "FrameSource.h"

namespace docscope {

CaptureSession::CaptureSession(std::string device, int width, int height)
    : m_thread(&CaptureSession::run, this, std::move(device), width, height) {}

CaptureSession::~CaptureSession() {
  {
    std::lock_guard<std::mutex> guard(m_exchangeLock);
    m_stopping = true;
  }
  m_exchanged.notify_all();
  m_thread.join();
}

bool CaptureSession::takeFrame(cv::Mat& frame, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(m_exchangeLock);
  const std::uint64_t request = ++m_requested;
  m_exchanged.notify_all();
  if (!m_exchanged.wait_for(guard, limit, [&] { return m_delivered >= request; })) {
    frame.release();
    return false;
  }
  frame = std::move(m_frame);
  m_frame = cv::Mat();
  return !frame.empty();
}

void CaptureSession::run(std::string device, int width, int height) {
  CAM_TRACE("Display1", "Enter-");
  CAM_TRACE("Display1", "m_Width = %d, m_Height = %d", width, height);
  const std::unique_ptr<FrameSource> source = OpenFrameSource(device, width, height);
  CAM_TRACE("Display1", "开始获取摄像头画面");
  std::unique_lock<std::mutex> guard(m_exchangeLock);
  while (true) {
    m_exchanged.wait(guard, [&] { return m_stopping || m_requested > m_delivered; });
    if (m_stopping) break;
    const std::uint64_t request = m_requested;
    guard.unlock();
    deliver(*source, request);
    guard.lock();
  }
  guard.unlock();
  CAM_TRACE("Display1", "Exit-");
}

// Reads without holding the lock, so a caller whose wait ran out is never held by a slow read.
void CaptureSession::deliver(FrameSource& source, std::uint64_t request) {
  cv::Mat frame;
  try {
    source.read(frame);
  } catch (const cv::Exception&) {
    frame.release();
  }
  {
    std::lock_guard<std::mutex> guard(m_exchangeLock);
    m_frame = std::move(frame);
    m_delivered = request;
  }
  m_exchanged.notify_all();
}

}  // namespace docscope
