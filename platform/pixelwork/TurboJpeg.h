// JPEG decoding, encoding and lossless transforms over libjpeg-turbo's TurboJPEG API.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include <opencv2/core.hpp>

namespace pixelwork {

// A JPEG that TurboJPEG allocated.
struct JpegBytes {
  struct Free {
    void operator()(unsigned char* bytes) const;
  };
  std::unique_ptr<unsigned char, Free> bytes;
  std::size_t size = 0;
};

struct JpegHeader {
  int width = 0;
  int height = 0;
};

// The picture's size, or nullopt when the bytes do not start a JPEG.
std::optional<JpegHeader> readHeader(const unsigned char* jpeg, std::size_t size);

// The picture as 8-bit BGR, or an empty image when it is not a complete JPEG.
cv::Mat decodeBgr(const unsigned char* jpeg, std::size_t size);

// An 8-bit BGR image as a 4:2:0 JPEG at kEncodeQuality; nullopt on failure.
constexpr int kEncodeQuality = 90;
std::optional<JpegBytes> encodeBgr(const cv::Mat& bgr);

// A lossless transform of the coefficients (TJXOP_* operation, TJXOPT_* options); nullopt when
// TurboJPEG refuses it, as it does for an imperfect turn with TJXOPT_PERFECT.
std::optional<JpegBytes> transformLosslessly(const unsigned char* jpeg, std::size_t size,
                                             int operation, int options);

}  // namespace pixelwork
