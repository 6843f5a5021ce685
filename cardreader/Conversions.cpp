// The library's exported conversion helpers: UCS-2 and code points to UTF-8, Base64 over the
// shared core, hexadecimal and decimal digit pairs, command pasting, magnetic-stripe sentinels
// and the reader's combined identity block.
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Base64.h"
#include "CardgateInternal.h"

namespace {

int HexNibble(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return 0;
}

bool IsSentinel(char character, bool second) {
    return character == ';' || character == '%' || (second && character == ':');
}

}  // namespace

int code_convert(const char* from, const char* to, const char* in, int inLen, char* out,
                 int outLen) {
    if (!from || !to || !out || outLen < 1 || inLen < 0 || (inLen > 0 && !in)) return -1;
    iconv_t converter = iconv_open(to, from);
    if (converter == iconv_t(-1)) return -1;
    char* input = const_cast<char*>(in);
    size_t inputLeft = size_t(inLen);
    char* output = out;
    size_t outputLeft = size_t(outLen - 1);  // room for the terminator
    int result = 0;
    while (inputLeft > 0) {
        if (iconv(converter, &input, &inputLeft, &output, &outputLeft) != size_t(-1)) break;
        if (errno == E2BIG) {
            result = -1;
            break;
        }
        // An invalid or incomplete unit is dropped, as //IGNORE asks, and conversion goes on.
        const size_t skipped = inputLeft < 2 ? inputLeft : 2;
        input += skipped;
        inputLeft -= skipped;
    }
    *output = '\0';
    iconv_close(converter);
    return result;
}

int WCToMB(const unsigned char* src, char* dst, int len) {
    if (!dst || len < 0) return CARDGATE_CONVERSION;
    if (len == 0) {
        dst[0] = '\0';
        return 0;
    }
    return code_convert("UNICODE", "UTF-8//IGNORE", reinterpret_cast<const char*>(src), len, dst,
                        4 * len) == 0
               ? 0
               : CARDGATE_CONVERSION;
}

int UnicodeToUTF_8(const uint64_t* codes, int count, char* dst) {
    if (!codes || !dst) return 0;
    unsigned char* out = reinterpret_cast<unsigned char*>(dst);
    int written = 0;
    for (int i = 0; i < count; ++i) {
        const uint64_t code = codes[i];
        if (code < 0x80) {
            out[written++] = (unsigned char)code;
        } else if (code < 0x800) {
            out[written++] = (unsigned char)(0xC0 | code >> 6);
            out[written++] = (unsigned char)(0x80 | (code & 0x3F));
        } else if (code <= 0xFFFF) {
            out[written++] = (unsigned char)(0xE0 | code >> 12);
            out[written++] = (unsigned char)(0x80 | (code >> 6 & 0x3F));
            out[written++] = (unsigned char)(0x80 | (code & 0x3F));
        } else if (code <= 0x10FFFF) {
            out[written++] = (unsigned char)(0xF0 | code >> 18);
            out[written++] = (unsigned char)(0x80 | (code >> 12 & 0x3F));
            out[written++] = (unsigned char)(0x80 | (code >> 6 & 0x3F));
            out[written++] = (unsigned char)(0x80 | (code & 0x3F));
        }
    }
    return written;
}

int encode(const unsigned char* data, int len, char* out) {
    if (!out || len <= 0 || !data) return 0;
    size_t written = countermate::base64_encode(data, size_t(len), out);
    while (written > 0 && out[written - 1] == '=') --written;
    return int(written);
}

int decode(const char* text, int textLen, unsigned char* out, int outCap) {
    if (!text || !out || textLen <= 0 || outCap <= 0) return 0;
    int written = 0;
    unsigned bits = 0;
    int held = 0;
    for (int i = 0; i < textLen && written < outCap; ++i) {
        const int value = countermate::base64_value((unsigned char)text[i]);
        bits = (bits << 6 | unsigned(value < 0 ? 0 : value)) & 0xFFFFFF;  // "=" is zero bits
        held += 6;
        if (held >= 8) {
            held -= 8;
            out[written++] = (unsigned char)(bits >> held);
        }
    }
    return written;
}

int GetFileBase64(const char* path, char* out) {
    if (!path || !out) return CARDGATE_FILE;
    FILE* file = std::fopen(path, "rb");
    if (!file) return CARDGATE_FILE;
    struct stat status {};
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fclose(file);
        return CARDGATE_FILE;
    }
    unsigned char* content = static_cast<unsigned char*>(std::malloc(size_t(status.st_size) + 1));
    if (!content) {
        std::fclose(file);
        return CARDGATE_NO_MEMORY;
    }
    const size_t read = std::fread(content, 1, size_t(status.st_size), file);
    std::fclose(file);
    if (read != size_t(status.st_size)) {
        std::free(content);
        return CARDGATE_FILE;
    }
    const int result = encode(content, int(read), out);
    std::free(content);
    return result;
}

void HexToAsc(const unsigned char* data, char* out, int len) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (!out) return;
    for (int i = 0; i < len && data; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
    out[len > 0 && data ? 2 * len : 0] = '\0';
}

void AscToHex(const char* text, unsigned char* out, int len) {
    if (!text || !out || len <= 0) return;
    std::string digits(text);
    if (digits.size() < size_t(2 * len)) digits.append(size_t(2 * len) - digits.size(), '0');
    for (int i = 0; i < len; ++i)
        out[i] = (unsigned char)(HexNibble(digits[size_t(2 * i)]) << 4 |
                                 HexNibble(digits[size_t(2 * i + 1)]));
}

int AsciiToDec(const char* text, unsigned char* out, int len) {
    if (len % 2 != 0) return 1;
    if (!text || !out) return 1;
    for (int i = 0; i < len / 2; ++i)
        out[i] = (unsigned char)((text[2 * i] - '0') * 10 + (text[2 * i + 1] - '0'));
    return 0;
}

void CmdPaste(int cmd, const unsigned char* data, int len, unsigned char* out, int* outLen) {
    if (!out) return;
    out[0] = (unsigned char)(cmd >> 8);
    out[1] = (unsigned char)cmd;
    const int count = data && len > 0 ? len : 0;
    if (count) std::memcpy(out + 2, data, size_t(count));
    if (outLen) *outLen = count + 2;
}

void ParseMagData(const char* src, int len, char* out, int* outLen) {
    if (!outLen) return;
    *outLen = 0;
    if (!src || !out || len <= 0) return;
    int skipped = 0;
    if (IsSentinel(src[0], false)) {
        skipped = 1;
        if (len > 1 && IsSentinel(src[1], true)) skipped = 2;
    }
    const int rest = len - 2 * skipped;
    if (rest <= 0) return;
    std::memcpy(out, src + skipped, size_t(rest));
    out[rest] = '\0';
    *outLen = rest;
}

int ParseIDCardString(int mode, const unsigned char* block, int blockLen, int* cardKind, char* text,
                      char* fpHex, unsigned int* photoLen, unsigned char* photo) {
    constexpr int kMaxPhoto = 2048;
    if (!block || blockLen < 9) return CARDGATE_BAD_ARGUMENT;
    const int textCount = block[5] << 8 | block[6];
    const int photoCount = block[7] << 8 | block[8];
    const bool withFingerprint = mode == 1 && blockLen >= 1290;
    const int fpCount = withFingerprint ? block[9] << 8 | block[10] : 0;
    const int photoStart = (mode == 1 ? 11 : 9) + textCount;
    if (9 + textCount > blockLen || photoStart + photoCount + fpCount > blockLen ||
        photoCount > kMaxPhoto)
        return CARDGATE_BAD_ARGUMENT;
    const int parsed = _SDT_ParseIDCardTextInfo(block + 9, textCount, cardKind, text);
    if (photo) std::memcpy(photo, block + photoStart, size_t(photoCount));
    if (photoLen) *photoLen = unsigned(photoCount);
    if (withFingerprint && fpHex) HexToAsc(block + photoStart + photoCount, fpHex, fpCount);
    return parsed;
}

void GetTempPath(char* out) {
    if (out) std::strcpy(out, "/tmp/");
}

int ConverWltToBmp(void) { return 0; }
