#include "ws_outbox.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>

namespace {

// Chunks handed to one write.
constexpr int kChunksPerWrite = 16;

// Writes what the socket takes now. Returns the bytes written, or -1 when the socket failed.
ssize_t writeNow(int fd, iovec* parts, int partCount) {
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = size_t(partCount);
    while (true) {
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return sent;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

}  // namespace

void WsOutbox::open(int fd, uint64_t connection, int epollFd, void* eventData) {
    std::lock_guard<std::mutex> hold(lock_);
    fd_ = fd;
    connection_ = connection;
    epollFd_ = epollFd;
    eventData_ = eventData;
    queued_.clear();
    frontOffset_ = waiting_ = 0;
    watching_ = false;
}

WsOutbox::Outcome WsOutbox::send(uint64_t connection, const uint8_t* header, size_t headerLength,
                                 const Payload& payload, const Limits& limits, bool droppable) {
    std::lock_guard<std::mutex> hold(lock_);
    if (connection == 0 || connection != connection_ || fd_ < 0) return Outcome::Gone;
    if (droppable && !queued_.empty()) return Outcome::Dropped;
    const size_t frameLength = headerLength + payload.length;
    size_t written = 0;
    if (queued_.empty()) {
        iovec parts[2] = {{const_cast<uint8_t*>(header), headerLength},
                          {const_cast<char*>(payload.data), payload.length}};
        const ssize_t sent = writeNow(fd_, parts, payload.length > 0 ? 2 : 1);
        if (sent < 0) return fail();
        written = size_t(sent);
        if (written == frameLength) return Outcome::Sent;
        lastProgress_ = Clock::now();
    } else if (waiting_ + frameLength > limits.perConnection ||
               limits.queuedTotal->load() + frameLength > limits.total) {
        return fail();
    }
    // The rest of the frame joins the queue.
    if (written < headerLength) {
        enqueue(
            std::string(reinterpret_cast<const char*>(header) + written, headerLength - written),
            limits);
        written = headerLength;
    }
    const size_t payloadWritten = written - headerLength;
    const bool ownedWhole = payload.owner && payload.owner->data() == payload.data &&
                            payload.owner->size() == payload.length;
    if (ownedWhole && (queued_.empty() || payloadWritten == 0)) {
        // Taken over: a part already written is skipped as the front chunk's offset.
        const bool front = queued_.empty();
        enqueue(std::move(*payload.owner), limits);
        if (front) {
            frontOffset_ = payloadWritten;
            waiting_ -= payloadWritten;
            *limits.queuedTotal -= payloadWritten;
        }
    } else if (payloadWritten < payload.length) {
        enqueue(std::string(payload.data + payloadWritten, payload.length - payloadWritten),
                limits);
    }
    watchWritable(true);
    return Outcome::Sent;
}

void WsOutbox::enqueue(std::string chunk, const Limits& limits) {
    if (chunk.empty()) return;
    waiting_ += chunk.size();
    *limits.queuedTotal += chunk.size();
    queued_.push_back(std::move(chunk));
    queuing_ = true;
}

// Called under lock_. Shutting the socket down wakes its group thread at once (epoll reports the
// hang-up), which then removes the client.
WsOutbox::Outcome WsOutbox::fail() {
    shutdown(fd_, SHUT_RDWR);
    return Outcome::Failed;
}

bool WsOutbox::flush(const Limits& limits) {
    std::lock_guard<std::mutex> hold(lock_);
    return writeQueued(limits);
}

bool WsOutbox::writeQueued(const Limits& limits) {
    if (fd_ < 0) return true;
    while (!queued_.empty()) {
        iovec parts[kChunksPerWrite];
        int count = 0;
        for (auto chunk = queued_.begin(); chunk != queued_.end() && count < kChunksPerWrite;
             ++chunk) {
            const size_t skip = count == 0 ? frontOffset_ : 0;
            parts[count++] = {&(*chunk)[skip], chunk->size() - skip};
        }
        const ssize_t sent = writeNow(fd_, parts, count);
        if (sent < 0) return false;
        if (sent == 0) return true;  // the socket is full again: wait for the next EPOLLOUT
        lastProgress_ = Clock::now();
        size_t advance = size_t(sent);
        waiting_ -= advance;
        *limits.queuedTotal -= advance;
        while (advance > 0) {
            const size_t left = queued_.front().size() - frontOffset_;
            if (advance < left) {
                frontOffset_ += advance;
                break;
            }
            advance -= left;
            queued_.pop_front();
            frontOffset_ = 0;
        }
    }
    queuing_ = false;
    watchWritable(false);
    return true;
}

bool WsOutbox::stalled(Clock::time_point now, std::chrono::milliseconds deadline) {
    if (!queuing_) return false;
    std::lock_guard<std::mutex> hold(lock_);
    return waiting_ > 0 && now - lastProgress_ > deadline;
}

int WsOutbox::shut(const Limits& limits) {
    std::lock_guard<std::mutex> hold(lock_);
    const int fd = fd_;
    dropQueue(limits);
    fd_ = -1;
    connection_ = 0;
    watching_ = false;
    return fd;
}

void WsOutbox::dropQueue(const Limits& limits) {
    queuing_ = false;
    *limits.queuedTotal -= waiting_;
    waiting_ = 0;
    std::deque<std::string>().swap(queued_);
    frontOffset_ = 0;
}

// Called under lock_, so the registration always matches the queue: a sender that queues and
// the group thread that empties the queue cannot leave EPOLLOUT off with bytes waiting.
void WsOutbox::watchWritable(bool watch) {
    if (watching_ == watch) return;
    epoll_event event{};
    event.events = watch ? uint32_t(EPOLLIN | EPOLLOUT) : uint32_t(EPOLLIN);
    event.data.ptr = eventData_;
    if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd_, &event) == 0) watching_ = watch;
}
