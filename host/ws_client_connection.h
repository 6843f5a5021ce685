// A blocking WebSocket client connection over the service's own WebSocket layer: used by
// countermate-call and by the end-to-end tests.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace countermate {

class WsClientConnection {
public:
    WsClientConnection() = default;
    ~WsClientConnection();
    WsClientConnection(const WsClientConnection&) = delete;
    WsClientConnection& operator=(const WsClientConnection&) = delete;

    // Connects to ws://host:port/path and completes the handshake within `timeout_ms`.
    bool open(const std::string& host, int port, const std::string& path, int timeout_ms);
    bool is_open() const { return socket_ > 0; }
    // Sends one masked text frame, as browsers do.
    bool send_text(const std::string& text);
    // Waits up to `timeout_ms` for the next text or binary message. False on time-out, on a
    // closed connection, or when `interrupted` (if given) becomes true.
    bool receive(std::string& message, int timeout_ms,
                 const std::atomic<bool>* interrupted = nullptr);
    // Sends a close frame and closes the socket.
    void close();

private:
    void make_room_for_next_frame();

    int socket_ = 0;
    std::vector<char> buffer_;
};

}  // namespace countermate
