// libframepack, loaded from the deploy folder: preview JPEG, document detection and outline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "DocumentImaging.h"
#include "SharedLibrary.h"
#include "SyntheticImages.h"

namespace {

// What the camera driver puts in the box before the call; a box that still holds it was not written.
constexpr DocumentBox kUntouchedBox{{{-7, -7}, {-7, -7}, {-7, -7}, {-7, -7}}, -7.0f};

bool sameBox(const DocumentBox& a, const DocumentBox& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Packed {
  std::vector<unsigned char> jpeg;
  cv::Mat image;  // the decoded JPEG
  DocumentBox box = kUntouchedBox;
  int found = -1;
};

class FramepackTest : public ::testing::Test {
 protected:
  Packed pack(const cv::Mat& frame, int cutType, int colorMode) {
    Packed packed;
    std::vector<unsigned char> buffer(kFramepackCapacity);
    int length = -1;
    framepack_(frame, buffer.data(), &length, cutType, colorMode, &packed.box, &packed.found);
    EXPECT_GT(length, 0);
    packed.jpeg.assign(buffer.begin(), buffer.begin() + std::max(length, 0));
    packed.image = cv::imdecode(packed.jpeg, cv::IMREAD_COLOR);
    EXPECT_EQ(packed.image.size(), frame.size()) << "the preview JPEG has the frame's size";
    return packed;
  }

  SharedLibrary library_{"libframepack.so"};
  decltype(&framepack) framepack_ = library_.entry<decltype(&framepack)>("framepack");
};

bool isGreen(const cv::Vec3b& bgr) { return bgr[1] > 180 && bgr[0] < 90 && bgr[2] < 90; }

std::vector<cv::Point> cornersOf(const DocumentBox& box) {
  std::vector<cv::Point> corners;
  for (const DocumentCorner& corner : box.corner) corners.emplace_back(corner.x, corner.y);
  std::sort(corners.begin(), corners.end(),
            [](cv::Point a, cv::Point b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
  return corners;
}

// A filled rectangle of (sideX + 1) x (sideY + 1) pixels fits a rectangle of sideX x sideY
// between its outermost pixel centres, so the fitted area is sideX * sideY.
struct AreaCase {
  const char* name;
  int sideX;
  int sideY;
  int level;  // grey level of the rectangle on black
  bool taken;
};

TEST_F(FramepackTest, TakesBrightRectanglesOfFittedAreaAboveFiveThousandNineHundredNinetyNine) {
  const AreaCase cases[] = {
      {"fitted 100 x 60 = 6000", 100, 60, 220, true},
      {"fitted 857 x 7 = 5999", 857, 7, 220, false},
      {"fitted 300 x 200 but grey level 100 is not bright", 300, 200, 100, false},
      {"fitted 300 x 200 at grey level 101", 300, 200, 101, true},
  };
  for (const AreaCase& c : cases) {
    SCOPED_TRACE(c.name);
    const cv::Point origin(20, 30);
    const cv::Mat frame = synthetic::framedRectangles(
        {900, 300}, {cv::Rect(origin.x, origin.y, c.sideX + 1, c.sideY + 1)},
        cv::Scalar::all(c.level));
    const Packed packed = pack(frame, 1, 2);
    EXPECT_EQ(packed.found, c.taken ? 1 : 0);
    if (!c.taken) {
      EXPECT_TRUE(sameBox(packed.box, kUntouchedBox));
      continue;
    }
    const std::vector<cv::Point> expected{origin, origin + cv::Point(c.sideX, 0),
                                          origin + cv::Point(0, c.sideY),
                                          origin + cv::Point(c.sideX, c.sideY)};
    EXPECT_EQ(cornersOf(packed.box), expected);
    EXPECT_TRUE(isGreen(packed.image.at<cv::Vec3b>(origin.y + c.sideY / 2, origin.x)))
        << "the outline runs along the document's edge";
    EXPECT_FALSE(
        isGreen(packed.image.at<cv::Vec3b>(origin.y + c.sideY / 2, origin.x + c.sideX / 2)));
  }
}

TEST_F(FramepackTest, ARectangleWithACoordinateAbove4000IsReportedButNotOutlined) {
  const cv::Mat frame = synthetic::framedRectangles({4100, 120}, {cv::Rect(3950, 20, 101, 61)});
  const Packed packed = pack(frame, 1, 2);
  EXPECT_EQ(packed.found, 0);
  EXPECT_EQ(cornersOf(packed.box).back(), cv::Point(4050, 80)) << "the box holds the rectangle";
  cv::Mat greenMask;
  cv::inRange(packed.image, cv::Scalar(0, 180, 0), cv::Scalar(90, 255, 90), greenMask);
  EXPECT_EQ(cv::countNonZero(greenMask), 0);
}

TEST_F(FramepackTest, OfEqualAreasTheFirstContourInOpenCvOrderWins) {
  const cv::Rect upper(10, 10, 101, 81), lower(150, 200, 101, 81);
  const cv::Mat frame = synthetic::framedRectangles({300, 300}, {upper, lower});
  cv::Mat grey, bright;
  cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
  cv::threshold(grey, bright, 100, 255, cv::THRESH_BINARY);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(bright, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  ASSERT_EQ(contours.size(), 2u);
  const cv::Rect first = cv::boundingRect(contours.front());

  const Packed packed = pack(frame, 1, 2);
  ASSERT_EQ(packed.found, 1);
  EXPECT_EQ(cornersOf(packed.box).front(), first.tl());
}

TEST_F(FramepackTest, AngleIsTheFittedAnglePlusNinetyWhenTheFirstSideIsTheLonger) {
  // OpenCV fits angles in (0, 90]; an upright rectangle fits 90 with its first side horizontal.
  struct TiltCase {
    const char* name;
    cv::Size document;
    float tilt;  // counter-clockwise
    float angle;
  };
  const TiltCase cases[] = {
      {"upright landscape: first side longer", {300, 150}, 0, 180},
      {"upright portrait: first side shorter", {150, 300}, 0, 90},
      {"square: sides equal", {200, 200}, 0, 90},
      {"landscape turned 12 degrees", {300, 150}, 12, 168},
      {"portrait turned 12 degrees", {150, 300}, 12, 78},
      {"landscape turned -12 degrees", {300, 150}, -12, 12},
  };
  for (const TiltCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Packed packed =
        pack(synthetic::photographedDocument({800, 600}, c.document, c.tilt), 1, 2);
    ASSERT_EQ(packed.found, 1);
    EXPECT_NEAR(packed.box.angle, c.angle, 0.5);
  }
}

TEST_F(FramepackTest, GreyModesOneAndThreeRenderTheSameGreyPreview) {
  const cv::Mat frame = synthetic::framedRectangles({320, 240}, {cv::Rect(40, 40, 200, 120)},
                                                    cv::Scalar(30, 140, 240));
  const Packed colour = pack(frame, 0, 2);
  const Packed greyOne = pack(frame, 0, 1);
  const Packed greyThree = pack(frame, 0, 3);
  EXPECT_EQ(greyOne.jpeg, greyThree.jpeg);

  const cv::Vec3b insideColour = colour.image.at<cv::Vec3b>(100, 140);
  const cv::Vec3b insideGrey = greyOne.image.at<cv::Vec3b>(100, 140);
  EXPECT_GT(insideColour[2] - insideColour[0], 150) << "mode 2 keeps the colour";
  EXPECT_LE(std::abs(insideGrey[0] - insideGrey[2]), 3) << "grey modes have equal channels";
}

TEST_F(FramepackTest, DetectionRunsOnTheGreyImageWhateverTheColourMode) {
  // A blue document: bright only to the grey conversion in RGB channel order that detection uses
  // (0.299 * 255 + 0.587 * 60 = 111 > 100, where true luminance would be 64).
  const cv::Mat frame =
      synthetic::framedRectangles({400, 300}, {cv::Rect(50, 50, 201, 101)}, cv::Scalar(255, 60, 0));
  const Packed colour = pack(frame, 1, 2);
  ASSERT_EQ(colour.found, 1);
  for (int colorMode : {1, 3, 0}) {
    SCOPED_TRACE(colorMode);
    const Packed other = pack(frame, 1, colorMode);
    EXPECT_EQ(other.found, 1);
    EXPECT_TRUE(sameBox(other.box, colour.box));
  }
  for (int cutType : {0, 2}) {
    SCOPED_TRACE(cutType);
    const Packed undetected = pack(frame, cutType, 2);
    EXPECT_EQ(undetected.found, 0);
    EXPECT_TRUE(sameBox(undetected.box, kUntouchedBox));
  }
}

TEST_F(FramepackTest, AJpegLargerThanThePreviewBufferIsNotCopied) {
  const cv::Mat frame = synthetic::noise({4000, 2700});  // about 12 MB of JPEG
  constexpr unsigned char kCanary = 0xA5;
  std::vector<unsigned char> buffer(kFramepackCapacity, kCanary);
  int length = -1, found = -1;
  DocumentBox box = kUntouchedBox;
  framepack_(frame, buffer.data(), &length, 0, 2, &box, &found);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), kCanary), static_cast<long>(buffer.size()));
}

}  // namespace
