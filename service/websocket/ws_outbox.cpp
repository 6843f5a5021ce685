#include "ws_outbox.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>

namespace {

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
    offset_ = 0;
    watching_ = false;
}

WsOutbox::Outcome WsOutbox::send(uint64_t connection, const uint8_t* header, size_t headerLength,
                                 const void* payload, size_t payloadLength, const Limits& limits) {
    std::lock_guard<std::mutex> hold(lock_);
    if (connection == 0 || connection != connection_ || fd_ < 0) return Outcome::Gone;
    const size_t frameLength = headerLength + payloadLength;
    size_t written = 0;
    if (queued_.empty()) {
        iovec parts[2] = {{const_cast<uint8_t*>(header), headerLength},
                          {const_cast<void*>(payload), payloadLength}};
        const ssize_t sent = writeNow(fd_, parts, payloadLength > 0 ? 2 : 1);
        if (sent < 0) return fail();
        written = size_t(sent);
        if (written == frameLength) return Outcome::Sent;
        lastProgress_ = Clock::now();
    } else {
        const size_t waiting = queued_.size() - offset_;
        if (waiting + frameLength > limits.perConnection ||
            limits.queuedTotal->load() + frameLength > limits.total) {
            return fail();
        }
    }
    // The rest of the frame joins the queue.
    const size_t before = queued_.size();
    if (written < headerLength) {
        queued_.append(reinterpret_cast<const char*>(header) + written, headerLength - written);
        queued_.append(static_cast<const char*>(payload), payloadLength);
    } else {
        queued_.append(static_cast<const char*>(payload) + (written - headerLength),
                       frameLength - written);
    }
    *limits.queuedTotal += queued_.size() - before;
    queuing_ = true;
    watchWritable(true);
    return Outcome::Sent;
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
    while (offset_ < queued_.size()) {
        iovec part{&queued_[offset_], queued_.size() - offset_};
        const ssize_t sent = writeNow(fd_, &part, 1);
        if (sent < 0) return false;
        if (sent == 0) return true;  // the socket is full again: wait for the next EPOLLOUT
        offset_ += size_t(sent);
        lastProgress_ = Clock::now();
    }
    dropQueue(limits);
    watchWritable(false);
    return true;
}

bool WsOutbox::stalled(Clock::time_point now, std::chrono::milliseconds deadline) {
    if (!queuing_) return false;
    std::lock_guard<std::mutex> hold(lock_);
    return offset_ < queued_.size() && now - lastProgress_ > deadline;
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
    *limits.queuedTotal -= queued_.size();
    std::string().swap(queued_);
    offset_ = 0;
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
