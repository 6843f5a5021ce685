// libcropalign: the document cut from the full frame, deskewed, written to an image file.
#include <type_traits>

#include <opencv2/imgcodecs.hpp>

#include "DocumentImaging.h"
#include "document/DocumentCut.h"

extern "C" DOCUMENT_IMAGING_EXPORT void cropalign(cv::Mat src, const char* outPath, int reserved,
                                                  float scale, DocumentBox box) {
  const auto region = document::cutDocument(src, scale, box);
  if (region) cv::imwrite(outPath, *region);
}

static_assert(std::is_same_v<decltype(&cropalign), CropalignToFile>,
              "cropalign matches the type its callers bind");
