// Turns each WebSocket text message into one handler call and sends the handler's reply.
// One request runs at a time; any other request meanwhile is refused with retVal -17, except
// "CancelOpt", which runs at once on the receiving thread beside the running request.
#pragma once

#include <string>

namespace countermate {

// Sends `reply` to `socket` as one unmasked text frame; logs a failed send. Returns the send result.
int send_reply(int socket, const std::string& reply, const std::string& method);

// Waits until the running request, if any, has finished and its worker thread has ended.
// Called when the server has stopped, so that no worker outlives the service.
void wait_for_request_worker();

}  // namespace countermate
