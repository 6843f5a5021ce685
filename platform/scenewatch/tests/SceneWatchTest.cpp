// The score of libscenewatch, loaded from the deploy folder as the camera driver loads it.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "SharedLibrary.h"
#include "SyntheticImages.h"
#include "scenewatch.h"

namespace {

const cv::Size kPreview(480, 360);

double score(const cv::Mat& reference, const cv::Mat& current) {
    static SharedLibrary library("libscenewatch.so");
    static const auto watch = library.entry<decltype(&scenewatch)>("scenewatch");
    return watch(reference, current);
}

cv::Mat counterWithDocument() { return synthetic::photographedDocument(kPreview, {210, 135}, 12); }

// The same counter with only a scrap of paper on it.
cv::Mat emptyCounter() { return synthetic::photographedDocument(kPreview, {12, 12}, 0); }

// Camera noise: every channel moved by up to 3 levels.
cv::Mat withNoise(const cv::Mat& frame) {
    cv::Mat noise(frame.size(), CV_16SC3);
    cv::RNG random(99);
    random.fill(noise, cv::RNG::UNIFORM, cv::Scalar::all(-3), cv::Scalar::all(4));
    cv::Mat noisy;
    cv::add(frame, noise, noisy, cv::noArray(), CV_8UC3);
    return noisy;
}

TEST(SceneWatch, IdenticalFramesScoreZero) {
    const cv::Mat frame = counterWithDocument();
    EXPECT_EQ(score(frame, frame.clone()), 0.0);
}

TEST(SceneWatch, ScoreIsTheSumOfSquaredDifferences) {
    const cv::Mat dark(kPreview, CV_8UC3, cv::Scalar::all(40));
    const cv::Mat brighter(kPreview, CV_8UC3, cv::Scalar::all(70));
    EXPECT_DOUBLE_EQ(score(dark, brighter), 480.0 * 360 * 3 * 30 * 30);
}

TEST(SceneWatch, OnlyANewSceneJumpsOverTheThreshold) {
    const cv::Mat document = counterWithDocument();
    EXPECT_LT(score(document, withNoise(document)), kSceneChangeJump) << "a still scene";
    EXPECT_GT(score(emptyCounter(), document), kSceneChangeJump) << "a document laid down";
    EXPECT_GT(score(document, emptyCounter()), kSceneChangeJump) << "a document taken away";
}

TEST(SceneWatch, FramesOfAnotherShapeAreComparedWithoutFailing) {
    const cv::Mat document = counterWithDocument();
    cv::Mat turned;
    cv::rotate(document, turned, cv::ROTATE_90_CLOCKWISE);
    EXPECT_GT(score(document, turned), 0.0);
    cv::Mat grey;
    cv::cvtColor(document, grey, cv::COLOR_BGR2GRAY);
    EXPECT_LT(score(document, grey), kSceneChangeJump) << "the same scene in grey";
    EXPECT_EQ(score(cv::Mat(), document), 0.0);
    EXPECT_EQ(score(document, cv::Mat()), 0.0);
}

}  // namespace
