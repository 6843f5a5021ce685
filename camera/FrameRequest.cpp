#include "FrameRequest.h"

namespace docscope {

std::uint64_t FrameRequest::raise() {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_unanswered;
  m_wanted = true;
  return m_answers;
}

bool FrameRequest::begin() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_wanted) return false;
  m_honouring = true;
  return true;
}

void FrameRequest::complete(RequestOutcome outcome, cv::Mat image) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_wanted) return;
    m_wanted = false;
    m_honouring = false;
    m_unanswered = 0;
    m_outcome = outcome;
    m_image = std::move(image);
    ++m_answers;
  }
  m_answered.notify_all();
}

RequestOutcome FrameRequest::await(std::uint64_t ticket,
                                   std::chrono::steady_clock::time_point deadline,
                                   const std::atomic<bool>* stop, cv::Mat* image) {
  std::unique_lock<std::mutex> guard(m_lock);
  const auto settled = [&] { return m_answers > ticket || (stop != nullptr && stop->load()); };
  if (deadline == std::chrono::steady_clock::time_point::max()) {
    m_answered.wait(guard, settled);
  } else if (!m_answered.wait_until(guard, deadline, settled)) {
    m_answered.wait(guard, [&] { return !m_honouring || settled(); });
  }
  if (m_answers > ticket) {
    if (image != nullptr) *image = m_image;
    return m_outcome;
  }
  // Withdrawn: the request stays raised only for the other waiters still waiting on it.
  if (m_unanswered > 0) --m_unanswered;
  m_wanted = m_unanswered > 0;
  return stop != nullptr && stop->load() ? RequestOutcome::Stopped : RequestOutcome::TimedOut;
}

void FrameRequest::wake() {
  { std::lock_guard<std::mutex> guard(m_lock); }
  m_answered.notify_all();
}

}  // namespace docscope
