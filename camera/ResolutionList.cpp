#include "ResolutionList.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "FrameSource.h"

namespace docscope {
namespace {

int RetryingIoctl(int descriptor, unsigned long request, void* argument) {
  int result;
  do {
    result = ioctl(descriptor, request, argument);
  } while (result == -1 && errno == EINTR);
  return result;
}

void AppendSize(std::string& list, unsigned width, unsigned height) {
  std::printf("width: %u height: %u\n", width, height);
  if (!list.empty()) list += '|';
  list += std::to_string(width) + "*" + std::to_string(height);
}

// Every size of one pixel format; a stepwise or continuous range is listed by its largest size.
void AppendFormatSizes(int descriptor, unsigned pixelFormat, std::string& list) {
  v4l2_frmsizeenum size{};
  size.pixel_format = pixelFormat;
  for (size.index = 0; RetryingIoctl(descriptor, VIDIOC_ENUM_FRAMESIZES, &size) == 0;
       ++size.index) {
    if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
      AppendSize(list, size.stepwise.max_width, size.stepwise.max_height);
      return;
    }
    AppendSize(list, size.discrete.width, size.discrete.height);
  }
}

}  // namespace

int GetResolution(const std::string& device, std::string& list) {
  list.clear();
  if (IsFileBackedNode(device)) {
    const cv::Size size = FileFrameSize(device);
    if (!size.empty()) AppendSize(list, size.width, size.height);
    return 0;
  }
  // Without blocking: a node that is not a camera never holds the caller.
  const int descriptor = open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    std::printf("open %s error\n", device.c_str());
    return -1;
  }
  v4l2_fmtdesc format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (format.index = 0; RetryingIoctl(descriptor, VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
    std::printf("Picture Format: %s\n", reinterpret_cast<const char*>(format.description));
    AppendFormatSizes(descriptor, format.pixelformat, list);
  }
  close(descriptor);
  return 0;
}

std::string FitResolutionList(const std::string& list, std::size_t capacity) {
  if (capacity == 0) return {};
  if (list.size() < capacity) return list;
  const std::size_t cut = list.rfind('|', capacity - 1);
  return cut == std::string::npos ? std::string() : list.substr(0, cut);
}

}  // namespace docscope
