// libframepack: preview frames to JPEG, with the document outlined in document-cut mode.
#include "DocumentImaging.h"
#include "document/BoundedOutput.h"
#include "document/DocumentSearch.h"

extern "C" void framepack(cv::Mat frame, unsigned char* jpegOut, int* jpegLen, int cutType,
                          int colorMode, DocumentBox* box, int* found) {
  const document::Preview preview =
      document::renderPreview(frame, cutType == 1, colorMode == 1 || colorMode == 3);
  if (preview.box) *box = *preview.box;
  *found = preview.outlined ? 1 : 0;

  const std::vector<unsigned char> jpeg = document::encodeJpeg(preview.image);
  if (!document::copyIfFits(jpeg.data(), jpeg.size(), jpegOut, jpegLen, kFramepackCapacity)) {
    *jpegLen = 0;
  }
}
