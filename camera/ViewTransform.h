// How a camera frame becomes the view: turned by the rotation state, narrowed by the zoom, and
// scaled down to the preview.
#pragma once

#include <opencv2/core.hpp>

namespace docscope {

// Rotation states: 0 upright; 1, 2, 3 turned 90, 180, 270 degrees counter-clockwise (left);
// 4, 5, 6 turned 90, 180, 270 degrees clockwise (right).
constexpr int kRotationStates = 7;
int RotatedLeft(int state);
int RotatedRight(int state);

// The frame as 8-bit BGR (grey and BGRA frames converted), sharing its pixels when it is one.
cv::Mat AsColourFrame(const cv::Mat& frame);

// The frame turned as `state` says, into new pixels (the source is only read).
cv::Mat Rotated(const cv::Mat& frame, int state);

// Zoom level 0..100: the view leaves out 1000 - 10 x zoom pixels at each side, but never more
// than leaves one row and one column inside the frame.
constexpr int kZoomWhole = 100;
cv::Rect ZoomRegion(cv::Size frame, int zoom);

// The preview scale actually used: `scale` when it is a number in (0, 1], else 1.
float PreviewScale(float scale);
// The preview size: each side times the scale, truncated, at least 1.
cv::Size PreviewSize(cv::Size view, float scale);

}  // namespace docscope
