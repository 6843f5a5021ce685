// The receive side of one client connection: bytes go in as they arrive, complete messages come
// out. No I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ws_api.h"

// Close codes the reader asks for when the stream cannot go on.
constexpr uint16_t kWsCloseProtocolError = 1002;
constexpr uint16_t kWsCloseMessageTooBig = 1009;

// One thing taken out of the stream.
struct WsReadItem {
    Ws_DataType type;
    char* data;          // the payload, NUL-terminated (for a failure: where the bad bytes
                         // began); valid until the next prepare() or next()
    size_t length;       // payload length
    int result;          // >= 1 a message (1 when empty), 0 a control frame, < 0 a failure
    uint16_t closeCode;  // for a failure: the close code the connection ends with
};

// Holds the bytes received on one connection and cuts them into messages. Every complete frame
// is delivered, however many arrive in one read; fragments are joined into one message. The
// first thing that cannot be accepted ends the stream: bytes that are not a frame, a control
// frame that is fragmented or longer than 125 bytes, a new message while fragments are under way
// (close code 1002), or a message longer than the limit (1009, known from the frame header, so
// nothing of it is buffered). What came before it is still delivered; after it next() gives
// nothing more.
class WsMessageReader {
public:
    explicit WsMessageReader(size_t maxMessage = WS_MAX_MESSAGE);

    // Room for at least `want` more bytes after the pending ones; commit() what was written.
    char* prepare(size_t want);
    void commit(size_t count);

    // Bytes received and not yet taken, and taking them as they are (for the handshake).
    std::string_view pending() const;
    void consume(size_t count);

    // Takes the next message, control frame or failure. False when more bytes are needed or
    // the stream has failed.
    bool next(WsReadItem* item);

    // Bytes still to arrive before the frame at the front is complete (0 when unknown).
    size_t missing() const;

    // True while part of a message has arrived and its rest has not.
    bool holdsPartialMessage() const;

    // Memory held for this connection's unfinished input, in bytes.
    size_t heldBytes() const;

    // Forgets everything and gives back the memory.
    void reset();

private:
    bool fail(uint16_t closeCode, Ws_DataType type, uint8_t* frame, size_t count, WsReadItem* item);
    void releaseDeliveredMessage();

    size_t maxMessage_;
    std::vector<char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    std::string message_;                    // fragments joined so far
    Ws_DataType messageType_ = WsData_None;  // type of the fragmented message
    bool assembling_ = false;                // a fragmented message is under way
    bool messageDelivered_ = false;          // message_ was handed out by the last next()
    bool failed_ = false;                    // the stream has ended on a failure
};
