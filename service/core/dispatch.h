// Turns each WebSocket text message into one handler call and sends the handler's reply.
// One request runs at a time; any other request meanwhile is refused with retVal -17, except
// "CancelOpt", which runs at once on the receiving thread beside the running request.
//
// Replies are addressed to the connection that asked, never to a socket number: a page that
// leaves while its request runs gets no reply, and the page that connects after it never gets
// the departed page's reply. When the asking page leaves while its request waits on the
// terminal, the wait is cancelled as CancelOpt would, so the next page is served at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct WsServer;

namespace countermate {

// The server replies go through; null while none runs. Cleared before the server is released,
// after which a reply still to be sent is dropped.
void set_reply_server(WsServer* server);

// Sends `reply` to `connection` as one text frame. A reply whose connection has gone is dropped
// and logged. Returns the send result (negative when nothing was sent).
int send_reply(uint64_t connection, std::string reply, const std::string& method);

// Sends one frame of a stream to `connection` (ws_send_droppable): the send result, with
// kWsFrameDropped for a frame dropped behind a client that has not taken the one before.
int send_stream_frame(uint64_t connection, std::string frame);

// The answer to a plain HTTP GET on the service's port: /status, / and /metrics.
std::string http_answer(std::string_view request);

// Waits until the running request, if any, has finished and its worker thread has ended.
// Called when the server has stopped, so that no worker outlives the service.
void wait_for_request_worker();

}  // namespace countermate
