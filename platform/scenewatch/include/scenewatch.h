// libscenewatch: how much a camera scene has changed between two preview frames.
//
// The camera driver loads "./libscenewatch.so", binds `scenewatch` by name and calls it once a
// second during automatic capture with the previous preview first and the newer one second. It
// treats a rise of the score by more than kSceneChangeJump over the previous call's score as a
// new scene and takes a photo.
#pragma once

#include <opencv2/core.hpp>

// A score rise above this means the scene changed.
constexpr double kSceneChangeJump = 100000000.0;

extern "C" {

// The sum of squared differences of the two frames over every pixel and channel: 0 for equal
// frames, about 5e8 for a 480 x 360 colour preview whose every channel moved by 30 levels,
// while sensor noise of a still scene stays near 1e7. Frames of any depth and channel count are
// compared as 8-bit 3-channel images; when the sizes differ (the view was turned) the reference is
// resized to the current frame first. An empty frame scores 0 against anything. Never throws.
__attribute__((visibility("default"))) double scenewatch(cv::Mat reference, cv::Mat current);

}  // extern "C"
