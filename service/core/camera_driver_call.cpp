#include "camera_driver_call.h"

#include <vector>

#include "DRV_DOCSCOPE.h"

namespace countermate {

namespace {

// A zeroed buffer of `capacity` bytes and a spare terminator.
struct DriverBuffer {
    explicit DriverBuffer(size_t capacity) : bytes(capacity + 1, '\0') {}
    char* data() { return bytes.data(); }
    std::string text() const { return bytes.data(); }
    std::vector<char> bytes;
};

struct AnswerBuffers {
    DriverBuffer result{kCamTextCapacity};
    DriverBuffer message{kCamTextCapacity};
    CameraAnswer answer(const std::string& output = std::string()) const {
        return {result.text(), message.text(), output};
    }
};

}  // namespace

CameraAnswer call_camera(CamResultFn entry) {
    AnswerBuffers buffers;
    entry(buffers.result.data(), buffers.message.data());
    return buffers.answer();
}

CameraAnswer call_camera(CamTextInFn entry, const std::string& text) {
    AnswerBuffers buffers;
    entry(text.c_str(), buffers.result.data(), buffers.message.data());
    return buffers.answer();
}

CameraAnswer call_camera(CamResultOutFn entry, size_t capacity) {
    AnswerBuffers buffers;
    DriverBuffer output(capacity);
    entry(buffers.result.data(), buffers.message.data(), output.data());
    return buffers.answer(output.text());
}

CameraAnswer call_camera(CamTextInOutFn entry, const std::string& text, size_t capacity) {
    AnswerBuffers buffers;
    DriverBuffer output(capacity);
    entry(text.c_str(), buffers.result.data(), buffers.message.data(), output.data());
    return buffers.answer(output.text());
}

std::string camera_number_text(int value) { return std::to_string(value); }

}  // namespace countermate
