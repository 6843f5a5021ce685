// The reader's command frame, as plain functions over bytes (no I/O), shared by the library
// and the reader simulator:
//   AA AA AA 96 69 | length (big-endian, bytes after it) | body | XOR of length and body
// A command's body is its command byte, parameter byte and data; a response's body starts with
// the status bytes SW1 SW2 SW3 (SW3 is the command's result), then its data from byte 10.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cardgate::frame {

constexpr unsigned char kPreamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
constexpr int kLengthOffset = 5;
constexpr int kBodyOffset = 7;
constexpr int kResultOffset = 9;  // SW3
constexpr int kDataOffset = 10;
constexpr int kMaxCommandPayload = 253;

// Results of checking a response, in the order they are judged.
constexpr int kFrameOk = 0;
constexpr int kTooLong = 3;    // longer than the caller's capacity
constexpr int kBadCheck = 16;  // XOR check byte differs
constexpr int kTooShort = 17;  // fewer than 8 bytes
constexpr int kBadPreamble = 33;

inline unsigned char XorOf(const unsigned char* data, size_t length) {
    unsigned char check = 0;
    for (size_t i = 0; i < length; ++i) check ^= data[i];
    return check;
}

// Preamble, length, `body` and check byte: body length + 8 bytes.
inline std::vector<unsigned char> BuildFrame(const unsigned char* body, size_t length) {
    std::vector<unsigned char> frame(kPreamble, kPreamble + 5);
    const size_t declared = length + 1;
    frame.push_back((unsigned char)(declared >> 8));
    frame.push_back((unsigned char)declared);
    frame.insert(frame.end(), body, body + length);
    frame.push_back(XorOf(frame.data() + kLengthOffset, frame.size() - kLengthOffset));
    return frame;
}

inline std::vector<unsigned char> BuildResponse(unsigned char sw3, const unsigned char* data,
                                                size_t length) {
    std::vector<unsigned char> body{0x00, 0x00, sw3};
    if (length) body.insert(body.end(), data, data + length);
    return BuildFrame(body.data(), body.size());
}

// Judges a received response: too short, then the check byte, then the preamble, then the
// capacity.
inline int CheckResponse(const unsigned char* frame, int length, int capacity) {
    if (length < 8) return kTooShort;
    if (XorOf(frame + kLengthOffset, size_t(length - kLengthOffset - 1)) != frame[length - 1])
        return kBadCheck;
    if (std::memcmp(frame, kPreamble, sizeof kPreamble) != 0) return kBadPreamble;
    if (capacity < length) return kTooLong;
    return kFrameOk;
}

}  // namespace cardgate::frame
