// The link framing, as plain functions over bytes: start byte, 16-bit length, payload, check
// byte, end byte; in byte encoding or in ASCII nibbles (each nibble as 0x30 + nibble).
// Variant 1: 'S' ... 'K' with the table check byte (BCC); variant 2: STX ... ETX with XOR.
#pragma once

#include <vector>

namespace cardgate::link {

struct Variant {
    unsigned char start;
    unsigned char end;
    unsigned char (*check)(const unsigned char*, int);
    int usbPiece;  // largest piece read from USB while looking for a frame
};
const Variant& First();
const Variant& Second();

constexpr int kByteMode = 0;
constexpr int kAsciiMode = 1;
constexpr int kMaxPayload = 10240;

// The whole frame for `payload` in `mode`: L + 5 bytes, or 2·L + 8 characters.
std::vector<unsigned char> Assemble(const Variant& variant, int mode, const unsigned char* payload,
                                    int length);

// Header bytes needed to know a frame's length (start included), and that length.
int HeaderSize(int mode);
int FrameLength(int mode, const unsigned char* frame);

// Decodes an ASCII frame in place (start byte kept, then the decoded bytes) and returns the
// check byte computed over its payload, or -1 when the header declares more than it holds.
int Analyse(const Variant& variant, int mode, unsigned char* frame, int* length);

// Checks a received frame that starts at its start byte and holds `available` bytes, then
// decodes it into `out`: 0, -116 (no end byte where the length puts it) or -118 (check byte).
int CheckAndDecode(const Variant& variant, int mode, const unsigned char* frame, int available,
                   std::vector<unsigned char>& out);

}  // namespace cardgate::link
