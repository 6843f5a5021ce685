// A WebSocket client made of a bare TCP socket, for tests that must behave as no well-mannered
// client does: send chosen headers, half a frame or bytes that are no frame, stop reading, or
// connect from another loopback address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace countermate::testing {

class RawWsSocket {
public:
    struct Frame {
        int opcode = -1;  // -1: nothing arrived, or the connection ended
        std::string payload;
    };

    RawWsSocket() = default;
    ~RawWsSocket() { close(); }
    RawWsSocket(const RawWsSocket&) = delete;
    RawWsSocket& operator=(const RawWsSocket&) = delete;

    // Connects to `server_address`:`port` from `source_address`; `receive_buffer` > 0 shrinks
    // the socket's receive buffer (a client that reads slowly fills it fast).
    bool connect(int port, const char* server_address = "127.0.0.1",
                 const char* source_address = nullptr, int receive_buffer = 0) {
        close();
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        if (source_address) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            inet_pton(AF_INET, source_address, &source.sin_addr);
            if (bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) return false;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, server_address, &address.sin_addr);
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

    // Sends an upgrade request with `extra_headers` (each ending in CRLF) and returns the
    // answer's status line ("" when none came).
    std::string handshake(const std::string& extra_headers = std::string()) {
        const std::string request =
            "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
            extra_headers + "\r\n";
        if (!write(request)) return std::string();
        std::string answer;
        while (answer.find("\r\n\r\n") == std::string::npos) {
            char byte = 0;
            if (!wait_readable(3000) || recv(fd_, &byte, 1, 0) != 1) break;
            answer += byte;
        }
        return answer.substr(0, answer.find("\r\n"));
    }

    // One masked frame, FIN set unless `final_frame` is false; with `declared_length` the
    // header claims that many payload bytes whatever follows.
    static std::string frame(int opcode, const std::string& payload, bool final_frame = true,
                             uint64_t declared_length = UINT64_MAX) {
        const uint64_t length = declared_length == UINT64_MAX ? payload.size() : declared_length;
        std::string bytes(1, char((final_frame ? 0x80 : 0) | opcode));
        if (length <= 125) {
            bytes += char(0x80 | length);
        } else if (length <= 0xFFFF) {
            bytes += char(0x80 | 126);
            bytes += char(length >> 8);
            bytes += char(length);
        } else {
            bytes += char(0x80 | 127);
            for (int shift = 56; shift >= 0; shift -= 8) bytes += char(length >> shift);
        }
        const char key[4] = {0x11, 0x22, 0x33, 0x44};
        bytes.append(key, 4);
        for (size_t index = 0; index < payload.size(); ++index)
            bytes += char(payload[index] ^ key[index % 4]);
        return bytes;
    }

    bool write(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t count = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) return false;
            sent += size_t(count);
        }
        return true;
    }

    // The next frame from the server within `timeout_ms`.
    Frame read_frame(int timeout_ms = 5000) {
        Frame frame;
        uint8_t head[2];
        if (!read_exactly(head, 2, timeout_ms)) return frame;
        uint64_t length = head[1] & 0x7F;
        const int extra = length == 126 ? 2 : length == 127 ? 8 : 0;
        uint8_t bytes[8];
        if (extra > 0) {
            if (!read_exactly(bytes, size_t(extra), timeout_ms)) return frame;
            length = 0;
            for (int index = 0; index < extra; ++index) length = (length << 8) | bytes[index];
        }
        std::string payload(size_t(length), '\0');
        if (length > 0 &&
            !read_exactly(reinterpret_cast<uint8_t*>(&payload[0]), size_t(length), timeout_ms)) {
            return frame;
        }
        frame.opcode = head[0] & 0x0F;
        frame.payload = payload;
        return frame;
    }

    // The code of the close frame that ends what the server sends, skipping other frames;
    // -1 when the connection ended without one or nothing came within `timeout_ms`.
    int close_code(int timeout_ms = 10000) {
        while (true) {
            const Frame next = read_frame(timeout_ms);
            if (next.opcode == -1) return -1;
            if (next.opcode == 8) {
                return next.payload.size() >= 2
                           ? (uint8_t(next.payload[0]) << 8) | uint8_t(next.payload[1])
                           : 0;
            }
        }
    }

    // True once the server has ended the connection (seen without reading any data).
    bool wait_hung_up(int timeout_ms) {
        pollfd entry{fd_, POLLRDHUP, 0};
        return poll(&entry, 1, timeout_ms) == 1 &&
               (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
    }

    // What has arrived, up to 64 KiB; empty when the connection has ended.
    std::string read_some() {
        char chunk[65536];
        const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        return got > 0 ? std::string(chunk, size_t(got)) : std::string();
    }

    bool wait_readable(int timeout_ms) {
        pollfd entry{fd_, POLLIN, 0};
        return poll(&entry, 1, timeout_ms) == 1;
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    bool read_exactly(uint8_t* out, size_t count, int timeout_ms) {
        size_t have = 0;
        while (have < count) {
            if (!wait_readable(timeout_ms)) return false;
            const ssize_t got = recv(fd_, out + have, count - have, 0);
            if (got <= 0) return false;
            have += size_t(got);
        }
        return true;
    }

    int fd_ = -1;
};

}  // namespace countermate::testing
