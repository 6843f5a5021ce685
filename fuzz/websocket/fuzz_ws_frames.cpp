// Arbitrary bytes, cut into arbitrary reads, through the per-connection message reader and the
// single-frame decoder. Every delivered message must be whole, within the limit and terminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ws_codec.h"
#include "ws_message_reader.h"

namespace {

constexpr size_t kLimit = 4096;

void check(bool condition) {
    if (!condition) abort();
}

void readInPieces(const uint8_t* data, size_t size) {
    if (size == 0) return;
    // The first byte chooses the read sizes: 1 to 256 bytes.
    const size_t piece = size_t(data[0]) + 1;
    WsMessageReader reader(kLimit);
    for (size_t offset = 1; offset < size; offset += piece) {
        const size_t count = size - offset < piece ? size - offset : piece;
        memcpy(reader.prepare(count), data + offset, count);
        reader.commit(count);
        check(reader.missing() <= kLimit + kWsMaxHeader);
        WsReadItem item;
        while (reader.next(&item)) {
            if (item.result < 0) continue;
            check(item.length <= kLimit);
            check(item.data[item.length] == 0);
            check(item.result == (item.length == 0 ? 1 : int(item.length)) ||
                  (item.result == 0 && item.type >= WsData_Close));
        }
    }
}

void decodeOnce(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buffer(data, data + size);
    buffer.push_back(0);
    unsigned payloadLength = 0, headerLength = 0;
    Ws_DataType type = WsData_None;
    const int result =
        ws_dePackage(buffer.data(), unsigned(size), &payloadLength, &headerLength, &type);
    if (result > 0) {
        check(size_t(headerLength) + payloadLength <= size);
        check(buffer[payloadLength] == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readInPieces(data, size);
    decodeOnce(data, size);
    return 0;
}
