// A blocking WebSocket client connection over the service's own WebSocket layer: used by
// countermate-call and by the end-to-end tests.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace countermate {

class WsClientConnection {
public:
    // What a refused TCP connection means to the caller: a service that is still starting
    // (try again until the time is up), or a service that is not there (give up at once).
    enum class WhenRefused { KeepTrying, GiveUp };

    // Why the last open() failed.
    enum class OpenFailure {
        None,
        Unresolved,   // the host name has no IPv4 address
        Refused,      // nothing listens on the port
        Unreachable,  // no TCP connection within the time, or a network error
        NoHandshake,  // connected, but no answer to the handshake within the time
        Rejected,     // answered the handshake with something other than an accepting 101
    };

    WsClientConnection() = default;
    ~WsClientConnection();
    WsClientConnection(const WsClientConnection&) = delete;
    WsClientConnection& operator=(const WsClientConnection&) = delete;

    // Connects to ws://host:port/path: the TCP connection within `timeout_ms` (refused attempts
    // are repeated until then unless `when_refused` is GiveUp), then the handshake within twice
    // `timeout_ms`. On failure, open_failure() and open_failure_detail() tell why.
    bool open(const std::string& host, int port, const std::string& path, int timeout_ms,
              WhenRefused when_refused = WhenRefused::KeepTrying);
    bool is_open() const { return socket_ > 0; }
    OpenFailure open_failure() const { return open_failure_; }
    // A line for people: the system's error text, or the answer's status line when rejected.
    const std::string& open_failure_detail() const { return open_failure_detail_; }

    // Sends one masked text frame, as browsers do.
    bool send_text(const std::string& text);
    // Waits up to `timeout_ms` for the next text or binary message. False on time-out, on a
    // closed connection (closed_by_peer() is then true), or when `interrupted` (if given)
    // becomes true.
    bool receive(std::string& message, int timeout_ms,
                 const std::atomic<bool>* interrupted = nullptr);
    bool closed_by_peer() const { return closed_by_peer_; }
    // Sends a close frame and closes the socket.
    void close();

private:
    int connect_within(const char* ip, int port, int timeout_ms, WhenRefused when_refused);
    bool complete_handshake(int socket, const std::string& host, int port, const std::string& path,
                            int timeout_ms);
    bool fail(OpenFailure failure, std::string detail);
    void make_room_for_next_frame();

    int socket_ = 0;
    std::vector<char> buffer_;
    OpenFailure open_failure_ = OpenFailure::None;
    std::string open_failure_detail_;
    bool closed_by_peer_ = false;
};

}  // namespace countermate
