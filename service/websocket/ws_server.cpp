// The server: a listening thread, up to ten client-group threads with an epoll set each, and a
// short thread for every departing client.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_map>
#include <vector>

#include "ws_codec.h"
#include "ws_connection.h"
#include "ws_io.h"
#include "ws_log.h"
#include "ws_message_reader.h"
#include "ws_outbox.h"
#include "ws_server_wait.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 500;
constexpr int kBindAttempts = 1000;
constexpr int kLoginTimeMs = 5000;
// What one read takes when nothing says more is coming: a request or a handshake fits, and an
// idle connection's buffer stays small (it is made anew for each message).
constexpr size_t kReadChunk = 16 * 1024;
// The most one read takes while a long frame arrives.
constexpr size_t kLargestRead = 1024 * 1024;
// A handshake request longer than this without its blank line is not one.
constexpr size_t kRequestLimit = 64 * 1024;
// Connection identities carry their slot in the low bits.
constexpr int kSlotBits = 13;
static_assert(WS_MAX_CLIENTS <= (1 << kSlotBits), "a slot must fit its bits of the identity");
// A client whose input held more than this gives memory back to the system when it goes.
constexpr size_t kTrimAfterBytes = 1024 * 1024;
// Input still queued on a departing socket that is read and dropped, so that closing it ends
// the connection with FIN rather than RST (an RST could destroy the close frame in flight).
constexpr size_t kDrainOnCloseBytes = 64 * 1024;
constexpr uint16_t kWsClosePolicy = 1008;

const char kForbiddenAnswer[] =
    "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

}  // namespace

// The server's own record of one client slot, beside the public WsClient.
struct WsConnectionState {
    WsMessageReader reader;  // group thread only
    Clock::time_point acceptedAt;
    Clock::time_point lastInput;
    size_t accountedInput = 0;            // this client's share of WsServerState::inputHeld
    std::atomic<uint64_t> id{0};          // 0 while the slot is free
    std::atomic<bool> sendFailed{false};  // a sender found the client unable to take its output
    WsOutbox outbox;
};

// What the server keeps beyond its public record.
struct WsServerState {
    std::mutex threadsLock;
    std::condition_variable threadsEnded;
    int liveThreads = 0;  // listener, groups and departures still running
    int wakeFd = -1;      // made readable by release, to wake every epoll wait at once
    WsServerOptions options;
    std::atomic<size_t> inputHeld{0};
    std::atomic<size_t> outputQueued{0};
    std::atomic<int> loggedIn{0};  // clients past their handshake
    std::atomic<uint64_t> protocolErrors{0}, messagesTooBig{0}, unfinishedMessages{0},
        stalledClients{0}, originsRefused{0}, addressLimitRefusals{0};
    uint64_t connectionsMade = 0;                  // guarded by WsServer::lock
    std::unordered_map<uint32_t, int> perAddress;  // guarded by WsServer::lock
    WsConnectionState connections[WS_MAX_CLIENTS];

    WsOutbox::Limits outputLimits() {
        return {options.outputLimitPerClient, options.outputBudget, &outputQueued};
    }
};

namespace {

size_t slotOf(const WsClient* client) { return size_t(client - client->server->client); }

WsConnectionState& stateOf(WsClient* client) {
    return client->server->state->connections[slotOf(client)];
}

uint32_t addressOf(const WsClient* client) {
    uint32_t address;
    memcpy(&address, client->ip, sizeof address);
    return address;
}

// Starts `routine` on a detached thread counted in the server's live threads.
bool startThread(WsServer* server, void* (*routine)(void*), void* argument) {
    {
        std::lock_guard<std::mutex> hold(server->state->threadsLock);
        ++server->state->liveThreads;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, routine, argument);
    pthread_attr_destroy(&attributes);
    if (error == 0) return true;
    WSS_ERR("pthread_create failed !! %s\r\n", strerror(error));
    std::lock_guard<std::mutex> hold(server->state->threadsLock);
    --server->state->liveThreads;
    server->state->threadsEnded.notify_all();
    return false;
}

// The last thing a counted thread does: after it, the server may be freed.
void threadEnded(WsServer* server) {
    std::lock_guard<std::mutex> hold(server->state->threadsLock);
    --server->state->liveThreads;
    server->state->threadsEnded.notify_all();
}

void clearClient(WsClient* client) {
    client->fd = 0;
    memset(client->ip, 0, sizeof client->ip);
    client->port = 0;
    client->exitType = WsExit_None;
    client->isLogin = false;
    client->isLeaving = false;
    client->recvBytes = 0;
    client->index = 0;
    client->loginTimer = 0;
    client->priv = nullptr;
    client->group.store(nullptr, std::memory_order_release);
}

void setExitReason(WsClient* client, Ws_ExitType reason) {
    if (client->exitType == WsExit_None) client->exitType = reason;
}

void* departureThread(void* argument) {
    auto* client = static_cast<WsClient*>(argument);
    WsServer* server = client->server;
    if (server->onExit) server->onExit(client, client->exitType);
    {
        std::lock_guard<std::mutex> hold(server->lock);
        auto found = server->state->perAddress.find(addressOf(client));
        if (found != server->state->perAddress.end() && --found->second <= 0) {
            server->state->perAddress.erase(found);
        }
        server->state->connections[slotOf(client)].id = 0;
        clearClient(client);
        client->server = nullptr;
    }
    threadEnded(server);
    return nullptr;
}

// Gives back what the client's input held.
void releaseInput(WsClient* client) {
    WsConnectionState& connection = stateOf(client);
    const bool large = connection.reader.heldBytes() > kTrimAfterBytes;
    client->server->state->inputHeld -= connection.accountedInput;
    connection.accountedInput = 0;
    connection.reader.reset();
    // The allocator keeps freed large blocks for the process; a burst of big messages would
    // otherwise leave the host that much larger for the rest of the day.
    if (large) malloc_trim(0);
}

// Ends the connection with FIN after what was already written; a client that does not read
// (`abort`) gets a reset instead, since a FIN would wait behind the data it never takes and keep
// that data in the kernel for as long.
void closeSocket(int fd, bool abort) {
    if (abort) {
        const linger immediately{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
        close(fd);
        return;
    }
    shutdown(fd, SHUT_WR);
    uint8_t scratch[4096];
    for (size_t drained = 0; drained < kDrainOnCloseBytes;) {
        const ssize_t got = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (got <= 0) break;
        drained += size_t(got);
    }
    close(fd);
}

// Closes the client's socket and reports its departure on a thread of its own.
void removeClient(WsClient* client) {
    if (client->isLeaving) return;
    client->isLeaving = true;
    WsThread* group = client->group.load(std::memory_order_relaxed);
    WsServer* server = client->server;
    if (client->exitType == WsExit_BySend) ++server->state->stalledClients;
    if (client->isLogin) --server->state->loggedIn;
    // After shut() no sender touches the socket, so its number may be reused at once.
    stateOf(client).outbox.shut(server->state->outputLimits());
    epoll_ctl(group->fdEpoll, EPOLL_CTL_DEL, client->fd, nullptr);
    closeSocket(client->fd, client->exitType == WsExit_BySend);
    releaseInput(client);
    --group->clientCount;
    --server->clientCount;
    if (!startThread(server, departureThread, client)) {
        // Without a thread the departure runs here, counted like a thread so that it ends the
        // same way.
        {
            std::lock_guard<std::mutex> hold(server->state->threadsLock);
            ++server->state->liveThreads;
        }
        departureThread(client);
    }
}

// Sends a close frame with `code` and marks the client for removal.
void closeWith(WsClient* client, uint16_t code, const char* why) {
    WSS_ERR("closing fd/%03d with %d: %s\r\n", client->fd, int(code), why);
    WsServerState* state = client->server->state;
    ++(code == kWsCloseProtocolError   ? state->protocolErrors
       : code == kWsCloseMessageTooBig ? state->messagesTooBig
                                       : state->unfinishedMessages);
    const uint8_t payload[2] = {uint8_t(code >> 8), uint8_t(code)};
    ws_send_to(client->server, stateOf(client).id, WsData_Close, payload, sizeof payload);
    setExitReason(client, WsExit_ByServer);
}

// The group's clients to remove: all of them when forced, else those with an exit reason or
// without a handshake after the login time.
std::vector<WsClient*> sweep(WsThread* group, bool force) {
    WsServer* server = group->server;
    const size_t first = size_t(group - server->thread) * WS_GROUP_SIZE;
    const Clock::time_point now = Clock::now();
    std::vector<WsClient*> leaving;
    std::lock_guard<std::mutex> hold(server->lock);
    for (size_t slot = first; slot < first + WS_GROUP_SIZE; ++slot) {
        WsClient* client = &server->client[slot];
        if (client->group.load(std::memory_order_relaxed) != group || client->fd == 0 ||
            client->isLeaving) {
            continue;
        }
        WsConnectionState& connection = server->state->connections[slot];
        if (!client->isLogin && client->exitType == WsExit_None) {
            client->loginTimer = int(
                std::chrono::duration_cast<std::chrono::milliseconds>(now - connection.acceptedAt)
                    .count());
            if (client->loginTimer > kLoginTimeMs) client->exitType = WsExit_LoginTimeout;
        }
        if (client->exitType == WsExit_None) {
            if (connection.sendFailed ||
                connection.outbox.stalled(now, server->state->options.sendDeadline)) {
                client->exitType = WsExit_BySend;
            } else if (client->isLogin && connection.reader.holdsPartialMessage() &&
                       now - connection.lastInput > server->state->options.silenceLimit) {
                closeWith(client, kWsClosePolicy, "unfinished message, client silent");
            }
        }
        if (force || client->exitType != WsExit_None) leaving.push_back(client);
    }
    return leaving;
}

void removeAll(const std::vector<WsClient*>& clients) {
    for (WsClient* client : clients) removeClient(client);
}

// False (after answering 403) when the server restricts origins and the request's is not one of
// them. A request without Origin comes from a program, not a browser page, and is served.
bool originAccepted(WsClient* client, std::string_view request) {
    const WsServerOptions& options = client->server->state->options;
    std::string_view origin;
    if (!options.restrictOrigins || !ws_findHeader(request, "Origin", &origin) ||
        ws_originAllowed(options.allowedOrigins, origin)) {
        return true;
    }
    WSS_ERR("origin refused: %.*s\r\n", int(std::min<size_t>(origin.size(), 200)), origin.data());
    ++client->server->state->originsRefused;
    send(client->fd, kForbiddenAnswer, sizeof kForbiddenAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    return false;
}

// Answers a plain HTTP GET (no WebSocket key) when the server has a handler for it, then ends
// the connection. False when the request is not one.
bool answerPlainHttp(WsClient* client, std::string_view request) {
    const auto& answer = client->server->state->options.onHttpRequest;
    if (!answer || request.compare(0, 4, "GET ") != 0 || ws_hasKeyHeader(request)) return false;
    const std::string response = answer(request);
    ws_send_to(client->server, stateOf(client).id, WsData_None, response.data(), response.size());
    setExitReason(client, WsExit_ByServer);
    return true;
}

// Answers complete handshake requests at the front of the client's bytes. True once logged in.
bool answerHandshake(WsClient* client, WsMessageReader& reader) {
    WsServer* server = client->server;
    while (true) {
        const std::string_view pending = reader.pending();
        const size_t blankLine = pending.find("\r\n\r\n");
        if (blankLine == std::string_view::npos && pending.size() <= kRequestLimit) return false;
        const std::string_view request =
            pending.substr(0, blankLine == std::string_view::npos ? pending.size() : blankLine + 4);
        char* text = const_cast<char*>(request.data());
        if (blankLine != std::string_view::npos && answerPlainHttp(client, request)) return false;
        if (request.compare(0, 3, "GET") == 0 && ws_hasKeyHeader(request)) {
            const bool accepted = originAccepted(client, request);
            const int sent =
                accepted ? ws_responseClient(client->fd, text, int(request.size()), server->path)
                         : -1;
            reader.consume(request.size());
            if (sent < 1) {
                setExitReason(client, WsExit_LoginFailed);
                return false;
            }
            client->isLogin = true;
            ++server->state->loggedIn;
            if (server->onLogin) server->onLogin(client);
            return true;
        }
        if (server->onMessage) server->onMessage(client, text, -int(request.size()), WsData_None);
        reader.consume(request.size());
    }
}

// Hands every complete message to onMessage, answering pings and close frames on the way. The
// first thing the reader cannot accept closes the connection with the reader's code, after
// everything before it was delivered.
void deliverMessages(WsClient* client, WsMessageReader& reader) {
    WsServer* server = client->server;
    const uint64_t connection = stateOf(client).id;
    WsReadItem item;
    while (client->exitType == WsExit_None && reader.next(&item)) {
        if (item.type == WsData_Ping && item.result == 0) {
            ws_send_to(server, connection, WsData_Pong, item.data, item.length);
        }
        if (item.type == WsData_Close && item.result == 0) {
            // The close frame goes back with the status code the client gave.
            ws_send_to(server, connection, WsData_Close, item.data, item.length >= 2 ? 2 : 0);
        }
        if (server->onMessage) server->onMessage(client, item.data, item.result, item.type);
        if (item.type == WsData_Close && item.result == 0) client->exitType = WsExit_Disconnect;
        if (item.closeCode != 0) {
            closeWith(client, item.closeCode,
                      item.closeCode == kWsCloseMessageTooBig ? "message above the limit"
                                                              : "protocol error");
        }
    }
}

// Brings the server-wide sum of held input up to date with this client's reader; a client whose
// unfinished message takes the sum past the budget is closed.
void accountInput(WsClient* client) {
    WsServerState* state = client->server->state;
    WsConnectionState& connection = stateOf(client);
    const size_t held = connection.reader.holdsPartialMessage() ? connection.reader.heldBytes() : 0;
    state->inputHeld += held;
    state->inputHeld -= connection.accountedInput;
    connection.accountedInput = held;
    if (held > 0 && state->inputHeld > state->options.inputBudget &&
        client->exitType == WsExit_None) {
        closeWith(client, kWsClosePolicy, "unfinished messages above the memory budget");
    }
}

void receive(WsClient* client) {
    WsConnectionState& connection = stateOf(client);
    WsMessageReader& reader = connection.reader;
    const size_t want = std::clamp(reader.missing(), kReadChunk, kLargestRead);
    char* room = reader.prepare(want);
    const ssize_t got = recv(client->fd, room, want, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (got <= 0) {
        // The peer ended or broke the connection; every later read would be empty.
        setExitReason(client, WsExit_ByEpoll);
        removeClient(client);
        return;
    }
    reader.commit(size_t(got));
    connection.lastInput = Clock::now();
    client->recvBytes += uint32_t(got);
    if (client->isLogin || answerHandshake(client, reader)) deliverMessages(client, reader);
    accountInput(client);
}

void handleEvent(WsThread* group, const epoll_event& event) {
    auto* client = static_cast<WsClient*>(event.data.ptr);
    if (!client) return;  // the wake-up descriptor
    // Pairs with the listener's publication of the slot.
    if (client->group.load(std::memory_order_acquire) != group || client->isLeaving) return;
    WsConnectionState& connection = stateOf(client);
    if ((event.events & EPOLLOUT) &&
        !connection.outbox.flush(client->server->state->outputLimits())) {
        connection.sendFailed = true;
    }
    if (connection.sendFailed) {
        setExitReason(client, WsExit_BySend);
        removeClient(client);
    } else if (event.events & (EPOLLERR | EPOLLHUP)) {
        setExitReason(client, WsExit_ByEpoll);
        removeClient(client);
    } else if ((event.events & EPOLLIN) && client->exitType == WsExit_None) {
        receive(client);
    }
}

void* groupThread(void* argument) {
    auto* group = static_cast<WsThread*>(argument);
    WsServer* server = group->server;
    std::vector<epoll_event> events(WS_GROUP_SIZE);
    while (!server->isExit) {
        group->isRun = true;
        const int count = epoll_wait(group->fdEpoll, events.data(), WS_GROUP_SIZE, kWaitMs);
        if (count < 0 && errno != EINTR) {
            WSS_ERR("epoll_wait failed\r\n");
            break;
        }
        for (int index = 0; index < count; ++index) handleEvent(group, events[size_t(index)]);
        removeAll(sweep(group, false));
    }
    // Clients the listener adds while this runs are swept up by the next round.
    while (true) {
        const std::vector<WsClient*> remaining = sweep(group, true);
        if (!remaining.empty()) {
            removeAll(remaining);
            continue;
        }
        std::lock_guard<std::mutex> hold(server->lock);
        if (group->fdEpoll > 0) close(group->fdEpoll);
        group->fdEpoll = 0;
        group->clientCount = 0;
        group->isRun = false;
        break;
    }
    threadEnded(server);
    return nullptr;
}

// Gives the group an epoll set and a thread. Called under the server lock.
bool startGroup(WsServer* server, WsThread* group) {
    group->server = server;
    group->fdEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (group->fdEpoll < 0) {
        group->fdEpoll = 0;
        return false;
    }
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.ptr = nullptr;
    epoll_ctl(group->fdEpoll, EPOLL_CTL_ADD, server->state->wakeFd, &wake);
    group->isRun = true;
    if (startThread(server, groupThread, group)) return true;
    close(group->fdEpoll);
    group->fdEpoll = 0;
    group->isRun = false;
    return false;
}

void addClient(WsServer* server, int fd, const sockaddr_in& peer) {
    std::lock_guard<std::mutex> hold(server->lock);
    if (server->isExit) {
        close(fd);
        return;
    }
    size_t slot = 0;
    while (slot < WS_MAX_CLIENTS &&
           (server->client[slot].fd != 0 || server->client[slot].isLeaving ||
            server->client[slot].group.load(std::memory_order_relaxed) != nullptr)) {
        ++slot;
    }
    if (slot == WS_MAX_CLIENTS) {
        WSS_ERR("failed, out of range(%d) !!\r\n", WS_MAX_CLIENTS);
        close(fd);
        return;
    }
    WsServerState* state = server->state;
    const int limit = state->options.maxConnectionsPerAddress;
    int& fromAddress = state->perAddress[peer.sin_addr.s_addr];
    if (limit > 0 && fromAddress >= limit) {
        const auto* ip = reinterpret_cast<const uint8_t*>(&peer.sin_addr.s_addr);
        WSS_ERR("refused, %d connections from %d.%d.%d.%d already\r\n", fromAddress, ip[0], ip[1],
                ip[2], ip[3]);
        ++state->addressLimitRefusals;
        close(fd);
        return;
    }
    WsThread* group = &server->thread[slot / WS_GROUP_SIZE];
    if ((group->fdEpoll == 0 || !group->isRun) && !startGroup(server, group)) {
        close(fd);
        return;
    }
    WsClient* client = &server->client[slot];
    clearClient(client);
    client->fd = fd;
    memcpy(client->ip, &peer.sin_addr.s_addr, sizeof client->ip);
    client->port = peer.sin_port;
    client->server = server;
    client->priv = server->priv;
    client->index = ++server->clientCount;
    ++fromAddress;
    WsConnectionState& connection = state->connections[slot];
    connection.acceptedAt = connection.lastInput = Clock::now();
    connection.sendFailed = false;
    connection.id = (++state->connectionsMade << kSlotBits) | slot;
    connection.outbox.open(fd, connection.id, group->fdEpoll, client);
    ++group->clientCount;
    client->group.store(group, std::memory_order_release);

    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = client;
    if (epoll_ctl(group->fdEpoll, EPOLL_CTL_ADD, fd, &event) != 0) {
        WSS_ERR("epoll ctrl %d error !!\r\n", EPOLL_CTL_ADD);
    }
}

// Accepts every connection that is waiting (the listening socket is edge-triggered).
void acceptAll(WsServer* server) {
    while (!server->isExit) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int fd = accept4(server->fd, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        WSS_ERR("\r\n========== New channel access, Add client! ==========\r");
        // Every frame leaves in one write; holding small ones back for coalescing only adds
        // the peer's delayed-acknowledgement time to replies sent in a row.
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        addClient(server, fd, peer);
    }
}

// Binds the listening socket, retrying while the port is taken. False after the last attempt.
bool bindWithRetries(WsServer* server) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(server->port));
    const std::string& bindAddress = server->state->options.bindAddress;
    if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
        WSS_ERR("bind address %s is not an IPv4 address\r\n", bindAddress.c_str());
        return false;
    }
    int attempts = 0;
    while (bind(server->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (++attempts > kBindAttempts || server->isExit) {
            WSS_ERR("bind timeout %d 服务器端口占用中,请稍候再试\r\n", attempts);
            return false;
        }
        ws_delayms(1);
    }
    return true;
}

void serveConnections(WsServer* server) {
    server->fdEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (server->fdEpoll < 0) {
        server->fdEpoll = 0;
        return;
    }
    epoll_event listening{};
    listening.events = EPOLLIN | EPOLLET;
    listening.data.fd = server->fd;
    epoll_ctl(server->fdEpoll, EPOLL_CTL_ADD, server->fd, &listening);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = server->state->wakeFd;
    epoll_ctl(server->fdEpoll, EPOLL_CTL_ADD, server->state->wakeFd, &wake);
    WSS_ERR("\r\n========== WebsoketServer start ! ==========\r");

    std::vector<epoll_event> events(WS_MAX_CLIENTS);
    while (!server->isExit) {
        const int count = epoll_wait(server->fdEpoll, events.data(), WS_MAX_CLIENTS, kWaitMs);
        if (count < 0 && errno != EINTR) {
            WSS_ERR("epoll_wait failed\r\n");
            break;
        }
        for (int index = 0; index < count; ++index) {
            if (events[size_t(index)].data.fd == server->fd) acceptAll(server);
        }
    }
    server->isExit = true;
    close(server->fdEpoll);
    server->fdEpoll = 0;
}

void* listenerThread(void* argument) {
    auto* server = static_cast<WsServer*>(argument);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        WSS_ERR("create socket failed\r\n");
        server->isExit = true;
    } else {
        server->fd = fd;
        const int reuse = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        if (bindWithRetries(server)) {
            if (listen(fd, SOMAXCONN) != 0) {
                WSS_ERR("listen failed\r\n");
            } else {
                serveConnections(server);
            }
        }
        server->isExit = true;
        close(fd);
        server->fd = 0;
    }
    WSS_ERR("========== server_thread exit! ==========\r");
    threadEnded(server);
    return nullptr;
}

}  // namespace

void ws_server_wait(WsServer* server, const std::function<bool()>& stop_requested) {
    // The listener sets isExit before it ends, and its end notifies threadsEnded.
    std::unique_lock<std::mutex> hold(server->state->threadsLock);
    server->state->threadsEnded.wait(hold,
                                     [&] { return server->isExit.load() || stop_requested(); });
}

void ws_server_wake(WsServer* server) {
    std::lock_guard<std::mutex> hold(server->state->threadsLock);
    server->state->threadsEnded.notify_all();
}

WsServer* ws_server_start(const WsServerOptions& options) {
    auto* server = new (std::nothrow) WsServer();
    if (!server) return nullptr;
    server->state = new (std::nothrow) WsServerState();
    if (!server->state) {
        delete server;
        return nullptr;
    }
    server->state->options = options;
    server->state->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    server->port = options.port;
    snprintf(server->path, sizeof server->path, "%s", options.path ? options.path : "/");
    server->priv = options.priv;
    server->onLogin = options.onLogin;
    server->onMessage = options.onMessage;
    server->onExit = options.onExit;
    if (!startThread(server, listenerThread, server)) server->isExit = true;
    return server;
}

WsServerFigures ws_server_figures(WsServer* server) {
    WsServerFigures figures;
    const WsServerState* state = server->state;
    figures.clients = state->loggedIn;
    figures.protocolErrors = state->protocolErrors;
    figures.messagesTooBig = state->messagesTooBig;
    figures.unfinishedMessages = state->unfinishedMessages;
    figures.stalledClients = state->stalledClients;
    figures.originsRefused = state->originsRefused;
    figures.addressLimitRefusals = state->addressLimitRefusals;
    return figures;
}

uint64_t ws_connection_of(const WsClient* client) {
    return client->server->state->connections[size_t(client - client->server->client)].id;
}

namespace {

int sendToConnection(WsServer* server, uint64_t connection, Ws_DataType type,
                     WsOutbox::Payload payload, bool droppable = false) {
    const size_t slot = size_t(connection & ((uint64_t(1) << kSlotBits) - 1));
    if (!server || connection == 0 || slot >= WS_MAX_CLIENTS) return -1;
    std::string valid;
    if (type == WsData_Text && !ws_isValidUtf8(std::string_view(payload.data, payload.length))) {
        valid = ws_validUtf8(std::string_view(payload.data, payload.length));
        payload = {valid.data(), valid.size(), &valid};
    }
    // WsData_None sends the bytes as they are (an HTTP answer on the same port).
    uint8_t header[kWsMaxHeader];
    size_t headerLength = 0;
    if (type != WsData_None) {
        headerLength = ws_encodeFrameHeader(type, payload.length, nullptr, header);
        if (headerLength == 0) return -1;
    }
    const size_t length = payload.length;
    WsConnectionState& state = server->state->connections[slot];
    switch (state.outbox.send(connection, header, headerLength, payload,
                              server->state->outputLimits(), droppable)) {
        case WsOutbox::Outcome::Sent: return int(std::min<size_t>(length, INT32_MAX));
        case WsOutbox::Outcome::Gone: return -1;
        case WsOutbox::Outcome::Dropped: return kWsFrameDropped;
        case WsOutbox::Outcome::Failed: break;
    }
    state.sendFailed = true;
    return -2;
}

}  // namespace

int ws_send_to(WsServer* server, uint64_t connection, Ws_DataType type, const void* data,
               size_t length) {
    return sendToConnection(server, connection, type, {static_cast<const char*>(data), length});
}

int ws_send_to(WsServer* server, uint64_t connection, Ws_DataType type, std::string&& payload) {
    return sendToConnection(server, connection, type, {payload.data(), payload.size(), &payload});
}

int ws_send_droppable(WsServer* server, uint64_t connection, std::string&& payload) {
    return sendToConnection(server, connection, WsData_Text,
                            {payload.data(), payload.size(), &payload}, true);
}

extern "C" {

WsServer* ws_server_create(int port, const char* path, void* priv, WsOnLogin onLogin,
                           WsOnMessage onMessage, WsOnExit onExit) {
    WsServerOptions options;
    options.port = port;
    options.path = path;
    options.priv = priv;
    options.onLogin = onLogin;
    options.onMessage = onMessage;
    options.onExit = onExit;
    return ws_server_start(options);
}

void ws_server_release(WsServer** server) {
    if (!server || !*server) return;
    WsServer* record = *server;
    record->isExit = true;
    const uint64_t one = 1;
    if (write(record->state->wakeFd, &one, sizeof one) < 0) {
        // Without the wake-up every thread still notices the flag within one wait.
    }
    {
        std::unique_lock<std::mutex> hold(record->state->threadsLock);
        record->state->threadsEnded.wait(hold, [&] { return record->state->liveThreads == 0; });
    }
    if (record->state->wakeFd >= 0) close(record->state->wakeFd);
    delete record->state;
    delete record;
    *server = nullptr;
}

}  // extern "C"
