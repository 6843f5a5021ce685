#include "scenewatch.h"

#include <opencv2/imgproc.hpp>

namespace {

// The frame as 8-bit BGR, sharing its pixels when it already is.
cv::Mat asColour8(const cv::Mat& frame) {
    cv::Mat eightBit = frame;
    if (frame.depth() != CV_8U) frame.convertTo(eightBit, CV_8U);
    switch (eightBit.channels()) {
        case 3: return eightBit;
        case 1: {
            cv::Mat colour;
            cv::cvtColor(eightBit, colour, cv::COLOR_GRAY2BGR);
            return colour;
        }
        case 4: {
            cv::Mat colour;
            cv::cvtColor(eightBit, colour, cv::COLOR_BGRA2BGR);
            return colour;
        }
        default: return cv::Mat();
    }
}

}  // namespace

double scenewatch(cv::Mat reference, cv::Mat current) {
    try {
        if (reference.empty() || current.empty()) return 0.0;
        cv::Mat before = asColour8(reference);
        const cv::Mat after = asColour8(current);
        if (before.empty() || after.empty()) return 0.0;
        if (before.size() != after.size())
            cv::resize(before, before, after.size(), 0, 0, cv::INTER_AREA);
        return cv::norm(before, after, cv::NORM_L2SQR);
    } catch (const cv::Exception&) {
        return 0.0;
    }
}
