// Cutting the document out of a full-resolution frame and turning it upright, shared by
// libcropalign, libcropalignmem and libpixelwork.
#pragma once

#include <array>
#include <optional>

#include <opencv2/core.hpp>

#include "DocumentImaging.h"

namespace document {

// src turned by angle degrees (counter-clockwise) on a black canvas of side
// (int)(1.414 * longest side), cut to the centred window of the turned size, clipped to the
// canvas. Angle 0 gives back exactly src's size and pixels.
cv::Mat turnWhole(const cv::Mat& src, float angle);

// The box's corners in full-frame coordinates: each coordinate v becomes (int)((1/scale) * v) in
// single precision. nullopt when scale is not a positive finite number or a corner would leave
// the int range.
std::optional<std::array<cv::Point, 4>> fullFrameCorners(const DocumentBox& box, float scale);

// The turn that straightens a rectangle tilted by angle while keeping the document the way round
// it lies: angle reduced to (-45, 45] degrees. The reported angle (a minimum-area rectangle's
// angle, plus 90 when its first side is the longer) is 180 for an upright landscape document and
// about 90 for an upright portrait one; turning by it would show the document upside-down or
// on its side.
float smallestStraighteningTurn(float angle);

// Masks src to the box (brought to full-frame coordinates), turns it by the smallest
// straightening turn of box.angle and returns
// the part of the turned image under the bounding rectangle of the last outer contour of its
// non-black pixels whose rectangle covers more than kSmallestDocumentArea pixels. nullopt when
// none qualifies or the scale is unusable. The result may share pixels with a temporary image
// of its own; src is only read.
std::optional<cv::Mat> cutDocument(const cv::Mat& src, float scale, const DocumentBox& box);

}  // namespace document
