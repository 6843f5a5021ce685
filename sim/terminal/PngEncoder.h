// Small, valid PNG files for the simulated terminal's pictures: zlib "stored" blocks (no
// compression), CRC-32 per chunk, Adler-32 over the image data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace countermate::sim {

struct Rgb {
    uint8_t red, green, blue;
};

enum class PngKind {
    kBlackWhite,  // 1 bit per pixel: a pixel darker than mid-grey is black
    kGrey,        // 8 bits per pixel: the green channel
    kColour,      // 24 bits per pixel
};

// The PNG file bytes of a `width` x `height` picture whose pixels `pixel`(x, y) gives.
std::string EncodePng(int width, int height, PngKind kind,
                      const std::function<Rgb(int x, int y)>& pixel);

// CRC-32 (ISO-HDLC, as PNG uses it) of `data`.
uint32_t Crc32(const std::string& data);

}  // namespace countermate::sim
