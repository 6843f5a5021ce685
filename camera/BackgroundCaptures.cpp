#include "BackgroundCaptures.h"

#include <cstdio>

#include "CameraLog.h"
#include "CaptureWorker.h"
#include "DriverState.h"

namespace docscope {
namespace {

constexpr auto kNoDeadline = std::chrono::steady_clock::time_point::max();

// Raises `request` and waits until a frame answers it or the worker is asked to stop.
RequestOutcome Await(FrameRequest& request, CaptureWorker& worker, cv::Mat* image = nullptr) {
  const std::uint64_t ticket = request.raise();
  return request.await(ticket, kNoDeadline, &worker.stopFlag(), image);
}

bool TakePreview(CaptureWorker& worker, cv::Mat& preview) {
  return Await(Driver().autoPreview, worker, &preview) == RequestOutcome::Done;
}

double Score(const cv::Mat& reference, const cv::Mat& current) {
  try {
    return Driver().libraries.scenewatch.load()(reference, current);
  } catch (...) {
    return 0.0;
  }
}

}  // namespace

void TimerCap(CaptureWorker& worker, int intervalMilliseconds) {
  CAM_TRACE("TimerCap", "m_time = %d", intervalMilliseconds);
  while (worker.sleepFor(std::chrono::milliseconds(intervalMilliseconds))) {
    Await(Driver().timedCapture, worker);
  }
  CAM_TRACE("TimerCap", "StopTimer_Flag == 1, 结束定时抓拍");
}

void AutoCap(CaptureWorker& worker) {
  DriverState& driver = Driver();
  cv::Mat reference;
  if (TakePreview(worker, reference)) {
    cv::Mat current;
    while (worker.sleepFor(kAutoCaptureCycle) && TakePreview(worker, current)) {
      const double score = Score(reference, current);
      reference = current;
      const double previous = driver.detectold;
      if (score - previous > kSceneChangeJump) {
        std::printf("detectnew = %f\n", score);
        std::printf("detectold = %f\n", previous);
        Await(driver.timedCapture, worker);
      }
      driver.detectold = score;
    }
  }
  CAM_TRACE("AutoCap", "StopAuto_Flag == 1, 结束自动抓拍");
}

}  // namespace docscope
