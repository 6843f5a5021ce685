#include "ViewTransform.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace docscope {
namespace {

constexpr int kAfterLeft[kRotationStates] = {1, 2, 3, 0, 0, 4, 5};
constexpr int kAfterRight[kRotationStates] = {4, 0, 1, 2, 5, 6, 0};

int ValidState(int state) { return state >= 0 && state < kRotationStates ? state : 0; }

}  // namespace

int RotatedLeft(int state) { return kAfterLeft[ValidState(state)]; }
int RotatedRight(int state) { return kAfterRight[ValidState(state)]; }

cv::Mat AsColourFrame(const cv::Mat& frame) {
  cv::Mat eightBit = frame;
  if (frame.depth() != CV_8U) frame.convertTo(eightBit, CV_8U);
  cv::Mat colour;
  switch (eightBit.channels()) {
    case 3: return eightBit;
    case 1: cv::cvtColor(eightBit, colour, cv::COLOR_GRAY2BGR); return colour;
    case 4: cv::cvtColor(eightBit, colour, cv::COLOR_BGRA2BGR); return colour;
    default: return cv::Mat();
  }
}

cv::Mat Rotated(const cv::Mat& frame, int state) {
  cv::Mat turned;
  switch (ValidState(state)) {
    case 1:
    case 6:  // a quarter counter-clockwise
      cv::transpose(frame, turned);
      cv::flip(turned, turned, 0);
      return turned;
    case 3:
    case 4:  // a quarter clockwise
      cv::transpose(frame, turned);
      cv::flip(turned, turned, 1);
      return turned;
    case 2:
    case 5:  // a half turn
      cv::flip(frame, turned, -1);
      return turned;
    default: return frame;
  }
}

cv::Rect ZoomRegion(cv::Size frame, int zoom) {
  const int margin = 1000 - 10 * std::clamp(zoom, 0, kZoomWhole);
  const int marginX = std::min(margin, (frame.width - 1) / 2);
  const int marginY = std::min(margin, (frame.height - 1) / 2);
  return {marginX, marginY, frame.width - 2 * marginX, frame.height - 2 * marginY};
}

float PreviewScale(float scale) {
  return std::isfinite(scale) && scale > 0.0f && scale <= 1.0f ? scale : 1.0f;
}

cv::Size PreviewSize(cv::Size view, float scale) {
  return {std::max(1, static_cast<int>(view.width * scale)),
          std::max(1, static_cast<int>(view.height * scale))};
}

}  // namespace docscope
