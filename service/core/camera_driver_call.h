// The camera driver's calling convention (camera-driver configuration): every entry answers in
// caller buffers, a result text ("0" for success; any text whose integer value is not 0 is a
// failure), a message, and for some entries an output text. Each call here hands zeroed buffers
// of the capacities the driver writes within, and returns the three texts.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>

#include "driver_entries.h"

namespace countermate {

struct CameraAnswer {
    std::string result;   // the driver's retVal text
    std::string message;  // its errMsg text
    std::string output;   // the entry's third text, when it has one
    bool ok() const { return std::atoi(result.c_str()) == 0; }
};

CameraAnswer call_camera(CamResultFn entry);
CameraAnswer call_camera(CamTextInFn entry, const std::string& text);
// Entries whose third buffer is an output of `capacity` bytes (CamInit's state among them).
CameraAnswer call_camera(CamResultOutFn entry, size_t capacity);
CameraAnswer call_camera(CamTextInOutFn entry, const std::string& text, size_t capacity);

// An integer argument as the driver takes it: decimal text.
std::string camera_number_text(int value);

}  // namespace countermate
