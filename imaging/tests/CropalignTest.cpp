// libcropalign and libcropalignmem, loaded from the deploy folder: turning, masking, cutting.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "DocumentImaging.h"
#include "SharedLibrary.h"
#include "SyntheticImages.h"

namespace {

using RotateEntry = decltype(&rotate_arbitrarily_angle);

constexpr int kUntouchedLength = -7;

// Runs both forms of cropalign on the same input and checks that they agree.
class CropalignTest : public ::testing::Test {
 protected:
  // The image the memory form produced, or an empty image when it wrote nothing (and then
  // neither did the file form, nor was *outLen changed).
  cv::Mat cut(const cv::Mat& src, float scale, const DocumentBox& box) {
    std::vector<unsigned char> buffer(kCropalignMemoryCapacity);
    int length = kUntouchedLength;
    toMemory_(src, buffer.data(), &length, 1, scale, box);

    const std::string path = ::testing::TempDir() + "cropalign-" + std::to_string(getpid()) +
                             ".jpg";
    unlink(path.c_str());
    toFile_(src, path.c_str(), 1, scale, box);
    const cv::Mat fromFile = access(path.c_str(), F_OK) == 0 ? cv::imread(path, cv::IMREAD_COLOR)
                                                             : cv::Mat();
    unlink(path.c_str());

    if (length == kUntouchedLength) {
      EXPECT_TRUE(fromFile.empty()) << "the file form wrote a file where the memory form did not";
      return cv::Mat();
    }
    const cv::Mat fromMemory = cv::imdecode(
        std::vector<unsigned char>(buffer.begin(), buffer.begin() + length), cv::IMREAD_COLOR);
    EXPECT_FALSE(fromMemory.empty());
    EXPECT_EQ(fromFile.size(), fromMemory.size());
    return fromMemory;
  }

  SharedLibrary fileLibrary_{"libcropalign.so"};
  SharedLibrary memoryLibrary_{"libcropalignmem.so"};
  CropalignToFile toFile_ = fileLibrary_.entry<CropalignToFile>("cropalign");
  CropalignToMemory toMemory_ = memoryLibrary_.entry<CropalignToMemory>("cropalign");
};

DocumentBox axisAlignedBox(cv::Point topLeft, cv::Point bottomRight, float angle) {
  return DocumentBox{{{topLeft.x, topLeft.y},
                      {bottomRight.x, topLeft.y},
                      {bottomRight.x, bottomRight.y},
                      {topLeft.x, bottomRight.y}},
                     angle};
}

TEST_F(CropalignTest, BothLibrariesExportTheSameTurningRoutine) {
  const cv::Mat src = synthetic::photographedDocument({120, 90}, {60, 30}, 20);
  cv::Mat fromFileLibrary, fromMemoryLibrary;
  fileLibrary_.entry<RotateEntry>("rotate_arbitrarily_angle")(const_cast<cv::Mat&>(src),
                                                              fromFileLibrary, 33);
  memoryLibrary_.entry<RotateEntry>("rotate_arbitrarily_angle")(const_cast<cv::Mat&>(src),
                                                                fromMemoryLibrary, 33);
  ASSERT_EQ(fromFileLibrary.size(), fromMemoryLibrary.size());
  EXPECT_EQ(cv::norm(fromFileLibrary, fromMemoryLibrary, cv::NORM_INF), 0);
}

TEST_F(CropalignTest, TurningKeepsTheWholeImageInTheSmallestCentredWindow) {
  const RotateEntry rotate = fileLibrary_.entry<RotateEntry>("rotate_arbitrarily_angle");
  struct TurnCase {
    const char* name;
    cv::Size source;
    float angle;
    cv::Size window;
  };
  const TurnCase cases[] = {
      {"no turn: exactly the source", {400, 300}, 0, {400, 300}},
      {"quarter turn: canvas 564, padding 82 and 132", {400, 300}, 90, {300, 400}},
      {"square at 45 degrees: window 142 clipped to the 141 canvas", {101, 101}, 45, {141, 141}},
      {"30 degrees", {400, 300}, 30, {496, 459}},
  };
  for (const TurnCase& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat src = synthetic::noise(c.source), dst;
    rotate(src, dst, c.angle);
    EXPECT_EQ(dst.size(), c.window);
    if (c.angle == 0) {
      EXPECT_EQ(cv::norm(src, dst, cv::NORM_INF), 0) << "no turn changes no pixel";
    }
  }
}

TEST_F(CropalignTest, AQuarterTurnIsCounterClockwiseAndMayTurnInPlace) {
  // Bright top-left quadrant on a 400 x 300 source: after the turn it is the bottom-left one.
  cv::Mat image = synthetic::framedRectangles({400, 300}, {cv::Rect(0, 0, 200, 150)});
  fileLibrary_.entry<RotateEntry>("rotate_arbitrarily_angle")(image, image, 90);
  ASSERT_EQ(image.size(), cv::Size(300, 400));
  EXPECT_GT(cv::mean(image(cv::Rect(10, 210, 130, 180)))[0], 200);
  EXPECT_LT(cv::mean(image(cv::Rect(160, 10, 130, 380)))[0], 5);
  EXPECT_LT(cv::mean(image(cv::Rect(10, 10, 130, 180)))[0], 5);
}

TEST_F(CropalignTest, CutsTheBoxedRegionWhenItCoversAtLeast6000Pixels) {
  const cv::Mat bright(300, 900, CV_8UC3, cv::Scalar::all(200));
  struct CutCase {
    const char* name;
    DocumentBox box;
    float scale;
    cv::Size expected;  // empty: nothing written
  };
  const float notANumber = std::numeric_limits<float>::quiet_NaN();
  const CutCase cases[] = {
      {"100 x 60 = 6000 pixels", axisAlignedBox({10, 10}, {109, 69}, 180), 1.0f, {100, 60}},
      {"857 x 7 = 5999 pixels", axisAlignedBox({10, 10}, {866, 16}, 180), 1.0f, {}},
      {"portrait angle from the finder",
       axisAlignedBox({10, 10}, {109, 209}, 90),
       1.0f,
       {100, 200}},
      {"scale 0.5 doubles every corner",
       axisAlignedBox({10, 10}, {109, 69}, 180),
       0.5f,
       {199, 119}},
      {"scale 0 is unusable", axisAlignedBox({10, 10}, {109, 69}, 180), 0.0f, {}},
      {"negative scale", axisAlignedBox({10, 10}, {109, 69}, 180), -1.0f, {}},
      {"scale not a number", axisAlignedBox({10, 10}, {109, 69}, 180), notANumber, {}},
      {"corners beyond int range", axisAlignedBox({10, 10}, {109, 69}, 180), 1e-8f, {}},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cut(bright, c.scale, c.box).size(), c.expected);
  }
}

TEST_F(CropalignTest, OfTwoQualifyingRegionsTheOneFoundLastRemains) {
  const cv::Mat src = synthetic::framedRectangles(
      {400, 300}, {cv::Rect(10, 10, 120, 80), cv::Rect(200, 150, 150, 90)});
  cv::Mat grey;
  cv::cvtColor(src, grey, cv::COLOR_BGR2GRAY);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(grey, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  ASSERT_EQ(contours.size(), 2u);
  const cv::Size last = cv::boundingRect(contours.back()).size();
  ASSERT_NE(last, cv::boundingRect(contours.front()).size());

  EXPECT_EQ(cut(src, 1.0f, axisAlignedBox({0, 0}, {399, 299}, 90)).size(), last);
}

TEST_F(CropalignTest, APhotographedTiltedDocumentComesOutUprightAndCropped) {
  SharedLibrary finderLibrary("libframepack.so");
  const auto finder = finderLibrary.entry<decltype(&framepack)>("framepack");
  struct PhotoCase {
    const char* name;
    cv::Size document;
    float tilt;
  };
  const PhotoCase cases[] = {
      {"landscape form tilted 12 degrees", {700, 450}, 12},
      {"portrait form tilted -12 degrees", {450, 700}, -12},
  };
  for (const PhotoCase& c : cases) {
    SCOPED_TRACE(c.name);
    const cv::Mat full = synthetic::photographedDocument({1600, 1200}, c.document, c.tilt);
    cv::Mat preview;
    cv::resize(full, preview, cv::Size(800, 600), 0, 0, cv::INTER_LINEAR);
    std::vector<unsigned char> jpeg(kFramepackCapacity);
    int length = 0, found = 0;
    DocumentBox box{};
    finder(preview, jpeg.data(), &length, 1, 2, &box, &found);
    ASSERT_EQ(found, 1);

    const cv::Mat document = cut(full, 0.5f, box);
    ASSERT_FALSE(document.empty());
    EXPECT_NEAR(document.cols, c.document.width, 8);
    EXPECT_NEAR(document.rows, c.document.height, 8);
    // Upright: the dark mark sits in the top-left corner, and no background shows at the corners.
    const int side = std::min(document.cols, document.rows) / 6;
    EXPECT_LT(cv::mean(document(cv::Rect(side / 2, side / 2, side, side / 3)))[0], 90);
    EXPECT_GT(cv::mean(document(
                  cv::Rect(document.cols - 2 * side, document.rows - side, side, side / 2)))[0],
              200);
    EXPECT_GT(cv::mean(document(cv::Rect(document.cols - 12, 4, 8, 8)))[0], 150);
    EXPECT_GT(cv::mean(document(cv::Rect(4, document.rows - 12, 8, 8)))[0], 150);
  }
}

}  // namespace
