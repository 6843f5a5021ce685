// Finding the document in a preview frame and rendering the preview, shared by libframepack and
// libpixelwork's edge marking and cutting.
#pragma once

#include <optional>

#include <opencv2/core.hpp>

#include "DocumentImaging.h"

namespace document {

// The grey image that detection and grey rendering use. The frame is converted with RGB channel
// order although it holds BGR, as the deployed cameras' presets were tuned with it; it weighs
// red and blue the other way round from true luminance.
cv::Mat detectionGrey(const cv::Mat& bgr);

// The largest rectangle of bright (grey above 100) outer contours whose fitted minimum-area
// rectangle has truncated sides multiplying to more than kSmallestDocumentArea; on equal areas
// the earlier contour wins. nullopt when none qualifies.
std::optional<DocumentBox> largestDocument(const cv::Mat& grey);

// True when every corner coordinate is at most kLargestOutlineCoordinate.
bool outlineFitsFrame(const DocumentBox& box);

// Draws the box's outline in green, two pixels wide.
void drawOutline(cv::Mat& bgr, const DocumentBox& box);

struct Preview {
  cv::Mat image;                   // the rendered 8-bit BGR preview
  std::optional<DocumentBox> box;  // the rectangle found, when detection ran and found one
  bool outlined = false;           // box was drawn on image
};

// Renders a preview frame: grey when asked, with the document outlined when detection is asked
// and the rectangle fits the frame. frame's pixels are not touched.
Preview renderPreview(const cv::Mat& frame, bool detect, bool grey);

}  // namespace document
