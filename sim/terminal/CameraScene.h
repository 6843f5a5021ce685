// The simulated terminal camera's view: a document lying on a desk, drifting and turning slowly,
// as JPEG frames of 640 x 480.
//
// The document is a light, slightly tilted sheet with dark lines of "text", a heading and a red
// stamp, on a darker textured desk, so that edge marking and cutting find one clear quadrangle.
// The motion repeats every kCameraSceneFrames frames and no two consecutive frames are alike.
// Each frame is drawn and encoded once per process and then shared, so a stream costs only its
// sending.
#pragma once

#include <memory>
#include <string>

namespace countermate::sim {

constexpr int kCameraSceneWidth = 640;
constexpr int kCameraSceneHeight = 480;
constexpr int kCameraSceneFrames = 100;

// The JPEG of frame `index` (taken modulo kCameraSceneFrames). Thread-safe.
std::shared_ptr<const std::string> CameraSceneJpeg(int index);

}  // namespace countermate::sim
