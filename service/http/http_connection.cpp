// Name resolution, the connection, the request, and the bounded read stream over the socket.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "http_internal.h"

namespace countermate::http {
namespace {

constexpr int kIoTimeoutMs = HTTP_IO_TIMEOUT_SECONDS * 1000;

// Read-ahead of the socket stream: large enough that a fast server's bytes come in a few
// large reads rather than one per body piece.
constexpr size_t kStreamBufferSize = 128 * 1024;

// What the socket stream reads through; owned by the stream and freed when it closes.
struct SocketStream {
    http_t* info;
    char buffer[kStreamBufferSize];
};

// Reads for the socket stream. The socket is read without blocking and waited on with poll, so
// that every wait is bounded by the record's budget rather than only by SO_RCVTIMEO, which a
// server could renew forever by sending a byte now and then.
ssize_t readSocket(void* cookie, char* buffer, size_t size) {
    const http_t* info = static_cast<SocketStream*>(cookie)->info;
    for (;;) {
        if (waitBudgetMs(info) == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        const ssize_t received = recv(info->socket_fd, buffer, size, MSG_DONTWAIT);
        if (received >= 0) return received;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!waitReady(info, POLLIN)) return -1;
    }
}

// Frees the stream's state only: the socket belongs to the record and stays open.
int closeStream(void* cookie) {
    delete static_cast<SocketStream*>(cookie);
    return 0;
}

// Connects `socket_fd` without blocking beyond the record's budget.
bool connectWithin(const http_t* info, const sockaddr_in& address) {
    const int flags = fcntl(info->socket_fd, F_GETFL);
    if (flags < 0 || fcntl(info->socket_fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    if (connect(info->socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        if (errno != EINPROGRESS && errno != EINTR) return false;
        if (!waitReady(info, POLLOUT)) return false;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(info->socket_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return false;
        }
    }
    return fcntl(info->socket_fd, F_SETFL, flags) == 0;
}

}  // namespace

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int waitBudgetMs(const http_t* info) {
    if (info->deadline_ms == 0) return kIoTimeoutMs;
    const int64_t left = info->deadline_ms - monotonicMs();
    if (left <= 0) return 0;
    return left < kIoTimeoutMs ? int(left) : kIoTimeoutMs;
}

bool waitReady(const http_t* info, short events) {
    for (;;) {
        const int budget = waitBudgetMs(info);
        if (budget == 0) break;
        pollfd entry{info->socket_fd, events, 0};
        const int ready = poll(&entry, 1, budget);
        if (ready > 0) return true;
        if (ready == 0) break;
        if (errno != EINTR) return false;
    }
    errno = ETIMEDOUT;
    return false;
}

FILE* openSocketStream(http_t* info) {
    SocketStream* state = new (std::nothrow) SocketStream;
    if (state == nullptr) return nullptr;
    state->info = info;
    cookie_io_functions_t functions{};
    functions.read = readSocket;
    functions.close = closeStream;
    FILE* stream = fopencookie(state, "r", functions);
    if (stream == nullptr) {
        delete state;
        return nullptr;
    }
    setvbuf(stream, state->buffer, _IOFBF, sizeof state->buffer);
    return stream;
}

void closeConnection(http_t* info) {
    if (info->stream != nullptr) fclose(info->stream);
    info->stream = nullptr;
    if (info->socket_fd >= 0) close(info->socket_fd);
    info->socket_fd = -1;
}

}  // namespace countermate::http

using namespace countermate::http;

extern "C" {

int dns(const char* host, struct in_addr* address) {
    if (host == nullptr || address == nullptr || host[0] == '\0') return -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return -1;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}

int set_socket_option(int socket_fd) {
    timeval timeout{HTTP_IO_TIMEOUT_SECONDS, 0};
    if (setsockopt(socket_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) return -1;
    if (setsockopt(socket_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) return -1;
    return 0;
}

int connect_server(http_t* info) {
    if (info == nullptr) return -1;
    closeConnection(info);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(info->port));
    if (info->port < 1 || info->port > 65534 || dns(info->host, &address.sin_addr) != 0) return -1;
    info->socket_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (info->socket_fd < 0) return -1;
    if (set_socket_option(info->socket_fd) != 0 || !connectWithin(info, address) ||
        (info->stream = openSocketStream(info)) == nullptr) {
        closeConnection(info);
        return -1;
    }
    return 0;
}

int send_request(http_t* info) {
    if (info == nullptr || info->socket_fd < 0) return -1;
    const int length =
        snprintf(info->buffer, sizeof info->buffer,
                 "GET %s HTTP/1.1\r\n"
                 "Accept: */*\r\n"
                 "User-Agent: Mozilla/5.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"
                 "Host: %s\r\n"
                 "Connection: Close\r\n"
                 "\r\n",
                 info->path, info->host);
    if (length < 0 || size_t(length) >= sizeof info->buffer) return -1;
    // MSG_NOSIGNAL: a server that has gone must fail the send, not raise SIGPIPE in the host.
    for (int sent = 0; sent < length;) {
        const ssize_t count = send(info->socket_fd, info->buffer + sent, size_t(length - sent),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            sent += int(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitReady(info, POLLOUT)) return -1;
        } else {
            return -1;
        }
    }
    return 0;
}

void clean_up(http_t* info) {
    if (info == nullptr) return;
    closeConnection(info);
    if (info->output_file != nullptr) fclose(info->output_file);
    info->output_file = nullptr;
    free(info);
}

}  // extern "C"
