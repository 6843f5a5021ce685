// The WebSocket endpoint of CounterMate: RFC 6455 handshake and framing, and the epoll-driven
// server that every web page talks to.
//
// Threads and callbacks
// ---------------------
// ws_server_create starts one listening thread. Accepted clients are spread over up to
// WS_GROUP_COUNT groups (slot index / WS_GROUP_SIZE); each group is served by one thread with its
// own epoll set. The callbacks are called as follows:
//  - onLogin(client): on the client's group thread, once, right after the 101 answer was sent.
//  - onMessage(client, data, length, type): on the client's group thread, in arrival order, once
//    for every message or control frame and once for every run of bytes that was discarded:
//      length >= 1: a complete message (fragments already joined) of type WsData_Text,
//                   WsData_Binary or WsData_Continuation; `data` holds `length` bytes followed by
//                   a NUL (an empty message comes as length 1 and the empty string);
//      length == 0: a control frame (WsData_Ping, WsData_Pong, WsData_Close); pings and closes
//                   have already been answered;
//      length < 0:  bytes that are not a message (raw text, a frame above WS_MAX_MESSAGE, a
//                   broken frame); -length bytes were dropped; `data` is not meaningful.
//    `data` belongs to the server and is valid only during the call; copy what must outlive it.
//    A slow onMessage delays every client of the same group.
//  - onExit(client, reason): on a short thread of its own, once per client, after the socket was
//    closed. The slot is reused only after onExit returns, so `client` may be read throughout.
//    onExit must not call ws_server_release (release waits for onExit to return).
// The callbacks may be null.
//
// Sending
// -------
// ws_send may be called from any thread, for any socket. Each call holds a lock of that socket
// for the whole frame, so two threads' frames never interleave on the wire. The server itself
// writes to its clients only through each connection's queue (ws_send_to in ws_connection.h):
// that never blocks, and it addresses a connection, not a socket number, which is given to a
// new client as soon as the old one's socket is closed (before its onExit).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#define WS_EXPORT __attribute__((visibility("default")))

#define WS_MAX_CLIENTS 5000
#define WS_GROUP_COUNT 10
#define WS_GROUP_SIZE 500
// Largest message the server delivers; longer messages are discarded.
#define WS_MAX_MESSAGE (10 * 1024 * 1024)

// Kind of a frame, for sending and for what was received.
typedef enum {
    WsData_None = 0,          // raw bytes, no frame
    WsData_Continuation = 1,  // opcode 0
    WsData_Text = 2,          // opcode 1
    WsData_Binary = 3,        // opcode 2
    WsData_Close = 4,         // opcode 8
    WsData_Ping = 5,          // opcode 9
    WsData_Pong = 6,          // opcode 10
} Ws_DataType;

// Why a client was removed.
typedef enum {
    WsExit_None = 0,          // still connected
    WsExit_ByEpoll = 1,       // connection reset, hung up, or ended without a close frame
    WsExit_BySend = 2,        // its output did not move within the send deadline, or failed
    WsExit_LoginFailed = 3,   // the handshake could not be answered
    WsExit_LoginTimeout = 4,  // no handshake within 5 seconds
    WsExit_Disconnect = 5,    // the client sent a close frame
    WsExit_ByServer = 6,      // the server closed it: a protocol error or one of its limits
} Ws_ExitType;

struct WsServer;
struct WsThread;
struct WsServerState;

// One client slot. Fields are written by the listener (under WsServer::lock) while the slot is
// free, and afterwards only by the client's group thread.
struct WsClient {
    int fd;                // 0 = slot free
    uint8_t ip[4];         // peer IPv4 address, network order
    int port;              // peer port, network order
    Ws_ExitType exitType;  // WsExit_None while the client is fine
    bool isLogin;          // the handshake is complete
    bool isLeaving;        // removal has begun
    uint32_t recvBytes;    // bytes received on the socket
    int index;             // the server's client count just after this client was added
    int loginTimer;        // milliseconds waited for the handshake so far
    void* priv;            // copy of the server's private data
    WsServer* server;
    std::atomic<WsThread*> group;  // group serving the client; null when the slot is free
};

// One client group: a thread with its own epoll set.
struct WsThread {
    int fdEpoll;                   // 0 when none
    std::atomic<int> clientCount;  // clients of this group
    std::atomic<bool> isRun;       // the group thread is running
    WsServer* server;
};

typedef void (*WsOnLogin)(WsClient* client);
typedef void (*WsOnMessage)(WsClient* client, char* data, int length, Ws_DataType type);
typedef void (*WsOnExit)(WsClient* client, Ws_ExitType reason);

// Everything the server owns, in one zero-initialised allocation.
struct WsServer {
    int fd;       // listening socket; 0 when closed
    int fdEpoll;  // listener epoll set; 0 when closed
    int port;
    char path[256];  // path the handshake request must contain
    void* priv;      // copied into every client
    std::atomic<int> clientCount;
    std::atomic<bool> isExit;  // set to stop, or by the listener when it gives up
    std::mutex lock;           // guards slot assignment, slot release and group start
    WsOnLogin onLogin;
    WsOnMessage onMessage;
    WsOnExit onExit;
    WsThread thread[WS_GROUP_COUNT];
    WsClient client[WS_MAX_CLIENTS];
    WsServerState* state;  // receive buffers, thread accounting, wake-up descriptor
};

extern "C" {

// Base64 (RFC 4648, "=" padding). encode writes 4 characters per started group of 3 bytes and a
// NUL, and returns the number of characters. decode reads groups of four characters up to the
// NUL (a shorter last group yields its whole bytes), maps characters outside the alphabet to
// 0xFF, stops after a group that ends in "=", and returns the number of bytes written; `out`
// needs 3 bytes per started group of 4 characters.
WS_EXPORT int ws_base64_encode(const uint8_t* data, char* out, int length);
WS_EXPORT int ws_base64_decode(const char* text, uint8_t* out);

// Answers the opening handshake `request` (`length` bytes) on `fd`. `path`, when not null, must
// occur in the request. Returns the bytes sent (>= 1), or -1 after a diagnostic on stdout.
WS_EXPORT int ws_responseClient(int fd, const char* request, int length, const char* path);

// Sends `data` as one frame of `type` (FIN set), masked when `mask` is true; WsData_None sends
// the bytes as they are. Returns the bytes written, 0 when `length` is negative or the frame
// cannot be built, or -1 when the socket failed or took nothing for 5 seconds (a peer that
// does not read). Thread-safe per socket (see above). The service itself answers its clients
// through their connections' queues, which never wait at all.
WS_EXPORT int ws_send(int fd, const void* data, int length, bool mask, Ws_DataType type);

// Reads one frame from `fd` into `buffer` (`size` >= 16 bytes). Never reads past the frame, so
// a following frame stays queued for the next call. Returns:
//   > 0  the payload length (1 for an empty payload), payload NUL-terminated at buffer[0];
//   0    nothing queued, a ping (answered), a pong, a close frame, or `size` < 16;
//   < 0  minus the bytes consumed that were not a complete frame: raw text (which stays in
//        `buffer`), a frame larger than `size` (discarded with what was queued), or a frame that
//        stalled for 200 ms without progress.
// A null buffer or `size` <= 0 discards what is queued and returns 0. `type`, when not null,
// receives the frame kind (WsData_None when no frame was seen).
WS_EXPORT int ws_recv(int fd, void* buffer, int size, Ws_DataType* type);

// Opens a client connection to ws://host:port/path. `timeoutMs` 0 means 1000. Returns the
// connected, non-blocking socket, or <= 0.
WS_EXPORT int ws_connectToServer(const char* host, int port, const char* path, int timeoutMs);

// Resolves `host` to a dotted IPv4 address in `ip` (16 bytes). Returns the milliseconds taken
// (>= 0), or a negative value when it failed or took longer than `timeoutMs`.
WS_EXPORT int ws_getIpByHostName(const char* host, char* ip, int timeoutMs);

// Sleep for the given time.
WS_EXPORT void ws_delayus(unsigned int us);
WS_EXPORT void ws_delayms(unsigned int ms);

// "HH:MM:SS" of the time of day at UTC+8, in a buffer of the calling thread.
WS_EXPORT char* ws_time(void);

// Starts a server on `port` (path "/" when null). Returns at once; a port that cannot be bound
// shows later as `isExit`. Returns null only when memory is short.
WS_EXPORT WsServer* ws_server_create(int port, const char* path, void* priv, WsOnLogin onLogin,
                                     WsOnMessage onMessage, WsOnExit onExit);

// Stops the server, waits until every thread of it (listener, groups, pending onExit calls) has
// ended, frees it and sets *server to null. A null argument is ignored.
WS_EXPORT void ws_server_release(WsServer** server);

}  // extern "C"
