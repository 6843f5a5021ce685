#include "ws_codec.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>
#include <random>

#include "Base64.h"
#include "ws_log.h"

namespace {

constexpr uint8_t kFin = 0x80;
constexpr uint8_t kMaskBit = 0x80;

struct OpcodeType {
    uint8_t opcode;
    Ws_DataType type;
};
constexpr OpcodeType kOpcodes[] = {
    {0, WsData_Continuation}, {1, WsData_Text}, {2, WsData_Binary},
    {8, WsData_Close},        {9, WsData_Ping}, {10, WsData_Pong},
};

int opcodeOfType(Ws_DataType type) {
    for (const OpcodeType& entry : kOpcodes) {
        if (entry.type == type) return entry.opcode;
    }
    return -1;
}

}  // namespace

Ws_DataType ws_typeOfOpcode(uint8_t opcode) {
    for (const OpcodeType& entry : kOpcodes) {
        if (entry.opcode == opcode) return entry.type;
    }
    return WsData_None;
}

size_t ws_frameHeaderLength(uint8_t secondByte) {
    const uint8_t shortLength = secondByte & 0x7F;
    const size_t lengthFieldEnd = shortLength == 127 ? 10 : shortLength == 126 ? 4 : 2;
    return lengthFieldEnd + ((secondByte & kMaskBit) ? 4 : 0);
}

WsHeaderStatus ws_parseFrameHeader(const uint8_t* data, size_t size, WsFrameHeader* header) {
    if (size < 2) return WsHeaderStatus::Incomplete;
    header->fin = (data[0] & kFin) != 0;
    header->opcode = data[0] & 0x0F;
    header->masked = (data[1] & kMaskBit) != 0;
    const Ws_DataType type = ws_typeOfOpcode(header->opcode);
    if (type == WsData_None) return WsHeaderStatus::Invalid;
    if (!header->fin && type >= WsData_Close) return WsHeaderStatus::Invalid;

    const uint8_t shortLength = data[1] & 0x7F;
    header->headerLength = uint32_t(ws_frameHeaderLength(data[1]));
    const size_t lengthFieldEnd = header->headerLength - (header->masked ? 4 : 0);
    if (size < lengthFieldEnd) return WsHeaderStatus::Incomplete;
    if (shortLength == 126) {
        header->payloadLength = (uint64_t(data[2]) << 8) | data[3];
    } else if (shortLength == 127) {
        if (data[2] | data[3] | data[4] | data[5]) return WsHeaderStatus::Invalid;
        header->payloadLength = (uint64_t(data[6]) << 24) | (uint64_t(data[7]) << 16) |
                                (uint64_t(data[8]) << 8) | data[9];
    } else {
        header->payloadLength = shortLength;
    }
    return WsHeaderStatus::Ok;
}

size_t ws_encodeFrameHeader(Ws_DataType type, uint64_t payloadLength, const uint8_t* maskKey,
                            uint8_t* out) {
    const int opcode = opcodeOfType(type);
    if (opcode < 0) return 0;
    out[0] = uint8_t(kFin | opcode);
    out[1] = maskKey ? kMaskBit : 0;
    size_t length = 2;
    if (payloadLength <= 125) {
        out[1] |= uint8_t(payloadLength);
    } else if (payloadLength <= 0xFFFF) {
        out[1] |= 126;
        out[2] = uint8_t(payloadLength >> 8);
        out[3] = uint8_t(payloadLength);
        length = 4;
    } else {
        out[1] |= 127;
        for (int index = 0; index < 8; ++index) {
            out[2 + index] = uint8_t(payloadLength >> (56 - 8 * index));
        }
        length = 10;
    }
    if (maskKey) {
        memcpy(out + length, maskKey, 4);
        length += 4;
    }
    return length;
}

void ws_unmaskMove(uint8_t* target, const uint8_t* source, size_t length,
                   const uint8_t maskKey[4]) {
    // The key is copied first: the target may cover it.
    typedef uint64_t Block __attribute__((vector_size(64)));
    uint8_t keyBytes[sizeof(Block)];
    for (size_t index = 0; index < sizeof keyBytes; index += 4)
        memcpy(keyBytes + index, maskKey, 4);
    Block key;
    memcpy(&key, keyBytes, sizeof key);
    uint64_t wordKey;
    memcpy(&wordKey, keyBytes, sizeof wordKey);
    // Blocks of 64 bytes, then of 8, then single bytes. Each piece is loaded before it is
    // stored, so a target that lies before the source never overwrites bytes still to be read.
    size_t index = 0;
    for (; index + sizeof(Block) <= length; index += sizeof(Block)) {
        Block block;
        memcpy(&block, source + index, sizeof block);
        block ^= key;
        memcpy(target + index, &block, sizeof block);
    }
    for (; index + 8 <= length; index += 8) {
        uint64_t word;
        memcpy(&word, source + index, 8);
        word ^= wordKey;
        memcpy(target + index, &word, 8);
    }
    for (; index < length; ++index) target[index] = source[index] ^ keyBytes[index & 3];
}

void ws_getRandomString(uint8_t* out, size_t length) {
    // Drawn from a per-thread pool: one call to the generator serves a thousand mask keys.
    thread_local uint8_t pool[4096];
    thread_local size_t used = sizeof pool;
    if (length > sizeof pool / 4) {
        if (RAND_bytes(out, int(length)) == 1) return;
    } else {
        if (used + length > sizeof pool) {
            used = RAND_bytes(pool, sizeof pool) == 1 ? 0 : sizeof pool;
        }
        if (used + length <= sizeof pool) {
            memcpy(out, pool + used, length);
            used += length;
            return;
        }
    }
    std::random_device device;
    for (size_t index = 0; index < length; ++index) out[index] = uint8_t(device());
}

bool sha1_hash(const void* data, size_t length, uint8_t digest[20]) {
    unsigned int digestLength = 0;
    if (EVP_Digest(data, length, digest, &digestLength, EVP_sha1(), nullptr) != 1 ||
        digestLength != 20) {
        WS_ERR("SHA1 ERROR: Could not compute message digest \r\n");
        return false;
    }
    return true;
}

extern "C" {

int ws_enPackage(const uint8_t* data, unsigned int length, uint8_t* out, unsigned int outSize,
                 bool mask, Ws_DataType type) {
    if (outSize < 2) return -1;
    uint8_t maskKey[4];
    if (mask) ws_getRandomString(maskKey, 4);
    uint8_t header[kWsMaxHeader];
    const size_t headerLength =
        ws_encodeFrameHeader(type, length, mask ? maskKey : nullptr, header);
    if (headerLength == 0) return -1;
    const size_t frameLength = headerLength + length;
    if (frameLength > outSize || frameLength > INT_MAX) return -1;
    memcpy(out, header, headerLength);
    if (mask) {
        ws_unmaskMove(out + headerLength, data, length, maskKey);
    } else if (length > 0) {
        memcpy(out + headerLength, data, length);
    }
    if (frameLength < outSize) out[frameLength] = 0;
    return int(frameLength);
}

int ws_dePackage(uint8_t* buffer, unsigned int size, unsigned int* payloadLength,
                 unsigned int* headerLength, Ws_DataType* type) {
    WsFrameHeader header;
    if (ws_parseFrameHeader(buffer, size, &header) != WsHeaderStatus::Ok || !header.fin) return 0;
    *type = ws_typeOfOpcode(header.opcode);
    *payloadLength = unsigned(header.payloadLength);
    *headerLength = header.headerLength;
    const uint64_t frameLength = header.headerLength + header.payloadLength;
    if (size < frameLength) {
        const uint64_t missing = frameLength - size;
        return missing >= INT_MAX ? -INT_MAX : -int(missing);
    }
    uint8_t* payload = buffer + header.headerLength;
    if (header.masked) {
        uint8_t maskKey[4];
        memcpy(maskKey, payload - 4, 4);
        ws_unmaskMove(buffer, payload, header.payloadLength, maskKey);
    } else {
        memmove(buffer, payload, header.payloadLength);
    }
    buffer[header.payloadLength] = 0;
    return header.payloadLength == 0 ? 1 : int(header.payloadLength);
}

int ws_base64_encode(const uint8_t* data, char* out, int length) {
    if (length < 0) length = 0;
    const size_t written = countermate::base64_encode(data, size_t(length), out);
    out[written] = 0;
    return int(written);
}

int ws_base64_decode(const char* text, uint8_t* out) {
    int written = 0;
    size_t position = 0;
    while (text[position] != 0) {
        uint8_t values[4] = {0, 0, 0, 0};
        size_t count = 0;
        for (; count < 4 && text[position + count] != 0; ++count) {
            const int value = countermate::base64_value(uint8_t(text[position + count]));
            values[count] = value < 0 ? 0xFF : uint8_t(value);
        }
        if (count < 2) break;  // a lone character carries no whole byte
        const bool thirdIsPad = text[position + 2] == '=' && count > 2;
        const bool fourthIsPad = count > 3 && text[position + 3] == '=';
        out[written++] = uint8_t((values[0] << 2) | (values[1] >> 4));
        if (count > 2 && !thirdIsPad) {
            out[written++] = uint8_t((values[1] << 4) | (values[2] >> 2));
            if (count > 3 && !fourthIsPad) out[written++] = uint8_t((values[2] << 6) | values[3]);
        }
        if (thirdIsPad || fourthIsPad || count < 4) break;
        position += 4;
    }
    return written;
}

}  // extern "C"

namespace {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none.
size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t index) { return uint8_t(text[index]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t index = 2; index < length; ++index) {
        if ((byte(index) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

bool ws_isValidUtf8(std::string_view text) {
    for (size_t position = 0; position < text.size();) {
        // Runs of ASCII are the common case.
        if (uint8_t(text[position]) < 0x80) {
            ++position;
            continue;
        }
        const size_t length = utf8SequenceLength(text.substr(position));
        if (length == 0) return false;
        position += length;
    }
    return true;
}

std::string ws_validUtf8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    for (size_t position = 0; position < text.size();) {
        const size_t length = utf8SequenceLength(text.substr(position));
        if (length == 0) {
            valid += "\xEF\xBF\xBD";
            ++position;
        } else {
            valid.append(text.substr(position, length));
            position += length;
        }
    }
    return valid;
}
