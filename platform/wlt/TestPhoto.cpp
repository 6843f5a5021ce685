#include "TestPhoto.h"

#include <cstring>

namespace countermate::testphoto {
namespace {

constexpr uint8_t kMagic[4] = {'C', 'M', 'T', 'P'};
constexpr int kPaletteOffset = 8;
constexpr int kCellsOffset = 56;
constexpr int kChecksumOffset = kBlockSize - 4;

uint32_t Fnv1a(const uint8_t* data, int length) {
    uint32_t hash = 2166136261u;
    for (int i = 0; i < length; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

int CellIndex(const uint8_t* block, int row, int column) {
    const int cell = row * kGridWidth + column;
    const uint8_t packed = block[kCellsOffset + cell / 2];
    return cell % 2 == 0 ? packed >> 4 : packed & 0x0F;
}

}  // namespace

std::array<uint8_t, kBlockSize> Encode(const Picture& picture) {
    std::array<uint8_t, kBlockSize> block{};
    std::memcpy(block.data(), kMagic, sizeof kMagic);
    block[4] = 1;
    block[5] = kCellSize;
    block[6] = kGridWidth;
    block[7] = kGridHeight;
    std::memcpy(block.data() + kPaletteOffset, picture.palette, sizeof picture.palette);
    for (int row = 0; row < kGridHeight; ++row) {
        for (int column = 0; column < kGridWidth; ++column) {
            const int cell = row * kGridWidth + column;
            const uint8_t index = picture.cells[row][column] & 0x0F;
            block[size_t(kCellsOffset + cell / 2)] |= cell % 2 == 0 ? uint8_t(index << 4) : index;
        }
    }
    const uint32_t checksum = Fnv1a(block.data(), kChecksumOffset);
    for (int i = 0; i < 4; ++i) block[size_t(kChecksumOffset + i)] = uint8_t(checksum >> (8 * i));
    return block;
}

bool Decode(const uint8_t* block, uint8_t* pixels) {
    if (!block || !pixels) return false;
    if (std::memcmp(block, kMagic, sizeof kMagic) != 0 || block[4] != 1 || block[5] != kCellSize ||
        block[6] != kGridWidth || block[7] != kGridHeight)
        return false;
    uint32_t stored = 0;
    for (int i = 0; i < 4; ++i) stored |= uint32_t(block[kChecksumOffset + i]) << (8 * i);
    if (stored != Fnv1a(block, kChecksumOffset)) return false;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = pixels + size_t(kHeight - 1 - y) * kWidth * 3;  // bottom row first
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* colour = block + kPaletteOffset +
                                    3 * CellIndex(block, y / kCellSize, x / kCellSize);
            std::memcpy(row + 3 * x, colour, 3);
        }
    }
    return true;
}

}  // namespace countermate::testphoto
