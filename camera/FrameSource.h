// Where the capture thread's frames come from: a V4L2 camera, or (for tests and demonstrations)
// a regular file standing in for the device node.
#pragma once

#include <memory>
#include <string>

#include <opencv2/core.hpp>

namespace docscope {

// Reads frames for one capture thread. Not thread-safe: owned and used by that thread alone.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The next frame; false (and `frame` empty) when the camera delivers none.
  virtual bool read(cv::Mat& frame) = 0;
};

// True when `device` is a regular file: a file-backed camera.
bool IsFileBackedNode(const std::string& device);

// Opens the camera at `device`. A character device is opened through OpenCV's V4L2 back end
// asking for MJPG at width x height; a regular file is read as a still image repeated (reread
// when it changes) or a video looped, at COUNTERMATE_CAMERA_FILE_FPS frames per second (25 when
// unset; 0 or less: no pacing). A node that cannot be opened gives a source whose reads fail.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& device, int width, int height);

// The frame size of a file-backed camera, empty when the file holds no readable image or video.
cv::Size FileFrameSize(const std::string& path);

}  // namespace docscope
