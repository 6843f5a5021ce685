// A server under test with callbacks that record what they see, and plain TCP clients.
#pragma once

#include "loopback_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ws_api.h"

// Everything the callbacks saw, shared through the server's private pointer.
struct WsRecorder {
    struct Message {
        int length;
        Ws_DataType type;
        std::string text;
    };
    struct Exit {
        int index;
        Ws_ExitType reason;
        std::chrono::steady_clock::time_point at;
    };

    std::mutex lock;
    std::condition_variable changed;
    int logins = 0;
    std::vector<Message> messages;
    std::vector<Exit> exits;
    bool echo = true;                        // send every message back with its type
    const char* greeting = nullptr;          // sent by onLogin when set
    std::chrono::milliseconds exitDelay{0};  // onExit takes this long

    // Waits up to `timeout` for `condition` (checked under the lock).
    bool waitFor(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, timeout, condition);
    }

    static WsRecorder* of(WsClient* client) { return static_cast<WsRecorder*>(client->priv); }

    static void onLogin(WsClient* client) {
        WsRecorder* recorder = of(client);
        if (recorder->greeting) {
            ws_send(client->fd, recorder->greeting, int(strlen(recorder->greeting)), false,
                    WsData_Text);
        }
        std::lock_guard<std::mutex> hold(recorder->lock);
        ++recorder->logins;
        recorder->changed.notify_all();
    }

    static void onMessage(WsClient* client, char* data, int length, Ws_DataType type) {
        WsRecorder* recorder = of(client);
        if (recorder->echo && length >= 1 && (type == WsData_Text || type == WsData_Binary)) {
            ws_send(client->fd, data, length, false, type);
        }
        std::lock_guard<std::mutex> hold(recorder->lock);
        recorder->messages.push_back(
            {length, type, length > 0 ? std::string(data, size_t(length)) : std::string()});
        recorder->changed.notify_all();
    }

    static void onExit(WsClient* client, Ws_ExitType reason) {
        WsRecorder* recorder = of(client);
        std::this_thread::sleep_for(recorder->exitDelay);
        std::lock_guard<std::mutex> hold(recorder->lock);
        recorder->exits.push_back({client->index, reason, std::chrono::steady_clock::now()});
        recorder->changed.notify_all();
    }
};

// Polls `condition` every 10 ms for up to `timeout`, for state that no callback reports.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A TCP port that nothing listens on right now.
inline int freePort() { return countermate::testing::free_loopback_port(); }

// A connected TCP socket to the loopback port, or -1.
inline int connectTcp(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline void sendText(int fd, const std::string& text) {
    ASSERT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
}

// What arrives on `fd` until `end` is seen, the peer closes, or a second passes in silence.
inline std::string readUntil(int fd, const std::string& end) {
    std::string received;
    char chunk[4096];
    while (received.find(end) == std::string::npos) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 1000) != 1) break;
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        received.append(chunk, size_t(got));
    }
    return received;
}

inline const char* kUpgradeRequest =
    "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

// A client that completed the handshake, or -1.
inline int loggedInClient(int port) {
    const int fd = connectTcp(port);
    if (fd < 0) return -1;
    send(fd, kUpgradeRequest, strlen(kUpgradeRequest), MSG_NOSIGNAL);
    if (readUntil(fd, "\r\n\r\n").find("101 Switching Protocols") == std::string::npos) {
        close(fd);
        return -1;
    }
    return fd;
}

// A server with a recorder, released (and so every callback finished) when the fixture ends.
class WsServerFixture : public testing::Test {
protected:
    void startServer(const char* path = nullptr) {
        port = freePort();
        server = ws_server_create(port, path, &recorder, WsRecorder::onLogin, WsRecorder::onMessage,
                                  WsRecorder::onExit);
        ASSERT_NE(server, nullptr);
        for (int attempt = 0; attempt < 200; ++attempt) {
            const int probe = connectTcp(port);
            if (probe >= 0) {
                close(probe);
                // The probe leaves as a client that ended without a word.
                ASSERT_TRUE(recorder.waitFor([&] { return recorder.exits.size() == 1; }));
                std::lock_guard<std::mutex> hold(recorder.lock);
                recorder.exits.clear();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "the server did not start listening";
    }
    void TearDown() override { ws_server_release(&server); }

    WsRecorder recorder;
    WsServer* server = nullptr;
    int port = 0;
};
