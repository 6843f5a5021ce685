#include "ws_client_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "ws_api.h"
#include "ws_codec.h"

namespace countermate {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kLargestReply = 1024u * 1024 * 1024;
// The longest handshake answer read; anything longer is not a WebSocket server's answer.
constexpr size_t kLongestHandshakeAnswer = 4096;
// Pause between connection attempts while a refusing service may still be starting.
constexpr auto kRetryPause = std::chrono::milliseconds(10);

int milliseconds_until(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::max<long long>(left, 0));
}

// Reads the handshake answer up to its blank line, one byte at a time so that a frame sent
// right after it stays queued for receive(). False when the peer closed or the deadline passed.
bool read_handshake_answer(int socket, Clock::time_point deadline, std::string& answer,
                           bool& closed) {
    closed = false;
    while (answer.size() < kLongestHandshakeAnswer) {
        char byte;
        const ssize_t got = recv(socket, &byte, 1, 0);
        if (got == 1) {
            answer += byte;
            if (answer.size() >= 4 && answer.compare(answer.size() - 4, 4, "\r\n\r\n") == 0) {
                return true;
            }
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closed = true;
            return false;
        }
        const int left = milliseconds_until(deadline);
        if (left == 0) return false;
        pollfd readable{socket, POLLIN, 0};
        poll(&readable, 1, left);
    }
    return true;  // too long to be an accepting answer; judged by its status line
}

// Whether `answer` is a 101 that carries the Sec-WebSocket-Accept derived from `key`.
bool accepts_key(const std::string& answer, const char* key) {
    const size_t line_end = answer.find("\r\n");
    const std::string status = answer.substr(0, line_end);
    if (status.compare(0, 5, "HTTP/") != 0 || status.find(" 101") == std::string::npos) {
        return false;
    }
    static const char kAcceptHeader[] = "Sec-WebSocket-Accept: ";
    const size_t found = answer.find(kAcceptHeader);
    if (found == std::string::npos) return false;
    const size_t begin = found + std::strlen(kAcceptHeader);
    const size_t end = answer.find_first_of("\r\n", begin);
    const std::string accept = answer.substr(begin, end - begin);
    return ws_matchShakeKey(key, unsigned(std::strlen(key)), accept.data(),
                            unsigned(accept.size())) == 0;
}

}  // namespace

WsClientConnection::~WsClientConnection() { close(); }

bool WsClientConnection::fail(OpenFailure failure, std::string detail) {
    open_failure_ = failure;
    open_failure_detail_ = std::move(detail);
    return false;
}

bool WsClientConnection::open(const std::string& host, int port, const std::string& path,
                              int timeout_ms, WhenRefused when_refused) {
    close();
    open_failure_ = OpenFailure::None;
    open_failure_detail_.clear();
    if (timeout_ms <= 0) timeout_ms = 1000;
    char ip[INET_ADDRSTRLEN] = {};
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) == 1) {
        std::snprintf(ip, sizeof ip, "%s", host.c_str());
    } else if (ws_getIpByHostName(host.c_str(), ip, 1000) < 0) {
        return fail(OpenFailure::Unresolved, "no IPv4 address for " + host);
    }
    const int socket = connect_within(ip, port, timeout_ms, when_refused);
    if (socket < 0) return false;
    if (!complete_handshake(socket, host, port, path, 2 * timeout_ms)) {
        ::close(socket);
        return false;
    }
    socket_ = socket;
    closed_by_peer_ = false;
    buffer_.resize(WS_MAX_MESSAGE + 16);
    return true;
}

// A connected non-blocking socket, or -1 with the failure recorded.
int WsClientConnection::connect_within(const char* ip, int port, int timeout_ms,
                                       WhenRefused when_refused) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
        const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0) {
            fail(OpenFailure::Unreachable, std::strerror(errno));
            return -1;
        }
        int error = 0;
        if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd writable{socket, POLLOUT, 0};
                error = ETIMEDOUT;
                if (poll(&writable, 1, milliseconds_until(deadline)) == 1) {
                    socklen_t length = sizeof error;
                    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
                }
            }
        }
        if (error == 0) return socket;
        ::close(socket);
        fail(error == ECONNREFUSED ? OpenFailure::Refused : OpenFailure::Unreachable,
             std::strerror(error));
        const bool give_up = error == ECONNREFUSED && when_refused == WhenRefused::GiveUp;
        if (give_up || milliseconds_until(deadline) <= kRetryPause.count()) return -1;
        std::this_thread::sleep_for(kRetryPause);
    }
}

bool WsClientConnection::complete_handshake(int socket, const std::string& host, int port,
                                            const std::string& path, int timeout_ms) {
    char key[32] = {};
    ws_buildShakeKey(key);
    const std::string request = "GET " + path +
                                " HTTP/1.1\r\nConnection: Upgrade\r\nHost: " + host + ":" +
                                std::to_string(port) + "\r\nSec-WebSocket-Key: " + key +
                                "\r\nSec-WebSocket-Version: 13\r\nUpgrade: websocket\r\n\r\n";
    if (ws_send(socket, request.data(), int(request.size()), false, WsData_None) <= 0) {
        return fail(OpenFailure::NoHandshake, "the handshake request could not be sent");
    }
    std::string answer;
    bool closed = false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    if (!read_handshake_answer(socket, deadline, answer, closed)) {
        return fail(OpenFailure::NoHandshake, closed
                                                  ? "the connection was closed during the handshake"
                                                  : "no answer to the handshake");
    }
    if (!accepts_key(answer, key)) {
        return fail(OpenFailure::Rejected, answer.substr(0, answer.find("\r\n")));
    }
    return true;
}

bool WsClientConnection::send_text(const std::string& text) {
    return socket_ > 0 &&
           ws_send(socket_, text.data(), static_cast<int>(text.size()), true, WsData_Text) > 0;
}

bool WsClientConnection::receive(std::string& message, int timeout_ms,
                                 const std::atomic<bool>* interrupted) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (socket_ > 0 && !closed_by_peer_ && !(interrupted && *interrupted)) {
        const int left = milliseconds_until(deadline);
        if (left <= 0) return false;
        pollfd readable{socket_, POLLIN, 0};
        // Short slices so that an interruption is seen promptly.
        if (poll(&readable, 1, std::min(left, 200)) <= 0) continue;
        if (readable.revents & (POLLHUP | POLLERR)) {
            closed_by_peer_ = true;
            return false;
        }
        make_room_for_next_frame();
        Ws_DataType type = WsData_None;
        const int length =
            ws_recv(socket_, buffer_.data(), static_cast<int>(buffer_.size()), &type);
        if (type == WsData_Close) {
            closed_by_peer_ = true;
            return false;
        }
        if (length > 0 && (type == WsData_Text || type == WsData_Binary)) {
            message.assign(buffer_.data(), static_cast<size_t>(length));
            return true;
        }
        char probe = 0;  // readable but nothing to read: the service closed the connection
        if (length == 0 && type == WsData_None &&
            recv(socket_, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
            closed_by_peer_ = true;
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
