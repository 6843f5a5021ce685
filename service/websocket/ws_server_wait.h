// Waiting on a running server without polling, for the service's entry point.
#pragma once

#include <functional>

struct WsServer;

// Blocks until the server has stopped by itself (its listener gave up or failed) or
// `stop_requested` returns true. `stop_requested` is checked at the start and again after every
// ws_server_wake; it runs under the server's thread-accounting lock, so it must be quick.
void ws_server_wait(WsServer* server, const std::function<bool()>& stop_requested);

// Makes a ws_server_wait in progress check its `stop_requested` again.
void ws_server_wake(WsServer* server);
