// countermate-document-scene OUTPUT [--size WxH] [--tilt DEGREES]: writes a synthetic photograph
// of a tilted document on a counter (JPEG or PNG by OUTPUT's extension, which must name one), the picture that a
// file-backed document camera shows in the demo.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "SyntheticImages.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: countermate-document-scene OUTPUT [--size WxH] [--tilt DEGREES]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return Usage();
  cv::Size frame(1600, 1200);
  float tilt = 12.0f;
  for (int index = 2; index < argc; ++index) {
    const bool hasValue = index + 1 < argc;
    if (std::strcmp(argv[index], "--size") == 0 && hasValue) {
      if (std::sscanf(argv[++index], "%dx%d", &frame.width, &frame.height) != 2 ||
          frame.width < 64 || frame.height < 64 || frame.width > 8000 || frame.height > 8000) {
        return Usage();
      }
    } else if (std::strcmp(argv[index], "--tilt") == 0 && hasValue) {
      tilt = std::strtof(argv[++index], nullptr);
    } else {
      return Usage();
    }
  }
  // A form of A4 proportions filling about half the frame's height.
  const int documentHeight = frame.height / 2;
  const cv::Size document(documentHeight * 297 / 210, documentHeight);
  bool written = false;
  try {
    written = cv::imwrite(argv[1], synthetic::photographedDocument(frame, document, tilt));
  } catch (const cv::Exception&) {
    written = false;  // no image format for the output's extension
  }
  if (!written) {
    std::fprintf(stderr, "countermate-document-scene: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
