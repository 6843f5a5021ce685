// libcropalignmem: the document cut from the full frame, deskewed, as JPEG bytes in memory.
#include <type_traits>

#include "DocumentImaging.h"
#include "document/BoundedOutput.h"
#include "document/DocumentCut.h"

extern "C" DOCUMENT_IMAGING_EXPORT void cropalign(cv::Mat src, unsigned char* outBuf, int* outLen,
                                                  int reserved, float scale, DocumentBox box) {
  const auto region = document::cutDocument(src, scale, box);
  if (!region) return;
  const std::vector<unsigned char> jpeg = document::encodeJpeg(*region);
  document::copyIfFits(jpeg.data(), jpeg.size(), outBuf, outLen, kCropalignMemoryCapacity);
}

static_assert(std::is_same_v<decltype(&cropalign), CropalignToMemory>,
              "cropalign matches the type its callers bind");
