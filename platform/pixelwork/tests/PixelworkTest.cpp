// libpixelwork, loaded from the deploy folder as the service loads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "SharedLibrary.h"
#include "SyntheticImages.h"
#include "pixelwork.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes jpegOf(const cv::Mat& image, int quality = 90) {
  Bytes jpeg;
  cv::imencode(".jpg", image, jpeg, {cv::IMWRITE_JPEG_QUALITY, quality});
  return jpeg;
}

cv::Mat decoded(const Bytes& jpeg, int flags = cv::IMREAD_COLOR) {
  return cv::imdecode(jpeg, flags);
}

constexpr unsigned char kCanary = 0x5A;
constexpr int kUntouchedLength = -7;

// One call to an entry, with a destination of the capacity the entry promises to respect.
struct Call {
  int result = 1;
  Bytes output;           // the bytes written, on success
  bool untouched = true;  // destination and length as they were
};

class PixelworkTest : public ::testing::Test {
 protected:
  // Calls the entry with (src, srcLen, dst, dstLen) placed by the invoker.
  template <typename Invoke>
  Call call(const Bytes& source, std::size_t capacity, Invoke invoke) {
    Bytes destination(capacity, kCanary);
    int length = kUntouchedLength;
    Call made;
    made.result =
        invoke(source.data(), static_cast<int>(source.size()), destination.data(), &length);
    made.untouched = length == kUntouchedLength &&
                     std::all_of(destination.begin(), destination.end(),
                                 [](unsigned char byte) { return byte == kCanary; });
    if (made.result == kPixelworkOk) {
      EXPECT_GT(length, 0);
      made.output.assign(destination.begin(), destination.begin() + std::max(length, 0));
    }
    return made;
  }

  Call transpose(const Bytes& source, int turns) {
    return call(source, kPixelworkPhotoCapacity,
                [&](auto... io) { return transpose_(1, turns, io...); });
  }
  Call edge(const Bytes& source) {
    return call(source, kPixelworkPreviewCapacity, [&](auto... io) { return edge_(io...); });
  }
  Call cut(const Bytes& source, float factor) {
    return call(source, kPixelworkPhotoCapacity, [&](auto... io) { return cut_(io..., factor); });
  }
  Call zoom(const Bytes& source, float factor, float limit = 5.0f) {
    return call(source, kPixelworkPreviewCapacity,
                [&](auto... io) { return zoom_(io..., factor, limit); });
  }
  Call gray(const Bytes& source) {
    return call(source, kPixelworkPhotoCapacity, [&](auto... io) { return gray_(io...); });
  }

  SharedLibrary library_{"libpixelwork.so"};
  decltype(&jpegtranspose) transpose_ = library_.entry<decltype(&jpegtranspose)>("jpegtranspose");
  decltype(&jpegedge) edge_ = library_.entry<decltype(&jpegedge)>("jpegedge");
  decltype(&jpegcutandrotate) cut_ =
      library_.entry<decltype(&jpegcutandrotate)>("jpegcutandrotate");
  decltype(&jpegzoom) zoom_ = library_.entry<decltype(&jpegzoom)>("jpegzoom");
  decltype(&jpeggray) gray_ = library_.entry<decltype(&jpeggray)>("jpeggray");
};

double largestDifference(const cv::Mat& a, const cv::Mat& b) {
  return cv::norm(a, b, cv::NORM_INF);
}

TEST_F(PixelworkTest, QuarterTurnsAreClockwiseAndLosslessOnWholeBlocks) {
  // Bright top-left quadrant: one clockwise quarter turn brings it to the top right.
  const cv::Mat picture = synthetic::framedRectangles({640, 480}, {cv::Rect(0, 0, 320, 240)});
  const Bytes source = jpegOf(picture);

  const Call once = transpose(source, 1);
  ASSERT_EQ(once.result, kPixelworkOk);
  const cv::Mat turned = decoded(once.output);
  ASSERT_EQ(turned.size(), cv::Size(480, 640));
  EXPECT_GT(cv::mean(turned(cv::Rect(250, 10, 220, 300)))[0], 200);
  EXPECT_LT(cv::mean(turned(cv::Rect(10, 10, 220, 300)))[0], 10);

  struct Round {
    const char* name;
    std::vector<int> turns;
  };
  const Round rounds[] = {
      {"four single turns", {1, 1, 1, 1}}, {"1 then 3", {1, 3}}, {"2 then 2", {2, 2}}};
  for (const Round& round : rounds) {
    SCOPED_TRACE(round.name);
    Bytes current = source;
    for (int turns : round.turns) {
      const Call step = transpose(current, turns);
      ASSERT_EQ(step.result, kPixelworkOk);
      current = step.output;
    }
    EXPECT_EQ(largestDifference(decoded(current), decoded(source)), 0) << "a lossless round trip";
  }
}

TEST_F(PixelworkTest, QuarterTurnsOfPartialBlocksKeepEveryPixel) {
  const cv::Mat picture = synthetic::photographedDocument({300, 225}, {150, 80}, 10);
  const Bytes source = jpegOf(picture, 95);
  const Call once = transpose(source, 3);
  ASSERT_EQ(once.result, kPixelworkOk);
  const cv::Mat turned = decoded(once.output);
  ASSERT_EQ(turned.size(), cv::Size(225, 300));
  cv::Mat expected;
  cv::rotate(decoded(source), expected, cv::ROTATE_90_COUNTERCLOCKWISE);
  EXPECT_LT(cv::norm(turned, expected, cv::NORM_L1) / turned.total(), 6.0)
      << "re-encoded, not cropped";
}

TEST_F(PixelworkTest, ZoomMagnifiesTheCentreByOnePlusTheFactorAtTheSourceSize) {
  // A centred bright square of side 100 on 400 x 300.
  const cv::Mat picture = synthetic::framedRectangles({400, 300}, {cv::Rect(150, 100, 100, 100)});
  struct ZoomCase {
    float factor;
    int side;  // the square's side after zooming
  };
  for (const ZoomCase& c : {ZoomCase{0.2f, 120}, ZoomCase{1.0f, 200}, ZoomCase{2.0f, 300}}) {
    SCOPED_TRACE(c.factor);
    const Call zoomed = zoom(jpegOf(picture), c.factor);
    ASSERT_EQ(zoomed.result, kPixelworkOk);
    const cv::Mat image = decoded(zoomed.output);
    ASSERT_EQ(image.size(), picture.size());
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    const int brightColumns = cv::countNonZero(grey.row(150) > 110);
    EXPECT_NEAR(brightColumns, c.side, 4);
  }
}

TEST_F(PixelworkTest, ArgumentsOutsideTheirRangesAreRefusedAndNothingIsWritten) {
  const Bytes source = jpegOf(synthetic::framedRectangles({64, 48}, {cv::Rect(8, 8, 16, 16)}));
  const float notANumber = std::numeric_limits<float>::quiet_NaN();
  struct RefusedCase {
    const char* name;
    Call made;
    int expected;
  };
  const RefusedCase cases[] = {
      {"zoom 0", zoom(source, 0.0f), kPixelworkBadArgument},
      {"zoom -1", zoom(source, -1.0f), kPixelworkBadArgument},
      {"zoom above 5", zoom(source, 5.2f, 10.0f), kPixelworkBadArgument},
      {"zoom above the caller's limit", zoom(source, 3.0f, 2.0f), kPixelworkBadArgument},
      {"zoom not a number", zoom(source, notANumber), kPixelworkBadArgument},
      {"no quarter turns", transpose(source, 0), kPixelworkBadArgument},
      {"four quarter turns", transpose(source, 4), kPixelworkBadArgument},
      {"cut factor 0", cut(source, 0.0f), kPixelworkBadArgument},
      {"cut factor above 1", cut(source, 1.5f), kPixelworkBadArgument},
      {"not a JPEG: transpose", transpose(Bytes(100, 0x42), 1), kPixelworkUndecodable},
      {"not a JPEG: edge", edge(Bytes(100, 0x42)), kPixelworkUndecodable},
      {"not a JPEG: gray", gray(Bytes(100, 0x42)), kPixelworkUndecodable},
      {"truncated JPEG", zoom(Bytes(source.begin(), source.begin() + source.size() / 2), 1.0f),
       kPixelworkUndecodable},
      {"empty source", gray(Bytes()), kPixelworkBadArgument},
      {"42 megapixels, past the decoding limit",
       zoom(jpegOf(cv::Mat(6000, 7000, CV_8UC3, cv::Scalar::all(90))), 1.0f),
       kPixelworkUndecodable},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.made.result, c.expected);
    EXPECT_TRUE(c.made.untouched);
  }
}

TEST_F(PixelworkTest, GreyKeepsTheLuminanceLosslessly) {
  const Bytes source = jpegOf(synthetic::framedRectangles({320, 240}, {cv::Rect(40, 40, 200, 120)},
                                                          cv::Scalar(30, 140, 240)));
  const Call grey = gray(source);
  ASSERT_EQ(grey.result, kPixelworkOk);
  const cv::Mat image = decoded(grey.output, cv::IMREAD_UNCHANGED);
  EXPECT_EQ(image.channels(), 1);
  EXPECT_EQ(largestDifference(image, decoded(source, cv::IMREAD_GRAYSCALE)), 0);
}

TEST_F(PixelworkTest, EdgeMarkingOutlinesADocumentAndLeavesOtherFramesAlone) {
  const Bytes document = jpegOf(synthetic::photographedDocument({640, 480}, {300, 180}, 12));
  const Call marked = edge(document);
  ASSERT_EQ(marked.result, kPixelworkOk);
  const cv::Mat image = decoded(marked.output);
  ASSERT_EQ(image.size(), cv::Size(640, 480));
  cv::Mat green;
  cv::inRange(image, cv::Scalar(0, 170, 0), cv::Scalar(100, 255, 100), green);
  EXPECT_GT(cv::countNonZero(green), 2 * (300 + 180));

  const Bytes empty = jpegOf(cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(40)));
  const Call unmarked = edge(empty);
  ASSERT_EQ(unmarked.result, kPixelworkOk);
  EXPECT_EQ(unmarked.output, empty);
}

TEST_F(PixelworkTest, CutAndRotateCropsATiltedDocumentAtEitherSearchScale) {
  const Bytes photo = jpegOf(synthetic::photographedDocument({1600, 1200}, {700, 450}, 12), 92);
  for (float factor : {0.5f, 1.0f}) {
    SCOPED_TRACE(factor);
    const Call cutOut = cut(photo, factor);
    ASSERT_EQ(cutOut.result, kPixelworkOk);
    const cv::Mat document = decoded(cutOut.output);
    EXPECT_NEAR(document.cols, 700, 8);
    EXPECT_NEAR(document.rows, 450, 8);
    EXPECT_LT(cv::mean(document(cv::Rect(40, 40, 60, 25)))[0], 90) << "the mark is top-left";
  }
  const Call nothing = cut(jpegOf(cv::Mat(600, 800, CV_8UC3, cv::Scalar::all(40))), 0.5f);
  EXPECT_EQ(nothing.result, kPixelworkNoDocument);
  EXPECT_TRUE(nothing.untouched);
}

TEST_F(PixelworkTest, OutputsThatWouldOverflowTheCallersBufferAreRefused) {
  // Noise at the highest quality: JPEGs of several megabytes, past both work buffers, and
  // after zooming still past the preview buffer.
  const Bytes noisy = jpegOf(synthetic::noise({2600, 1950}), 100);
  ASSERT_GT(noisy.size(), kPixelworkPreviewCapacity);
  // Dark noise (nothing bright to outline): edge marking hands the source back as it is.
  cv::Mat dark = synthetic::noise({2600, 1950});
  dark /= 3;
  const Bytes darkNoisy = jpegOf(dark, 100);
  ASSERT_GT(darkNoisy.size(), kPixelworkPreviewCapacity);
  // A document of bright noise large enough that its cut does not fit a photo buffer either.
  cv::Mat frame(2000, 3000, CV_8UC3, cv::Scalar::all(0));
  cv::Mat inside = frame(cv::Rect(100, 100, 2800, 1800));
  cv::RNG(9).fill(inside, cv::RNG::UNIFORM, cv::Scalar::all(110), cv::Scalar::all(256));
  const Bytes noisyDocument = jpegOf(frame, 100);

  struct OverflowCase {
    const char* name;
    Call made;
  };
  const OverflowCase cases[] = {
      {"transpose", transpose(noisy, 2)}, {"edge", edge(darkNoisy)},
      {"zoom", zoom(noisy, 0.2f)},        {"gray", gray(noisy)},
      {"cut", cut(noisyDocument, 0.5f)},
  };
  for (const OverflowCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.made.result, kPixelworkTooLarge);
    EXPECT_TRUE(c.made.untouched);
  }
}

}  // namespace
