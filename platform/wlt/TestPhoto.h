// The test photo format of CounterMate's simulated card reader, standing in for the card's own
// compressed photo (whose codec belongs to the reader's maker). A block is 1024 bytes, the
// size of a card photo block:
//   0-3 "CMTP", 4 version 1, 5 cell size 6, 6 grid width 17, 7 grid height 21,
//   8-55 a palette of 16 RGB colours, 56-234 the 17 x 21 cells as 4-bit palette indexes
//   (rows top first, high nibble first), zeros, 1020-1023 FNV-1a of bytes 0-1019 (little-endian).
// Decoded, each cell is a 6 x 6 square of the 102 x 126 picture.
#pragma once

#include <array>
#include <cstdint>

namespace countermate::testphoto {

constexpr int kWidth = 102;
constexpr int kHeight = 126;
constexpr int kBlockSize = 1024;
constexpr int kGridWidth = 17;
constexpr int kGridHeight = 21;
constexpr int kCellSize = 6;

struct Picture {
    uint8_t palette[16][3] = {};
    uint8_t cells[kGridHeight][kGridWidth] = {};  // palette indexes 0-15, top row first
};

std::array<uint8_t, kBlockSize> Encode(const Picture& picture);

// Decodes a block into `pixels` (kWidth x kHeight x 3 bytes): R, G, B per pixel, the bottom row
// first, as a 24-bit BMP writer that swaps to B, G, R expects. False, with `pixels` untouched,
// for a block that is not a valid test photo.
bool Decode(const uint8_t* block, uint8_t* pixels);

}  // namespace countermate::testphoto
