// The receive side of one client connection: bytes go in as they arrive, complete messages come
// out. No I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ws_api.h"

// One thing taken out of the stream.
struct WsReadItem {
    Ws_DataType type;
    char* data;     // the payload, NUL-terminated (for discarded bytes: where they began);
                    // valid until the next prepare() or next()
    size_t length;  // payload length
    int result;     // >= 1 a message (1 when empty), 0 a control frame, < 0 bytes discarded
};

// Holds the bytes received on one connection and cuts them into messages. Every complete frame
// is delivered, however many arrive in one read; fragments are joined into one message; a
// message longer than the limit is dropped as its bytes arrive, without buffering it, and the
// stream goes on with the next frame. Bytes that are not a frame at all cannot be resynchronised
// and are dropped with everything buffered.
class WsMessageReader {
public:
    explicit WsMessageReader(size_t maxMessage = WS_MAX_MESSAGE);

    // Room for at least `want` more bytes after the pending ones; commit() what was written.
    char* prepare(size_t want);
    void commit(size_t count);

    // Bytes received and not yet taken, and taking them as they are (for the handshake).
    std::string_view pending() const;
    void consume(size_t count);

    // Takes the next message, control frame or discarded run. False when more bytes are needed.
    bool next(WsReadItem* item);

    // Bytes still to arrive before the frame at the front is complete (0 when unknown).
    size_t missing() const;

    // Forgets everything and gives back the memory.
    void reset();

private:
    bool skipDiscarded();
    void discardFrame(uint64_t frameLength, bool endsMessage, WsReadItem* item, Ws_DataType type,
                      uint8_t* frame);
    void releaseDeliveredMessage();

    size_t maxMessage_;
    std::vector<char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t skip_ = 0;                        // bytes of a dropped frame still to arrive
    std::string message_;                      // fragments joined so far
    Ws_DataType messageType_ = WsData_None;    // type of the fragmented message
    bool assembling_ = false;                  // a fragmented message is under way
    bool discardingMessage_ = false;           // the rest of an oversized message is dropped
    bool messageDelivered_ = false;            // message_ was handed out by the last next()
};
