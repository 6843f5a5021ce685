#include "PngEncoder.h"

#include <algorithm>
#include <array>

namespace countermate::sim {
namespace {

constexpr size_t kStoredBlockBytes = 65535;

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    return table;
}

uint32_t Adler32(const std::string& data) {
    uint32_t a = 1, b = 0;
    for (unsigned char byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

void AppendBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
}

void AppendChunk(std::string& png, const char* type, const std::string& content) {
    AppendBigEndian(png, static_cast<uint32_t>(content.size()));
    const std::string typed = std::string(type) + content;
    png += typed;
    AppendBigEndian(png, Crc32(typed));
}

// The zlib stream of `raw` in stored blocks.
std::string StoredZlib(const std::string& raw) {
    std::string stream("\x78\x01", 2);
    size_t offset = 0;
    do {
        const size_t length = std::min(kStoredBlockBytes, raw.size() - offset);
        const bool last = offset + length == raw.size();
        stream += static_cast<char>(last ? 1 : 0);
        stream += static_cast<char>(length & 0xFF);
        stream += static_cast<char>(length >> 8);
        stream += static_cast<char>(~length & 0xFF);
        stream += static_cast<char>(~length >> 8 & 0xFF);
        stream.append(raw, offset, length);
        offset += length;
    } while (offset < raw.size());
    AppendBigEndian(stream, Adler32(raw));
    return stream;
}

// One scan line, behind its filter byte 0 (none).
std::string ScanLine(int width, int y, PngKind kind, const std::function<Rgb(int, int)>& pixel) {
    std::string line(1, '\0');
    uint8_t bits = 0;
    for (int x = 0; x < width; ++x) {
        const Rgb colour = pixel(x, y);
        switch (kind) {
            case PngKind::kBlackWhite:
                bits = static_cast<uint8_t>(bits << 1 | (colour.green >= 128 ? 1 : 0));
                if (x % 8 == 7 || x == width - 1) {
                    line += static_cast<char>(bits << (7 - x % 8));
                    bits = 0;
                }
                break;
            case PngKind::kGrey: line += static_cast<char>(colour.green); break;
            case PngKind::kColour:
                line += static_cast<char>(colour.red);
                line += static_cast<char>(colour.green);
                line += static_cast<char>(colour.blue);
                break;
        }
    }
    return line;
}

}  // namespace

uint32_t Crc32(const std::string& data) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : data) c = CrcTable()[(c ^ byte) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string EncodePng(int width, int height, PngKind kind,
                      const std::function<Rgb(int x, int y)>& pixel) {
    std::string header;
    AppendBigEndian(header, static_cast<uint32_t>(width));
    AppendBigEndian(header, static_cast<uint32_t>(height));
    header += static_cast<char>(kind == PngKind::kBlackWhite ? 1 : 8);  // bit depth
    header += static_cast<char>(kind == PngKind::kColour ? 2 : 0);      // colour type
    header += std::string(3, '\0');  // deflate, adaptive filtering, no interlace
    std::string raw;
    for (int y = 0; y < height; ++y) raw += ScanLine(width, y, kind, pixel);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", StoredZlib(raw));
    AppendChunk(png, "IEND", "");
    return png;
}

}  // namespace countermate::sim
