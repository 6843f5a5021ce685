#include "DocumentCut.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace document {
namespace {

// The canvas factor: a little under sqrt(2), so a square turned near 45 degrees slightly
// overflows the canvas and the window is clipped.
constexpr double kCanvasFactor = 1.414;

std::optional<int> scaledCoordinate(float inverseScale, int32_t value) {
  const float scaled = inverseScale * static_cast<float>(value);
  // 2^31 is exact in float; anything at or past it would not convert to int.
  if (!std::isfinite(scaled) || scaled >= 2147483648.0f || scaled <= -2147483649.0f) {
    return std::nullopt;
  }
  return static_cast<int>(scaled);
}

}  // namespace

float smallestStraighteningTurn(float angle) {
  float turn = std::fmod(angle, 90.0f);
  if (turn > 45.0f) turn -= 90.0f;
  if (turn <= -45.0f) turn += 90.0f;
  return turn;
}

cv::Mat turnWhole(const cv::Mat& src, float angle) {
  const float radians = static_cast<float>(static_cast<double>(angle) / 180.0 * 3.141592653589793);
  const int side = static_cast<int>(std::max(src.rows, src.cols) * kCanvasFactor);
  const int dx = (side - src.cols) / 2;
  const int dy = (side - src.rows) / 2;

  cv::Mat canvas;
  cv::copyMakeBorder(src, canvas, dy, dy, dx, dx, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  const cv::Point2f centre(static_cast<float>(canvas.cols / 2),
                           static_cast<float>(canvas.rows / 2));
  const cv::Mat matrix = cv::getRotationMatrix2D(centre, angle, 1.0);
  cv::Mat turned;
  cv::warpAffine(canvas, turned, matrix, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 cv::Scalar::all(0));

  const float s = std::fabs(std::sin(radians));
  const float c = std::fabs(std::cos(radians));
  const int width = static_cast<int>(src.cols * c + src.rows * s);
  const int height = static_cast<int>(src.cols * s + src.rows * c);
  const cv::Rect window((turned.cols - width) / 2, (turned.rows - height) / 2, width, height);
  return turned(window & cv::Rect(0, 0, turned.cols, turned.rows));
}

std::optional<std::array<cv::Point, 4>> fullFrameCorners(const DocumentBox& box, float scale) {
  if (!(scale > 0.0f) || !std::isfinite(scale)) return std::nullopt;
  const float inverseScale = 1.0f / scale;
  std::array<cv::Point, 4> corners;
  for (int i = 0; i < 4; ++i) {
    const auto x = scaledCoordinate(inverseScale, box.corner[i].x);
    const auto y = scaledCoordinate(inverseScale, box.corner[i].y);
    if (!x || !y) return std::nullopt;
    corners[i] = cv::Point(*x, *y);
  }
  return corners;
}

std::optional<cv::Mat> cutDocument(const cv::Mat& src, float scale, const DocumentBox& box) {
  const auto corners = fullFrameCorners(box, scale);
  if (!corners) return std::nullopt;

  cv::Mat mask = cv::Mat::zeros(src.size(), CV_8UC1);
  const std::vector<std::vector<cv::Point>> polygon{{corners->begin(), corners->end()}};
  cv::drawContours(mask, polygon, 0, cv::Scalar::all(255), cv::FILLED, cv::LINE_8, cv::noArray(),
                   INT_MAX, cv::Point(0, 0));
  cv::Mat masked = cv::Mat::zeros(src.size(), src.type());
  src.copyTo(masked, mask);

  const cv::Mat turned = turnWhole(masked, smallestStraighteningTurn(box.angle));
  cv::Mat nonBlack;
  cv::cvtColor(turned, nonBlack, cv::COLOR_BGR2GRAY);
  cv::threshold(nonBlack, nonBlack, 0, 255, cv::THRESH_BINARY);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(nonBlack, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);

  // Each qualifying region would replace the one before it, so the last one is the result.
  for (auto contour = contours.rbegin(); contour != contours.rend(); ++contour) {
    const cv::Rect bounds = cv::boundingRect(*contour);
    if (bounds.area() > kSmallestDocumentArea) return turned(bounds);
  }
  return std::nullopt;
}

}  // namespace document
