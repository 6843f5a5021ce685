// Diagnostics of the WebSocket layer: one line on standard output, headed by the layer's tag,
// the reporting function and the source line.
#pragma once

#include <cstdio>

void ws_print(const char* tag, const char* function, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Protocol layer (handshake, frames, sockets).
#define WS_ERR(...) ws_print("WS_ERR", __func__, __LINE__, __VA_ARGS__)
// Server loop and clients.
#define WSS_ERR(...) ws_print("WSS_ERR", __func__, __LINE__, __VA_ARGS__)
