#include "TurboJpeg.h"

#include <turbojpeg.h>

namespace pixelwork {
namespace {

// One TurboJPEG instance per call keeps the entries free of shared state.
struct HandleDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using Handle = std::unique_ptr<void, HandleDeleter>;

}  // namespace

void JpegBytes::Free::operator()(unsigned char* bytes) const { tjFree(bytes); }

std::optional<JpegHeader> readHeader(const unsigned char* jpeg, std::size_t size) {
  const Handle handle(tjInitDecompress());
  JpegHeader header;
  int subsampling = 0, colourSpace = 0;
  if (!handle || tjDecompressHeader3(handle.get(), jpeg, size, &header.width, &header.height,
                                     &subsampling, &colourSpace) != 0) {
    return std::nullopt;
  }
  return header;
}

cv::Mat decodeBgr(const unsigned char* jpeg, std::size_t size) {
  const auto header = readHeader(jpeg, size);
  const Handle handle(tjInitDecompress());
  if (!header || !handle) return cv::Mat();
  cv::Mat bgr(header->height, header->width, CV_8UC3);
  if (tjDecompress2(handle.get(), jpeg, size, bgr.data, bgr.cols, static_cast<int>(bgr.step),
                    bgr.rows, TJPF_BGR, TJFLAG_STOPONWARNING) != 0) {
    return cv::Mat();
  }
  return bgr;
}

std::optional<JpegBytes> encodeBgr(const cv::Mat& bgr) {
  const Handle handle(tjInitCompress());
  if (!handle || bgr.type() != CV_8UC3) return std::nullopt;
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(handle.get(), bgr.data, bgr.cols, static_cast<int>(bgr.step),
                                 bgr.rows, TJPF_BGR, &bytes, &size, TJSAMP_420, kEncodeQuality, 0);
  JpegBytes jpeg{std::unique_ptr<unsigned char, JpegBytes::Free>(bytes), size};
  if (result != 0) return std::nullopt;
  return jpeg;
}

std::optional<JpegBytes> transformLosslessly(const unsigned char* jpeg, std::size_t size,
                                             int operation, int options) {
  const Handle handle(tjInitTransform());
  if (!handle) return std::nullopt;
  tjtransform transform{};
  transform.op = operation;
  transform.options = options;
  unsigned char* bytes = nullptr;
  unsigned long outSize = 0;
  const int result =
      tjTransform(handle.get(), jpeg, size, 1, &bytes, &outSize, &transform, TJFLAG_STOPONWARNING);
  JpegBytes out{std::unique_ptr<unsigned char, JpegBytes::Free>(bytes), outSize};
  if (result != 0) return std::nullopt;
  return out;
}

}  // namespace pixelwork
