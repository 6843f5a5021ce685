#include "DocumentSearch.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace document {
namespace {

constexpr double kBrightLevel = 100;

int truncatedDistance(const cv::Point2f& a, const cv::Point2f& b) {
  const float dx = a.x - b.x;
  const float dy = a.y - b.y;
  return static_cast<int>(std::sqrt(dx * dx + dy * dy));
}

}  // namespace

cv::Mat detectionGrey(const cv::Mat& bgr) {
  cv::Mat grey;
  cv::cvtColor(bgr, grey, cv::COLOR_RGB2GRAY);
  return grey;
}

std::optional<DocumentBox> largestDocument(const cv::Mat& grey) {
  cv::Mat bright;
  cv::threshold(grey, bright, kBrightLevel, 255, cv::THRESH_BINARY);
  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> hierarchy;
  cv::findContours(bright, contours, hierarchy, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);

  std::optional<DocumentBox> best;
  int64_t bestArea = 0;
  for (const auto& contour : contours) {
    const cv::RotatedRect rectangle = cv::minAreaRect(contour);
    cv::Point2f points[4];
    rectangle.points(points);
    const int width = truncatedDistance(points[0], points[1]);
    const int height = truncatedDistance(points[0], points[3]);
    const int64_t area = static_cast<int64_t>(width) * height;
    if (area <= kSmallestDocumentArea || area <= bestArea) continue;
    bestArea = area;
    DocumentBox box{};
    for (int i = 0; i < 4; ++i) {
      box.corner[i] = {static_cast<int32_t>(points[i].x), static_cast<int32_t>(points[i].y)};
    }
    box.angle = rectangle.angle + (width > height ? 90.0f : 0.0f);
    best = box;
  }
  return best;
}

bool outlineFitsFrame(const DocumentBox& box) {
  for (const DocumentCorner& corner : box.corner) {
    if (corner.x > kLargestOutlineCoordinate || corner.y > kLargestOutlineCoordinate) return false;
  }
  return true;
}

void drawOutline(cv::Mat& bgr, const DocumentBox& box) {
  const cv::Scalar green(0, 255, 0);
  for (int i = 0; i < 4; ++i) {
    const DocumentCorner& from = box.corner[i];
    const DocumentCorner& to = box.corner[(i + 1) % 4];
    cv::line(bgr, cv::Point(from.x, from.y), cv::Point(to.x, to.y), green, 2, cv::LINE_8, 0);
  }
}

Preview renderPreview(const cv::Mat& frame, bool detect, bool grey) {
  Preview preview;
  preview.image = frame.clone();
  const cv::Mat greyImage = detectionGrey(preview.image);
  if (grey) cv::cvtColor(greyImage, preview.image, cv::COLOR_GRAY2BGR);
  if (!detect) return preview;
  preview.box = largestDocument(greyImage);
  if (preview.box && outlineFitsFrame(*preview.box)) {
    drawOutline(preview.image, *preview.box);
    preview.outlined = true;
  }
  return preview;
}

}  // namespace document
