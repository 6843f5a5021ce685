// Test helper: small synthetic camera frames.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace synthetic {

// A black BGR frame with the given axis-aligned rectangles filled in a bright grey.
inline cv::Mat framedRectangles(cv::Size size, std::initializer_list<cv::Rect> rectangles,
                                cv::Scalar colour = cv::Scalar::all(220)) {
  cv::Mat frame(size, CV_8UC3, cv::Scalar::all(0));
  for (const cv::Rect& rectangle : rectangles) frame(rectangle).setTo(colour);
  return frame;
}

// A counter-top photo: a dark textured background (levels 10 to 70, never black) with a bright
// document of documentSize whose centre is at the frame's centre, turned by tiltDegrees
// (counter-clockwise), carrying a few dark lines of "text" and a dark mark in its top-left
// corner that shows which way up it is.
inline cv::Mat photographedDocument(cv::Size frameSize, cv::Size documentSize, float tiltDegrees) {
  cv::Mat frame(frameSize, CV_8UC3);
  cv::RNG random(12345);
  random.fill(frame, cv::RNG::UNIFORM, cv::Scalar::all(10), cv::Scalar::all(70));
  cv::GaussianBlur(frame, frame, cv::Size(5, 5), 0);

  const cv::Point2f centre(frameSize.width / 2.0f, frameSize.height / 2.0f);
  const cv::RotatedRect document(centre, cv::Size2f(documentSize), -tiltDegrees);
  cv::Point2f corners[4];
  document.points(corners);
  std::vector<cv::Point> polygon(corners, corners + 4);
  cv::fillConvexPoly(frame, polygon, cv::Scalar(225, 232, 238), cv::LINE_AA);

  const cv::Mat toFrame = cv::getRotationMatrix2D(cv::Point2f(0, 0), tiltDegrees, 1.0);
  const auto drawInDocument = [&](cv::Point2f from, cv::Point2f to, int thickness) {
    std::vector<cv::Point2f> ends{from, to};
    cv::transform(ends, ends, toFrame(cv::Rect(0, 0, 2, 2)));
    cv::line(frame, ends[0] + centre, ends[1] + centre, cv::Scalar::all(40), thickness,
             cv::LINE_AA);
  };
  const float halfWidth = documentSize.width / 2.0f;
  const float halfHeight = documentSize.height / 2.0f;
  for (int line = 2; line < 7; ++line) {
    const float y = -halfHeight + line * documentSize.height / 8.0f;
    drawInDocument({-halfWidth / 1.5f, y}, {halfWidth / 1.5f, y}, 3);
  }
  const float markSide = std::min(documentSize.width, documentSize.height) / 6.0f;
  const cv::Point2f markCentre(-halfWidth + markSide, -halfHeight + markSide);
  drawInDocument(markCentre - cv::Point2f(markSide / 2, 0),
                 markCentre + cv::Point2f(markSide / 2, 0), static_cast<int>(markSide));
  return frame;
}

// Uniform noise: the hardest content for JPEG, for outputs that must not fit a buffer.
inline cv::Mat noise(cv::Size size) {
  cv::Mat frame(size, CV_8UC3);
  cv::RNG random(777);
  random.fill(frame, cv::RNG::UNIFORM, cv::Scalar::all(0), cv::Scalar::all(256));
  return frame;
}

}  // namespace synthetic
