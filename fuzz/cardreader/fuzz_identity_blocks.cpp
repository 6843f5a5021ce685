// Arbitrary cards: the text block through the line parser and each field conversion, the
// combined identity block, and the photo block through the test photo decoder. Outputs must
// stay within the sizes the callers give and end in a terminator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CardgateInternal.h"
#include "TestPhoto.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

void parseText(const uint8_t* data, size_t size) {
    if (size == 0) return;
    std::vector<uint8_t> block(data, data + size);  // exactly the bytes given
    char line[1024];
    std::memset(line, 0x55, sizeof line);
    int kind = -1;
    _SDT_ParseIDCardTextInfo(block.data(), int(block.size()), &kind, line);
    check(kind >= 0 && kind <= 2);
    check(std::memchr(line, '\0', sizeof line) != nullptr);
    if (size < 256) return;
    for (int fieldKind = 0; fieldKind <= 3; ++fieldKind) {
        char field[1024];
        field[0] = '\0';
        const int length = data[0] % 121;
        GetIDUnicodeInfo(fieldKind, length, block.data(), field);
        check(std::memchr(field, '\0', sizeof field) != nullptr);
    }
}

void parseCombined(const uint8_t* data, size_t size) {
    std::vector<uint8_t> block(data, data + size);
    char text[1024] = {};
    std::vector<char> fingerprints(2 * size + 1);
    unsigned int photoLength = 0;
    std::vector<uint8_t> photo(2048);
    int kind = -1;
    for (int mode : {0, 1}) {
        if (ParseIDCardString(mode, block.data(), int(block.size()), &kind, text,
                              fingerprints.data(), &photoLength, photo.data()) == 0)
            check(photoLength <= 2048);
    }
}

void decodePhoto(const uint8_t* data, size_t size) {
    if (size < size_t(countermate::testphoto::kBlockSize)) return;
    std::vector<uint8_t> block(data, data + countermate::testphoto::kBlockSize);
    std::vector<uint8_t> pixels(102 * 126 * 3);
    countermate::testphoto::Decode(block.data(), pixels.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (SetlogWriteflag(0), true);
    (void)quiet;
    parseText(data, size);
    parseCombined(data, size);
    decodePhoto(data, size);
    return 0;
}
