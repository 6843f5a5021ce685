// The one Base64 core (RFC 4648 standard alphabet, "=" padding) that every library's own codec
// wraps. The libraries differ only in how tolerant their decoders are, so the core offers the
// encoder and the per-character decoding, and each codec keeps its own decoding loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace countermate {

extern const char kBase64Alphabet[65];

// Characters that base64_encode writes for `length` bytes: 4 per started group of 3.
constexpr size_t base64_encoded_length(size_t length) { return (length + 2) / 3 * 4; }

// Encodes `length` bytes into `out` with "=" padding and returns the number of characters
// written. Writes no terminator; `out` holds at least base64_encoded_length(length) bytes.
size_t base64_encode(const uint8_t* data, size_t length, char* out);

// The 6-bit value of an alphabet character, or -1 for any other byte (including "=").
int base64_value(unsigned char character);

}  // namespace countermate
