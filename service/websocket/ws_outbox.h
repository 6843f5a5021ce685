// The send side of one client connection. Frames are written without ever blocking: what the
// socket does not take at once waits in the connection's queue and is written by the client's
// group thread when epoll reports the socket writable. So a client that stops reading holds up
// nobody: not the thread that replies to it, not the other clients of its group.
#pragma once

#include <sys/epoll.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class WsOutbox {
public:
    using Clock = std::chrono::steady_clock;

    enum class Outcome {
        Sent,     // written to the socket, or queued behind earlier frames
        Gone,     // the connection is not (any more) the one asked for: nothing was sent
        Failed,   // the socket failed or the queue is over its limit: the client must go
        Dropped,  // a droppable frame found earlier output still waiting: nothing was sent
    };

    // Limits shared by every outbox of a server.
    struct Limits {
        size_t perConnection;  // queued bytes one connection may hold beyond one frame
        size_t total;          // queued bytes all connections may hold together
        std::atomic<size_t>* queuedTotal;
    };

    // A frame's payload. When `owner` holds it, the queue may take the string over instead of
    // copying what the socket did not take (a large reply is then held once, not twice).
    struct Payload {
        const char* data;
        size_t length;
        std::string* owner = nullptr;
    };

    // Binds the outbox to a new connection: its socket, identity, epoll set and event data.
    void open(int fd, uint64_t connection, int epollFd, void* eventData);

    // Sends one frame (`header` then `payload`) if `connection` is still the one bound here.
    // A frame is accepted when the queue is empty, whatever its size, or when it fits the limits.
    // A `droppable` frame (a stream's picture) is only sent when nothing is queued: behind a
    // client that is not keeping up it is dropped, so a stream never piles up output.
    Outcome send(uint64_t connection, const uint8_t* header, size_t headerLength,
                 const Payload& payload, const Limits& limits, bool droppable = false);

    // Writes what is queued (on the group thread, when the socket is writable). False when the
    // socket failed.
    bool flush(const Limits& limits);

    // True when queued bytes have not moved for longer than `deadline`.
    bool stalled(Clock::time_point now, std::chrono::milliseconds deadline);

    // Unbinds the connection and gives back its queue. Returns its socket, which no sender
    // touches any more; the caller closes it.
    int shut(const Limits& limits);

private:
    Outcome fail();
    void enqueue(std::string chunk, const Limits& limits);
    bool writeQueued(const Limits& limits);
    void watchWritable(bool watch);
    void dropQueue(const Limits& limits);

    std::mutex lock_;  // guards everything below
    int fd_ = -1;
    uint64_t connection_ = 0;
    int epollFd_ = -1;
    void* eventData_ = nullptr;
    std::deque<std::string> queued_;  // frames or their tails, in order
    size_t frontOffset_ = 0;          // bytes of queued_.front() already written
    size_t waiting_ = 0;              // bytes queued and not yet written
    Clock::time_point lastProgress_{};
    bool watching_ = false;  // EPOLLOUT is registered
    // Whether anything is queued, readable without the lock: the group's sweep looks at every
    // client twice a second and takes the lock only of those with output waiting.
    std::atomic<bool> queuing_{false};
};
