// Checks of the pictures the camera and screen requests hand over: a JPEG (or its Base64) that
// decodes whole.
#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <string>

#include "ws_api.h"

namespace countermate::testing {

struct DecodedJpeg {
    bool decoded = false;
    int width = 0;
    int height = 0;
};

// Decodes `bytes` as a JPEG picture, every pixel of it.
inline DecodedJpeg decode_jpeg(const std::string& bytes) {
    DecodedJpeg result;
    if (bytes.empty()) return result;
    tjhandle decoder = tjInitDecompress();
    int subsampling = 0;
    int colourspace = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto length = static_cast<unsigned long>(bytes.size());
    if (tjDecompressHeader3(decoder, data, length, &result.width, &result.height, &subsampling,
                            &colourspace) == 0) {
        std::string pixels(static_cast<size_t>(result.width) * result.height * 3, '\0');
        result.decoded = tjDecompress2(decoder, data, length,
                                       reinterpret_cast<unsigned char*>(&pixels[0]), result.width,
                                       0, result.height, TJPF_RGB, 0) == 0;
    }
    tjDestroy(decoder);
    return result;
}

// Decodes `base64` as a JPEG picture, every pixel of it.
inline DecodedJpeg decode_jpeg_base64(const std::string& base64) {
    std::string bytes(base64.size(), '\0');
    const int length = ws_base64_decode(base64.c_str(), reinterpret_cast<uint8_t*>(&bytes[0]));
    bytes.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return decode_jpeg(bytes);
}

}  // namespace countermate::testing
