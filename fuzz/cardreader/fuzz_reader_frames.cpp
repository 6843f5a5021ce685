// Arbitrary bytes as a reader's answer: judged as a command-frame response, and checked and
// decoded as a link frame of either variant in either encoding, in place and from a copy.
// Nothing may be read or written outside the bytes given, and what passes must be consistent.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CardgateInternal.h"
#include "CommandFrame.h"
#include "LinkFrame.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

void judgeResponse(const uint8_t* data, size_t size) {
    namespace frame = cardgate::frame;
    const int capacity = size > 0 ? data[0] * 16 : 0;
    const int judged = frame::CheckResponse(data, int(size), capacity);
    if (judged != frame::kFrameOk) return;
    check(size >= 8 && int(size) <= capacity);
    check(std::memcmp(data, frame::kPreamble, 5) == 0);
    // Accepted: the check byte cancels the XOR of everything from the length on.
    check(frame::XorOf(data + frame::kLengthOffset, size - frame::kLengthOffset) == 0);
}

void decodeLink(const uint8_t* data, size_t size) {
    for (const cardgate::link::Variant* variant :
         {&cardgate::link::First(), &cardgate::link::Second()}) {
        for (int mode : {0, 1}) {
            std::vector<uint8_t> decoded;
            const int result =
                cardgate::link::CheckAndDecode(*variant, mode, data, int(size), decoded);
            if (result == 0) {
                check(decoded.size() >= 4 && decoded.size() <= size);
                const int payload = decoded[1] << 8 | decoded[2];
                check(size_t(3 + payload) < decoded.size());
            }
            std::vector<uint8_t> copy(data, data + size);
            int length = int(size);
            const int checkByte = cardgate::link::Analyse(*variant, mode, copy.data(), &length);
            check(checkByte >= -1 && checkByte <= 255 && length <= int(size));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (SetlogWriteflag(0), true);
    (void)quiet;
    judgeResponse(data, size);
    decodeLink(data, size);
    return 0;
}
