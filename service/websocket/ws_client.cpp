// The client side: name resolution and connecting to a WebSocket server.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "ws_codec.h"
#include "ws_log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kAnswerLimit = 512;
constexpr size_t kAddressCapacity = INET_ADDRSTRLEN;

int elapsedMs(Clock::time_point since) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// State shared with the resolving thread, which may outlive a caller that stopped waiting.
struct Resolution {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::string address;
};

void resolve(std::shared_ptr<Resolution> resolution, std::string host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string address;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
        char text[kAddressCapacity];
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text)) address = text;
        freeaddrinfo(found);
    }
    std::lock_guard<std::mutex> hold(resolution->lock);
    resolution->address = address;
    resolution->finished = true;
    resolution->done.notify_all();
}

// Connects a non-blocking TCP socket to ip:port, retrying every millisecond until `timeoutMs`.
// Returns the socket, or the negative number of attempts.
int connectWithin(const char* ip, int port, int timeoutMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    const Clock::time_point start = Clock::now();
    int attempts = 0;
    while (true) {
        ++attempts;
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            WS_ERR("socket error\r\n");
            return -1;
        }
        int result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (result < 0 && errno == EINPROGRESS) {
            pollfd writable{fd, POLLOUT, 0};
            const int remaining = timeoutMs - elapsedMs(start);
            int error = ETIMEDOUT;
            socklen_t errorLength = sizeof error;
            if (remaining > 0 && poll(&writable, 1, remaining) == 1) {
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength);
            }
            result = error == 0 ? 0 : -1;
        }
        if (result == 0) return fd;
        close(fd);
        if (elapsedMs(start) >= timeoutMs) break;
        ws_delayms(1);
    }
    WS_ERR("connect to %s:%d timeout(%dms)\r\n", ip, port, timeoutMs);
    return -attempts;
}

void dumpUnknownAnswer(const std::string& answer) {
    fprintf(stderr, "recv: len %d / unknown context\r\n%s\r\n", int(answer.size()), answer.c_str());
    for (unsigned char byte : answer) fprintf(stderr, "%02X ", byte);
    fprintf(stderr, "\r\n");
}

// Reads the server's answer up to its blank line, one byte at a time so that a frame sent right
// after it stays queued. Returns false when `deadline` passes or the connection ends.
bool readAnswer(int fd, Clock::time_point deadline, std::string* answer) {
    answer->clear();
    while (answer->size() < kAnswerLimit) {
        char byte;
        const ssize_t got = recv(fd, &byte, 1, 0);
        if (got == 1) {
            *answer += byte;
            if (answer->size() >= 4 && answer->compare(answer->size() - 4, 4, "\r\n\r\n") == 0) {
                return true;
            }
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) return false;
        pollfd readable{fd, POLLIN, 0};
        poll(&readable, 1, int(remaining));
    }
    return true;
}

// Whether `answer` accepts `key`: a status line and the Sec-WebSocket-Accept derived from it.
bool acceptsKey(const std::string& answer, const char* key) {
    static const char kAcceptHeader[] = "Sec-WebSocket-Accept: ";
    const size_t found = answer.find(kAcceptHeader);
    if (found == std::string::npos) return false;
    const size_t begin = found + strlen(kAcceptHeader);
    const size_t end = answer.find_first_of("\r\n", begin);
    const std::string accept = answer.substr(begin, end - begin);
    return ws_matchShakeKey(key, unsigned(strlen(key)), accept.data(), unsigned(accept.size())) ==
           0;
}

}  // namespace

extern "C" {

int ws_getIpByHostName(const char* host, char* ip, int timeoutMs) {
    if (!host || !ip) return -1;
    const Clock::time_point start = Clock::now();
    auto resolution = std::make_shared<Resolution>();
    try {
        std::thread(resolve, resolution, std::string(host)).detach();
    } catch (const std::system_error&) {
        return -1;
    }
    std::unique_lock<std::mutex> hold(resolution->lock);
    if (!resolution->done.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                   [&] { return resolution->finished; }) ||
        resolution->address.empty()) {
        return -1;
    }
    snprintf(ip, kAddressCapacity, "%s", resolution->address.c_str());
    return elapsedMs(start);
}

int ws_connectToServer(const char* host, int port, const char* path, int timeoutMs) {
    if (!host) return -1;
    if (timeoutMs <= 0) timeoutMs = 1000;
    if (!path) path = "/";
    char ip[kAddressCapacity];
    in_addr parsed;
    if (inet_pton(AF_INET, host, &parsed) == 1) {
        snprintf(ip, sizeof ip, "%s", host);
    } else if (ws_getIpByHostName(host, ip, 1000) < 0 || strlen(ip) <= 6) {
        return -1;
    }
    const int fd = connectWithin(ip, port, timeoutMs);
    if (fd <= 0) return fd;

    char key[32];
    ws_buildShakeKey(key);
    char request[1024];
    const int requestLength =
        snprintf(request, sizeof request,
                 "GET %s HTTP/1.1\r\nConnection: Upgrade\r\nHost: %s:%d\r\n"
                 "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\nUpgrade: websocket\r\n\r\n",
                 path, host, port, key);
    if (requestLength <= 0 || size_t(requestLength) >= sizeof request) {
        close(fd);
        return -1;
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(2 * timeoutMs);
    ws_send(fd, request, requestLength, false, WsData_None);
    std::string answer;
    while (readAnswer(fd, deadline, &answer)) {
        if (answer.compare(0, 4, "HTTP") != 0) {
            dumpUnknownAnswer(answer);
            continue;
        }
        if (acceptsKey(answer, key)) return fd;
        ws_send(fd, request, requestLength, false, WsData_None);
    }
    close(fd);
    const int waited = elapsedMs(start);
    return waited > 0 ? -waited : -1;
}

}  // extern "C"
