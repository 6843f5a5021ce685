// Handing encoded images to callers whose buffers carry no size argument.
#pragma once

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

namespace document {

// JPEG bytes of image at OpenCV's default quality.
std::vector<unsigned char> encodeJpeg(const cv::Mat& image);

// Copies size bytes to out and stores the count in *outLen when they fit capacity (and int);
// otherwise writes nothing and returns false.
bool copyIfFits(const unsigned char* bytes, std::size_t size, unsigned char* out, int* outLen,
                std::size_t capacity);

}  // namespace document
