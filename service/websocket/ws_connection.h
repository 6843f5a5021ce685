// What the service needs of the server beyond the exported calls: a server started with the
// counter's own settings, and replies addressed to a connection rather than to a socket number.
//
// A socket number is reused as soon as its client has gone, so a reply sent "to socket 12"
// after its page left may reach the next page that connected. A connection identity is never
// reused: a reply for a connection that has gone is not sent at all.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ws_api.h"

struct WsServerOptions {
    int port = 0;
    const char* path = nullptr;  // "/" when null
    void* priv = nullptr;
    WsOnLogin onLogin = nullptr;
    WsOnMessage onMessage = nullptr;
    WsOnExit onExit = nullptr;

    // IPv4 address to listen on; "0.0.0.0" listens on every address.
    std::string bindAddress = "127.0.0.1";
    // When true, a handshake whose Origin header is not in allowedOrigins is answered with
    // 403. A handshake without Origin (a program rather than a browser page) is served.
    bool restrictOrigins = false;
    std::vector<std::string> allowedOrigins;
    // Simultaneous connections from one peer address; 0 for no limit.
    int maxConnectionsPerAddress = 0;
    // The answer to a plain HTTP request on the same port (a GET without Sec-WebSocket-Key):
    // the whole response, sent before the connection is closed. Called on the client's group
    // thread with the request up to its blank line. Null: such requests are not answered.
    std::function<std::string(std::string_view request)> onHttpRequest;

    // A client whose queued output does not move for this long is disconnected.
    std::chrono::milliseconds sendDeadline{5000};
    // A client that has sent part of a message and then nothing for this long is closed (1008).
    std::chrono::milliseconds silenceLimit{5000};
    // Memory all clients together may hold in unfinished messages; a read that takes the sum
    // past it closes the reading client (1008).
    size_t inputBudget = 64u * 1024 * 1024;
    // Output one client may have queued beyond the frame in flight, and all clients together.
    size_t outputLimitPerClient = 16u * 1024 * 1024;
    size_t outputBudget = 256u * 1024 * 1024;
};

// Starts a server as ws_server_create does, with `options`. Released with ws_server_release.
WsServer* ws_server_start(const WsServerOptions& options);

// The identity of the client's connection: never 0, never given to another connection. Valid
// from onLogin to the end of onExit.
uint64_t ws_connection_of(const WsClient* client);

// Sends one unmasked frame to `connection` without blocking (WsData_None: the bytes as they are). A text payload that is not
// well-formed UTF-8 is sent with its bad bytes replaced by U+FFFD. Returns the payload length
// when sent or queued, -1 when the connection has gone (nothing is sent), -2 when the client was
// found unable to take it (its socket failed or its queue is full; it is disconnected).
int ws_send_to(WsServer* server, uint64_t connection, Ws_DataType type, const void* data,
               size_t length);

// ws_send_to of a payload the caller gives up: what the socket does not take at once is queued
// without a copy. `payload` is left empty or as it was.
int ws_send_to(WsServer* server, uint64_t connection, Ws_DataType type, std::string&& payload);

// A text frame of a stream (a preview picture): sent as ws_send_to sends it when the client has
// taken everything sent before, and dropped (-3, nothing sent) while earlier output still
// waits. A client that stops reading thus holds at most one frame of a stream, and the stream
// goes on for nobody else's cost.
constexpr int kWsFrameDropped = -3;
int ws_send_droppable(WsServer* server, uint64_t connection, std::string&& payload);

// What the server has seen since it started.
struct WsServerFigures {
    int clients = 0;                    // WebSocket clients connected now (past their handshake)
    uint64_t protocolErrors = 0;        // closed with 1002
    uint64_t messagesTooBig = 0;        // closed with 1009
    uint64_t unfinishedMessages = 0;    // closed with 1008: silent mid-message, or over the budget
    uint64_t stalledClients = 0;        // disconnected for not reading
    uint64_t originsRefused = 0;        // handshakes answered 403
    uint64_t addressLimitRefusals = 0;  // connections refused over the per-address limit
};
WsServerFigures ws_server_figures(WsServer* server);
