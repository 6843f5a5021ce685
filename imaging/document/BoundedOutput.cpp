#include "BoundedOutput.h"

#include <climits>
#include <cstring>

#include <opencv2/imgcodecs.hpp>

namespace document {

std::vector<unsigned char> encodeJpeg(const cv::Mat& image) {
  std::vector<unsigned char> bytes;
  cv::imencode(".jpg", image, bytes);
  return bytes;
}

bool copyIfFits(const unsigned char* bytes, std::size_t size, unsigned char* out, int* outLen,
                std::size_t capacity) {
  if (size > capacity || size > static_cast<std::size_t>(INT_MAX)) return false;
  if (size > 0) std::memcpy(out, bytes, size);
  *outLen = static_cast<int>(size);
  return true;
}

}  // namespace document
