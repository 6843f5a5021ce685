// Socket helpers shared by the frame calls and the server.
#pragma once

#include <cstddef>

#include "ws_api.h"

// Sends one unmasked FIN frame under the socket's send lock. Returns the bytes written,
// 0 for a type outside 1..6, or -1 when the socket failed.
int ws_sendFrame(int fd, Ws_DataType type, const void* payload, size_t length);

// Reads and drops whatever is queued on the socket, without waiting for more.
void ws_discardQueued(int fd);
