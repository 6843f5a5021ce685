// Rotation states, zoom regions and preview sizes.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "ResolutionList.h"
#include "ViewTransform.h"

namespace {

using namespace docscope;

TEST(ViewTransform, RotationStatesFollowTheTableBothWays) {
  const int afterLeft[kRotationStates] = {1, 2, 3, 0, 0, 4, 5};
  const int afterRight[kRotationStates] = {4, 0, 1, 2, 5, 6, 0};
  for (int state = 0; state < kRotationStates; ++state) {
    EXPECT_EQ(RotatedLeft(state), afterLeft[state]) << "left from " << state;
    EXPECT_EQ(RotatedRight(state), afterRight[state]) << "right from " << state;
  }
  int state = 0;
  for (int turn = 0; turn < 4; ++turn) state = RotatedLeft(state);
  EXPECT_EQ(state, 0) << "four lefts";
  EXPECT_EQ(RotatedRight(RotatedLeft(3)), 4)
      << "left then right from 3: the same clockwise quarter";
}

TEST(ViewTransform, EachStateTurnsTheFrameAsNamed) {
  // A 3 x 2 frame with distinct pixels, compared against OpenCV's own turns.
  const cv::Mat frame = (cv::Mat_<uchar>(2, 3) << 1, 2, 3, 4, 5, 6);
  cv::Mat left, half, right;
  cv::rotate(frame, left, cv::ROTATE_90_COUNTERCLOCKWISE);
  cv::rotate(frame, half, cv::ROTATE_180);
  cv::rotate(frame, right, cv::ROTATE_90_CLOCKWISE);
  const cv::Mat expected[kRotationStates] = {frame, left, half, right, right, half, left};
  for (int state = 0; state < kRotationStates; ++state) {
    const cv::Mat turned = Rotated(frame, state);
    ASSERT_EQ(turned.size(), expected[state].size()) << "state " << state;
    EXPECT_EQ(cv::countNonZero(turned != expected[state]), 0) << "state " << state;
  }
  EXPECT_EQ(frame.at<uchar>(0, 0), 1) << "the source is left as it was";
}

TEST(ViewTransform, ZoomRegionsStayInsideTheFrame) {
  struct ZoomCase {
    cv::Size frame;
    int zoom;
    cv::Rect region;
  };
  const ZoomCase cases[] = {
      {{1600, 1200}, 100, {0, 0, 1600, 1200}},
      {{1600, 1200}, 99, {10, 10, 1580, 1180}},
      {{1600, 1200}, 50, {500, 500, 600, 200}},
      {{1600, 1200}, 0, {799, 599, 2, 2}},  // a margin of 1000 is clamped
      {{3000, 2400}, 0, {1000, 1000, 1000, 400}},
      {{3, 3}, 90, {1, 1, 1, 1}},
      {{1, 1}, 0, {0, 0, 1, 1}},
      {{1600, 1200}, 150, {0, 0, 1600, 1200}},  // out-of-range levels count as the nearest limit
      {{1600, 1200}, -5, {799, 599, 2, 2}},
  };
  for (const ZoomCase& c : cases) {
    EXPECT_EQ(ZoomRegion(c.frame, c.zoom), c.region) << c.frame << " at zoom " << c.zoom;
  }
}

TEST(ViewTransform, PreviewScaleIsAFractionOrOne) {
  EXPECT_EQ(PreviewScale(0.3f), 0.3f);
  EXPECT_EQ(PreviewScale(1.0f), 1.0f);
  for (const float unusable : {0.0f, -0.5f, 1.5f, std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(PreviewScale(unusable), 1.0f) << unusable;
  }
  EXPECT_EQ(PreviewSize({1600, 1200}, 0.3f), cv::Size(480, 360));
  EXPECT_EQ(PreviewSize({2, 2}, 0.1f), cv::Size(1, 1));
}

TEST(ViewTransform, ResolutionListsAreCutAtWholeEntries) {
  EXPECT_EQ(FitResolutionList("1600*1200|640*480", 400), "1600*1200|640*480");
  EXPECT_EQ(FitResolutionList("1600*1200|640*480", 17), "1600*1200");
  EXPECT_EQ(FitResolutionList("1600*1200|640*480", 18), "1600*1200|640*480");
  EXPECT_EQ(FitResolutionList("1600*1200", 5), "");
}

}  // namespace
