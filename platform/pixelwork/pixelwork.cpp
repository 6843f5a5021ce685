// libpixelwork entries: argument checks, the transforms, and the bounded hand-over of results.
#include "pixelwork.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include <turbojpeg.h>
#include <opencv2/imgproc.hpp>

#include "TurboJpeg.h"
#include "document/BoundedOutput.h"
#include "document/DocumentCut.h"
#include "document/DocumentSearch.h"

namespace {

using pixelwork::JpegBytes;

struct Source {
  const unsigned char* bytes;
  std::size_t size;
};

// A transform's outcome: a result code and, on success, the JPEG to hand over (made here, or the
// source itself when nothing changed).
struct Output {
  int result = kPixelworkFailed;
  JpegBytes made;
  const unsigned char* bytes = nullptr;
  std::size_t size = 0;
};

Output failure(int result) {
  Output output;
  output.result = result;
  return output;
}

Output madeJpeg(std::optional<JpegBytes> jpeg, int resultIfMissing = kPixelworkFailed) {
  if (!jpeg) return failure(resultIfMissing);
  Output output;
  output.result = kPixelworkOk;
  output.bytes = jpeg->bytes.get();
  output.size = jpeg->size;
  output.made = std::move(*jpeg);
  return output;
}

Output unchanged(const Source& source) {
  Output output;
  output.result = kPixelworkOk;
  output.bytes = source.bytes;
  output.size = source.size;
  return output;
}

// Runs one transform on a checked source and copies its JPEG to the caller when it fits.
template <typename Transform>
int run(const unsigned char* src, int srcLen, unsigned char* dst, int* dstLen, std::size_t capacity,
        Transform transform) {
  if (!src || srcLen <= 0 || !dst || !dstLen) return kPixelworkBadArgument;
  try {
    const Source source{src, static_cast<std::size_t>(srcLen)};
    const auto header = pixelwork::readHeader(source.bytes, source.size);
    if (!header || static_cast<long>(header->width) * header->height > kPixelworkLargestSource) {
      return kPixelworkUndecodable;
    }
    const Output output = transform(source);
    if (output.result != kPixelworkOk) return output.result;
    return document::copyIfFits(output.bytes, output.size, dst, dstLen, capacity)
               ? kPixelworkOk
               : kPixelworkTooLarge;
  } catch (...) {
    return kPixelworkFailed;
  }
}

cv::Mat decode(const Source& source) { return pixelwork::decodeBgr(source.bytes, source.size); }

Output turnByQuarters(const Source& source, int quarterTurns) {
  static constexpr int kLosslessTurn[] = {TJXOP_NONE, TJXOP_ROT90, TJXOP_ROT180, TJXOP_ROT270};
  static constexpr int kPixelTurn[] = {-1, cv::ROTATE_90_CLOCKWISE, cv::ROTATE_180,
                                       cv::ROTATE_90_COUNTERCLOCKWISE};
  auto lossless = pixelwork::transformLosslessly(source.bytes, source.size,
                                                 kLosslessTurn[quarterTurns], TJXOPT_PERFECT);
  if (lossless) return madeJpeg(std::move(lossless));

  // Partial blocks at an edge cannot be moved losslessly: turn the pixels instead.
  const cv::Mat image = decode(source);
  if (image.empty()) return failure(kPixelworkUndecodable);
  cv::Mat turned;
  cv::rotate(image, turned, kPixelTurn[quarterTurns]);
  return madeJpeg(pixelwork::encodeBgr(turned));
}

Output outlineDocument(const Source& source) {
  const cv::Mat image = decode(source);
  if (image.empty()) return failure(kPixelworkUndecodable);
  const document::Preview preview = document::renderPreview(image, true, false);
  if (!preview.outlined) return unchanged(source);
  return madeJpeg(pixelwork::encodeBgr(preview.image));
}

Output cutDocument(const Source& source, float factor) {
  const cv::Mat image = decode(source);
  if (image.empty()) return failure(kPixelworkUndecodable);
  cv::Mat searched = image;
  if (factor != 1.0f) {
    const cv::Size size(static_cast<int>(image.cols * factor),
                        static_cast<int>(image.rows * factor));
    if (size.area() == 0) return failure(kPixelworkNoDocument);
    cv::resize(image, searched, size, 0, 0, cv::INTER_LINEAR);
  }
  const auto box = document::largestDocument(document::detectionGrey(searched));
  if (!box || !document::outlineFitsFrame(*box)) return failure(kPixelworkNoDocument);
  const auto region = document::cutDocument(image, factor, *box);
  if (!region) return failure(kPixelworkNoDocument);
  return madeJpeg(pixelwork::encodeBgr(*region));
}

Output zoomIn(const Source& source, float zoom) {
  const cv::Mat image = decode(source);
  if (image.empty()) return failure(kPixelworkUndecodable);
  const double magnification = 1.0 + zoom;
  const cv::Size view(std::max(1, static_cast<int>(std::lround(image.cols / magnification))),
                      std::max(1, static_cast<int>(std::lround(image.rows / magnification))));
  const cv::Rect centre((image.cols - view.width) / 2, (image.rows - view.height) / 2, view.width,
                        view.height);
  cv::Mat zoomed;
  cv::resize(image(centre), zoomed, image.size(), 0, 0, cv::INTER_LINEAR);
  return madeJpeg(pixelwork::encodeBgr(zoomed));
}

}  // namespace

extern "C" {

int jpegtranspose(int mode, int quarterTurns, const unsigned char* src, int srcLen,
                  unsigned char* dst, int* dstLen) {
  if (quarterTurns < 1 || quarterTurns > 3) return kPixelworkBadArgument;
  return run(src, srcLen, dst, dstLen, kPixelworkPhotoCapacity,
             [&](const Source& source) { return turnByQuarters(source, quarterTurns); });
}

int jpegedge(const unsigned char* src, int srcLen, unsigned char* dst, int* dstLen) {
  return run(src, srcLen, dst, dstLen, kPixelworkPreviewCapacity, outlineDocument);
}

int jpegcutandrotate(const unsigned char* src, int srcLen, unsigned char* dst, int* dstLen,
                     float factor) {
  if (!(factor > 0.0f && factor <= 1.0f)) return kPixelworkBadArgument;
  return run(src, srcLen, dst, dstLen, kPixelworkPhotoCapacity,
             [&](const Source& source) { return cutDocument(source, factor); });
}

int jpegzoom(const unsigned char* src, int srcLen, unsigned char* dst, int* dstLen, float zoom,
             float limit) {
  if (!(zoom > 0.0f && zoom <= limit && zoom <= kPixelworkLargestZoom))
    return kPixelworkBadArgument;
  return run(src, srcLen, dst, dstLen, kPixelworkPreviewCapacity,
             [&](const Source& source) { return zoomIn(source, zoom); });
}

int jpeggray(const unsigned char* src, int srcLen, unsigned char* dst, int* dstLen) {
  return run(src, srcLen, dst, dstLen, kPixelworkPhotoCapacity, [](const Source& source) {
    return madeJpeg(
        pixelwork::transformLosslessly(source.bytes, source.size, TJXOP_NONE, TJXOPT_GRAY),
        kPixelworkUndecodable);
  });
}

}  // extern "C"
