#include "Base64.h"

namespace countermate {

const char kBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

size_t base64_encode(const uint8_t* data, size_t length, char* out) {
    size_t written = 0;
    size_t index = 0;
    for (; index + 3 <= length; index += 3) {
        const uint32_t group = (uint32_t(data[index]) << 16) | (uint32_t(data[index + 1]) << 8) |
                               data[index + 2];
        out[written++] = kBase64Alphabet[(group >> 18) & 0x3F];
        out[written++] = kBase64Alphabet[(group >> 12) & 0x3F];
        out[written++] = kBase64Alphabet[(group >> 6) & 0x3F];
        out[written++] = kBase64Alphabet[group & 0x3F];
    }
    const size_t rest = length - index;
    if (rest > 0) {
        uint32_t group = uint32_t(data[index]) << 16;
        if (rest == 2) group |= uint32_t(data[index + 1]) << 8;
        out[written++] = kBase64Alphabet[(group >> 18) & 0x3F];
        out[written++] = kBase64Alphabet[(group >> 12) & 0x3F];
        out[written++] = rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
        out[written++] = '=';
    }
    return written;
}

int base64_value(unsigned char character) {
    if (character >= 'A' && character <= 'Z') return character - 'A';
    if (character >= 'a' && character <= 'z') return character - 'a' + 26;
    if (character >= '0' && character <= '9') return character - '0' + 52;
    if (character == '+') return 62;
    if (character == '/') return 63;
    return -1;
}

}  // namespace countermate
