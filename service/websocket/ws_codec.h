// Frame and handshake codec of the WebSocket layer: plain functions over buffers, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ws_api.h"

// Longest frame header: 2 bytes, 8 length bytes, 4 mask bytes.
constexpr size_t kWsMaxHeader = 14;

// What the first bytes of a frame say.
struct WsFrameHeader {
    bool fin;
    uint8_t opcode;
    bool masked;
    uint32_t headerLength;  // including the mask key
    uint64_t payloadLength;
};

enum class WsHeaderStatus {
    Incomplete,  // more bytes are needed to know the header length
    Invalid,     // not a frame: unknown opcode, fragmented control frame, length beyond 32 bits
    Ok,
};

// Reads the header at `data`. Ok needs only the bytes up to the length field; the mask key
// (the 4 bytes before headerLength) may still be missing.
WsHeaderStatus ws_parseFrameHeader(const uint8_t* data, size_t size, WsFrameHeader* header);

// Length of a frame header, mask key included, from the frame's second byte.
size_t ws_frameHeaderLength(uint8_t secondByte);

// Frame type of an opcode, or WsData_None for an opcode this layer does not know.
Ws_DataType ws_typeOfOpcode(uint8_t opcode);

// Writes the header of a FIN frame of `type` carrying `payloadLength` bytes into `out`
// (kWsMaxHeader bytes), with `maskKey` when not null. Returns its length, or 0 for a type
// outside 1..6.
size_t ws_encodeFrameHeader(Ws_DataType type, uint64_t payloadLength, const uint8_t* maskKey,
                            uint8_t* out);

// Copies `length` bytes from `source` to `target`, XOR-ing them with `maskKey` cycled from its
// first byte. `target` may equal `source` or lie before it (the copy runs forward).
void ws_unmaskMove(uint8_t* target, const uint8_t* source, size_t length, const uint8_t maskKey[4]);

// Fills `out` with `length` unpredictable bytes.
void ws_getRandomString(uint8_t* out, size_t length);

// SHA-1 of `data`: 20 bytes into `digest`. Returns false (after a diagnostic) when the digest
// cannot be computed.
bool sha1_hash(const void* data, size_t length, uint8_t digest[20]);

extern "C" {

// Builds a frame of `type` around `data` into `out` (`outSize` bytes). Returns the frame length,
// or -1 when the type is outside 1..6 or `out` is too small. A NUL follows the frame when there
// is room for it.
int ws_enPackage(const uint8_t* data, unsigned int length, uint8_t* out, unsigned int outSize,
                 bool mask, Ws_DataType type);

// Decodes the frame at the start of `buffer` (`size` bytes). Returns 0 when it is not a complete
// frame header (or FIN is clear, or the opcode is unknown), the negative count of bytes still
// missing, or for a complete frame its payload length (1 when empty) after moving the unmasked
// payload to buffer[0] and writing a NUL after it.
int ws_dePackage(uint8_t* buffer, unsigned int size, unsigned int* payloadLength,
                 unsigned int* headerLength, Ws_DataType* type);

// 24-character client key (16 random bytes in Base64) and NUL into `key` (25 bytes).
int ws_buildShakeKey(char* key);

// Sec-WebSocket-Accept value for `key` into `accept` (29 bytes with NUL). Returns its length
// (28), or -1 when the digest failed.
int ws_buildRespondShakeKey(const char* key, unsigned int keyLength, char* accept);

// 0 when `accept` is the value derived from `key`, else -1 (with a diagnostic).
int ws_matchShakeKey(const char* key, unsigned int keyLength, const char* accept,
                     unsigned int acceptLength);

// The 101 answer for `key` into `out` (512 bytes). Leaves `out` empty when the digest failed.
void ws_buildHttpRespond(const char* key, unsigned int keyLength, char* out);

}  // extern "C"

// The complete answer to an opening handshake request, or the empty string after printing why
// the request cannot be answered. `path`, when not null, must occur in the request.
std::string ws_handshakeAnswer(std::string_view request, const char* path);

// Whether `text` carries "Sec-WebSocket-Key" (in any letter case).
bool ws_hasKeyHeader(std::string_view text);

// The value of the request header `name` (compared without regard to letter case), without the
// blanks around it, in `value`. False when the request has no such header.
bool ws_findHeader(std::string_view request, std::string_view name, std::string_view* value);

// Whether `origin` is one of `allowed`. Origins compare without regard to letter case (scheme
// and host are case-insensitive) and otherwise exactly: another port, a longer host or a
// trailing path is another origin.
bool ws_originAllowed(const std::vector<std::string>& allowed, std::string_view origin);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool ws_isValidUtf8(std::string_view text);

// `text` with every byte sequence that is not well-formed UTF-8 replaced by U+FFFD.
std::string ws_validUtf8(std::string_view text);
