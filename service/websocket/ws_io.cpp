// Sending and receiving frames on a connected socket.
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <climits>
#include <mutex>
#include <vector>

#include "ws_codec.h"
#include "ws_io.h"
#include "ws_log.h"

namespace {

// A frame still missing bytes is given up after this long without progress.
constexpr int kStallMs = 200;
// A send that makes no progress for this long fails.
constexpr int kSendDeadlineMs = 5000;
// Socket numbers below this never share a lock; numbers above it that share one only wait for
// each other.
constexpr int kSendLockCount = 16384;

// The lock that keeps the frames sent on one socket whole.
std::mutex& sendLockOf(int fd) {
    static std::mutex locks[kSendLockCount];
    return locks[unsigned(fd) % kSendLockCount];
}

// Writes every byte of `parts`, waiting while the socket is full, but never longer than
// kSendDeadlineMs without progress: a peer that stops reading fails the send (-1) instead of
// holding the caller, and whatever else it was to serve, without limit.
int sendAll(int fd, iovec* parts, int partCount) {
    size_t total = 0;
    while (partCount > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = size_t(partCount);
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd writable{fd, POLLOUT, 0};
                const int ready = poll(&writable, 1, kSendDeadlineMs);
                if (ready > 0 || (ready < 0 && errno == EINTR)) continue;
            }
            return -1;
        }
        total += size_t(sent);
        size_t advance = size_t(sent);
        while (partCount > 0 && advance >= parts->iov_len) {
            advance -= parts->iov_len;
            ++parts;
            --partCount;
        }
        if (partCount > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + advance;
            parts->iov_len -= advance;
        }
    }
    return total > INT_MAX ? INT_MAX : int(total);
}

// Reads until `buffer` holds `want` bytes. Returns false when the peer stalls for kStallMs,
// ends the connection, or fails.
bool readFully(int fd, uint8_t* buffer, size_t* have, size_t want) {
    while (*have < want) {
        const ssize_t got = recv(fd, buffer + *have, want - *have, MSG_DONTWAIT);
        if (got > 0) {
            *have += size_t(got);
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, kStallMs);
        if (ready == 0) return false;
        if (ready < 0 && errno != EINTR) return false;
    }
    return true;
}

int negativeCount(size_t count) { return count >= INT_MAX ? -INT_MAX : -int(count); }

// Completes a frame whose header is in `bytes` and decodes it; answers pings.
int receivePayload(int fd, uint8_t* bytes, size_t size, size_t have, const WsFrameHeader& header) {
    const uint64_t frameLength = header.headerLength + header.payloadLength;
    if (frameLength > size) {
        WS_ERR("warnning, pkgLen(%llu) > dataMaxLen(%d)\r\n",
               static_cast<unsigned long long>(frameLength), int(size));
        ws_discardQueued(fd);
        return negativeCount(have);
    }
    if (!readFully(fd, bytes, &have, size_t(frameLength))) return negativeCount(have);
    unsigned payloadLength = 0, headerLength = 0;
    Ws_DataType type = WsData_None;
    const int result = ws_dePackage(bytes, unsigned(have), &payloadLength, &headerLength, &type);
    if (type == WsData_Ping) ws_sendFrame(fd, WsData_Pong, bytes, payloadLength);
    if (type == WsData_Ping || type == WsData_Pong || type == WsData_Close) return 0;
    return result;
}

}  // namespace

void ws_discardQueued(int fd) {
    uint8_t scratch[4096];
    while (recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
}

int ws_sendFrame(int fd, Ws_DataType type, const void* payload, size_t length) {
    uint8_t header[kWsMaxHeader];
    const size_t headerLength = ws_encodeFrameHeader(type, length, nullptr, header);
    if (headerLength == 0) return 0;
    iovec parts[2] = {{header, headerLength}, {const_cast<void*>(payload), length}};
    std::lock_guard<std::mutex> hold(sendLockOf(fd));
    return sendAll(fd, parts, length > 0 ? 2 : 1);
}

extern "C" {

int ws_send(int fd, const void* data, int length, bool mask, Ws_DataType type) {
    if (length < 0) return 0;
    if (type == WsData_None) {
        if (length == 0) return 0;
        iovec part{const_cast<void*>(data), size_t(length)};
        std::lock_guard<std::mutex> hold(sendLockOf(fd));
        return sendAll(fd, &part, 1);
    }
    if (!mask) return ws_sendFrame(fd, type, data, size_t(length));
    std::vector<uint8_t> frame(size_t(length) + kWsMaxHeader);
    const int frameLength = ws_enPackage(static_cast<const uint8_t*>(data), unsigned(length),
                                         frame.data(), unsigned(frame.size()), true, type);
    if (frameLength < 0) return 0;
    iovec part{frame.data(), size_t(frameLength)};
    std::lock_guard<std::mutex> hold(sendLockOf(fd));
    return sendAll(fd, &part, 1);
}

int ws_recv(int fd, void* buffer, int size, Ws_DataType* type) {
    if (type) *type = WsData_None;
    if (!buffer || size <= 0) {
        ws_discardQueued(fd);
        return 0;
    }
    if (size < 16) {
        WS_ERR("error, dataMaxLen must be >= 16 \r\n");
        return 0;
    }
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    const ssize_t first = recv(fd, bytes, 2, MSG_DONTWAIT);
    if (first <= 0) return 0;
    size_t have = size_t(first);
    if (!readFully(fd, bytes, &have, 2)) return negativeCount(have);

    WsFrameHeader header;
    const bool looksLikeFrame = ws_parseFrameHeader(bytes, 2, &header) != WsHeaderStatus::Invalid &&
                                header.fin;
    if (looksLikeFrame) {
        if (!readFully(fd, bytes, &have, ws_frameHeaderLength(bytes[1])))
            return negativeCount(have);
        if (ws_parseFrameHeader(bytes, have, &header) == WsHeaderStatus::Ok) {
            if (type) *type = ws_typeOfOpcode(header.opcode);
            return receivePayload(fd, bytes, size_t(size), have, header);
        }
    }
    // Not a frame: raw text, which the caller gets with what else is queued.
    if (have < size_t(size)) {
        const ssize_t more = recv(fd, bytes + have, size_t(size) - have, MSG_DONTWAIT);
        if (more > 0) have += size_t(more);
    }
    return negativeCount(have);
}

}  // extern "C"
