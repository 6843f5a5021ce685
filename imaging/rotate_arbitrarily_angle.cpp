// The turning routine that both cut libraries export.
#include "DocumentImaging.h"
#include "document/DocumentCut.h"

extern "C" void rotate_arbitrarily_angle(cv::Mat& src, cv::Mat& dst, float angle) {
  dst = document::turnWhole(src, angle);
}
