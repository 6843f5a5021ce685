#include "ws_client_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "ws_api.h"
#include "ws_codec.h"

namespace countermate {

namespace {

constexpr uint64_t kLargestReply = 1024u * 1024 * 1024;

}  // namespace

WsClientConnection::~WsClientConnection() { close(); }

bool WsClientConnection::open(const std::string& host, int port, const std::string& path,
                              int timeout_ms) {
    close();
    const int socket = ws_connectToServer(host.c_str(), port, path.c_str(), timeout_ms);
    if (socket <= 0) return false;
    socket_ = socket;
    buffer_.resize(WS_MAX_MESSAGE + 16);
    return true;
}

bool WsClientConnection::send_text(const std::string& text) {
    return socket_ > 0 &&
           ws_send(socket_, text.data(), static_cast<int>(text.size()), true, WsData_Text) > 0;
}

bool WsClientConnection::receive(std::string& message, int timeout_ms,
                                 const std::atomic<bool>* interrupted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (socket_ > 0 && !(interrupted && *interrupted)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd readable{socket_, POLLIN, 0};
        // Short slices so that an interruption is seen promptly.
        if (poll(&readable, 1, static_cast<int>(std::min<long long>(left, 200))) <= 0) continue;
        if (readable.revents & (POLLHUP | POLLERR)) return false;
        make_room_for_next_frame();
        Ws_DataType type = WsData_None;
        const int length = ws_recv(socket_, buffer_.data(), static_cast<int>(buffer_.size()), &type);
        if (type == WsData_Close) return false;
        if (length > 0 && (type == WsData_Text || type == WsData_Binary)) {
            message.assign(buffer_.data(), static_cast<size_t>(length));
            return true;
        }
        char probe = 0;   // readable but nothing to read: the service closed the connection
        if (length == 0 && type == WsData_None && recv(socket_, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
            return false;
        }
    }
    return false;
}

// Replies may be far larger than what a page may send (a file as Base64): the buffer grows to
// the frame that comes next, up to kLargestReply.
void WsClientConnection::make_room_for_next_frame() {
    uint8_t header[kWsMaxHeader];
    const ssize_t seen = recv(socket_, header, sizeof header, MSG_PEEK | MSG_DONTWAIT);
    WsFrameHeader frame{};
    if (seen < 2 || ws_parseFrameHeader(header, size_t(seen), &frame) != WsHeaderStatus::Ok) return;
    const uint64_t needed = frame.headerLength + frame.payloadLength + 16;
    if (needed > buffer_.size() && needed <= kLargestReply) buffer_.resize(size_t(needed));
}

void WsClientConnection::close() {
    if (socket_ <= 0) return;
    ws_send(socket_, "", 0, true, WsData_Close);
    ::close(socket_);
    socket_ = 0;
}

}  // namespace countermate
