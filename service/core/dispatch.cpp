#include "dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "DEV_HUB.h"
#include "camera_preview.h"
#include "reply_format.h"
#include "request_text.h"
#include "request_worker.h"
#include "request_table.h"
#include "screen_streams.h"
#include "terminal_streams.h"
#include "service_metrics.h"
#include "service_status.h"
#include "stream_output.h"
#include "ws_api.h"
#include "ws_codec.h"
#include "ws_connection.h"

namespace countermate {

namespace {

// The worker that runs the accepted request. Only the thread that won the busy flag hands it a
// request, so it holds at most one; it is stopped when the service stops.
RequestWorker request_worker;

// The server replies are sent through. Sends never block, so holding the lock while one is
// written only keeps the server from being released under it.
std::mutex reply_server_lock;
WsServer* reply_server = nullptr;

// The connection the running request (and any stream it started) answers.
std::atomic<uint64_t> reply_target{0};

// Signalled whenever a request ends, for a departure that waits to see whether it must cancel.
std::mutex request_end_lock;
std::condition_variable request_ended;

// How long a request of a page that left may go on before it is cancelled. Quick requests end
// well within it, so a cancel is only sent to the terminal for a wait on the customer: a cancel
// beside a command that is answered anyway would race with that answer on the link.
constexpr std::chrono::milliseconds kDepartedRequestGrace{1000};

// Longest method name echoed in a busy reply; request names are far shorter.
constexpr size_t kLongestEchoedMethod = 128;

// The retVal and errMsg of a reply, read from its text without parsing it whole (a reply may
// carry megabytes of pictures).
int reply_result(const std::string& reply, std::string& message) {
    const size_t result_at = reply.find("\"retVal\":");
    const size_t message_at = reply.rfind("\"errMsg\":\"");
    if (message_at != std::string::npos) {
        const size_t start = message_at + 10;
        message = reply.substr(start, reply.find('"', start) - start);
    }
    return result_at == std::string::npos ? 0 : std::atoi(reply.c_str() + result_at + 9);
}

// The request as the receiving thread parsed it: the worker needs its method and the text of
// its arguments only, so the request is read once, where it arrives.
struct AcceptedRequest {
    std::string method;
    std::string args_text;
    uint64_t connection;
};

// Runs one request and answers the connection that sent it. The service is free again before
// the reply leaves: a page that sends its next request as soon as it reads this reply must not
// be told that the service is busy.
void run_request(const AcceptedRequest& request) {
    const auto started = std::chrono::steady_clock::now();
    std::string reply;
    if (const RequestHandler handler = find_request_handler(request.method)) {
        (m_Dev_Hub.*handler)(request.args_text, reply);
        if (!reply.empty()) {
            std::string message;
            const int result = reply_result(reply, message);
            record_request(request.method, result, std::chrono::steady_clock::now() - started,
                           message);
        }
    }
    {
        std::lock_guard<std::mutex> guard(request_end_lock);
        m_isdoMethodProcessing = false;
    }
    request_ended.notify_all();
    if (!reply.empty()) send_reply(request.connection, std::move(reply), request.method);
}

void start_request(AcceptedRequest request) {
    std::string error;
    if (request_worker.submit([request = std::move(request)] { run_request(request); }, error)) {
        return;
    }
    m_isdoMethodProcessing = false;
    SERVICE_LOG(LOG_LEVEL_ERROR, "onMessage", "Can't create thread: %s\n", error.c_str());
    std::printf("Can't create thread: %s\n", error.c_str());
}

// The method name as the busy reply may echo it: whole UTF-8 characters, at most
// kLongestEchoedMethod bytes.
std::string echoable_method(const std::string& method) {
    std::string echoed = ws_validUtf8(method);
    if (echoed.size() <= kLongestEchoedMethod) return echoed;
    size_t cut = kLongestEchoedMethod;
    while (cut > 0 && (static_cast<unsigned char>(echoed[cut]) & 0xC0) == 0x80) --cut;
    return echoed.substr(0, cut);
}

void answer_busy(uint64_t connection, const std::string& method) {
    const std::string echoed = echoable_method(method);
    if (find_request_handler(method)) {
        record_request(method, -17, std::chrono::duration<double>(0), "设备繁忙");
    }
    const std::string reply =
        format_reply(R"({"method":"%s","retVal":-17,"errMsg":"设备繁忙"})", {echoed});
    send_reply(connection, reply, echoed);
}

void answer_cancel(uint64_t connection) {
    std::string reply;
    m_Dev_Hub.CancelOpt(std::string(), reply);
    send_reply(connection, reply, "CancelOpt");
}

// Looks at the terminal when nothing else uses it: the port opened and closed again, under the
// busy flag so that no request starts meanwhile. While a request, a cancel or a stream on the
// terminal runs, the state its last operation left is what the status tells.
void probe_terminal_when_idle() {
    bool idle = false;
    if (m_Dev_Hub.m_isCancelOpt || stream_uses_terminal_port() ||
        !m_isdoMethodProcessing.compare_exchange_strong(idle, true)) {
        return;
    }
    const int opened = ctm->HIDOpenPort();
    record_terminal_result(opened);
    if (opened == 0 && !m_Dev_Hub.m_isCancelOpt) ctm->HIDClosePort();
    {
        std::lock_guard<std::mutex> guard(request_end_lock);
        m_isdoMethodProcessing = false;
    }
    request_ended.notify_all();
}

ServiceStatus status_now(WsServer* server) {
    ServiceStatus status;
    status.busy = m_isdoMethodProcessing;
    status.clients = server ? ws_server_figures(server).clients : 0;
    return status;
}

void answer_status(WsClient* client, uint64_t connection) {
    probe_terminal_when_idle();
    send_reply(connection, service_status_json(status_now(client->server)), "GetServiceStatus");
}

// The page whose request runs has gone: its wait on the terminal is cancelled, so that the
// service is free for the next page instead of refusing it until the wait's end.
void cancel_for_departed(uint64_t connection) {
    const auto still_running = [connection] {
        return m_isdoMethodProcessing && reply_target == connection;
    };
    {
        std::unique_lock<std::mutex> hold(request_end_lock);
        const bool ended_by_itself =
            request_ended.wait_for(hold, kDepartedRequestGrace, [&] { return !still_running(); });
        if (ended_by_itself) return;
    }
    // A stopping service ends the wait itself (the forced return) and needs no cancel.
    if (m_isExitSever) return;
    SERVICE_LOG(LOG_LEVEL_INFO, "onExit", "the asking client has gone: cancelling its request");
    std::string reply;
    m_Dev_Hub.CancelOpt(std::string(), reply);
}

const char* exit_reason_text(Ws_ExitType reason) {
    switch (reason) {
        case WsExit_ByEpoll: return "disconnect by epoll";
        case WsExit_BySend: return "disconnect by send";
        case WsExit_LoginFailed: return "disconnect by login failed ";
        case WsExit_LoginTimeout: return "disconnect by login timeout ";
        case WsExit_Disconnect: return "disconnect by disconnect ";
        default: return "disconnect by unknow ";
    }
}

}  // namespace

void set_reply_server(WsServer* server) {
    std::lock_guard<std::mutex> guard(reply_server_lock);
    reply_server = server;
}

std::string http_answer(std::string_view request) {
    std::lock_guard<std::mutex> guard(reply_server_lock);
    // The pages people read look at the terminal; the figures a monitor scrapes never do.
    if (request.rfind("GET /status", 0) == 0 || request.rfind("GET / ", 0) == 0) {
        probe_terminal_when_idle();
    }
    return http_status_answer(request, status_now(reply_server), reply_server);
}

int send_reply(uint64_t connection, std::string reply, const std::string& method) {
    const size_t length = reply.size();
    int sent = -1;
    {
        std::lock_guard<std::mutex> guard(reply_server_lock);
        if (reply_server)
            sent = ws_send_to(reply_server, connection, WsData_Text, std::move(reply));
    }
    if (sent == -1) {
        SERVICE_LOG(LOG_LEVEL_WARN, "SendWSMsg", "[%s] reply dropped: its client has gone",
                    method.c_str());
        return sent;
    }
    if (sent < 0) SERVICE_LOG(LOG_LEVEL_ERROR, "SendWSMsg", "ws_send error！");
    SERVICE_LOG(LOG_LEVEL_DEBUG, "SendWSMsg",
                "[%s] response data with a length of %d has been send", method.c_str(),
                static_cast<int>(length));
    return sent;
}

int send_stream_frame(uint64_t connection, std::string frame) {
    std::lock_guard<std::mutex> guard(reply_server_lock);
    if (!reply_server) return -1;
    return ws_send_droppable(reply_server, connection, std::move(frame));
}

uint64_t requesting_connection() { return m_isdoMethodProcessing ? reply_target.load() : 0; }

void wait_for_request_worker() { request_worker.stop(); }

}  // namespace countermate

using namespace countermate;

void onLogin(WsClient* client) {
    std::printf("onLogin: fd/%03d index/%03d total/%03d addr/%d.%d.%d.%d:%d\r\n", client->fd,
                client->index, client->server->clientCount.load(), client->ip[0], client->ip[1],
                client->ip[2], client->ip[3], client->port);
    std::fflush(stdout);  // one line per client, seen at once wherever the output goes
}

void onExit(WsClient* client, Ws_ExitType reason) {
    std::printf("onExit: fd/%03d index/%03d total/%03d %s\r\n", client->fd, client->index,
                client->server->clientCount.load(), exit_reason_text(reason));
    std::fflush(stdout);
    const uint64_t connection = ws_connection_of(client);
    stop_sign_mirror_of(connection);
    stop_preview_of_departed(connection);
    cancel_for_departed(connection);
}

void onMessage(WsClient* client, char* data, int length, Ws_DataType) {
    if (length < 1) return;
    RequestText request = read_request_text(data, static_cast<size_t>(length));
    SERVICE_LOG(LOG_LEVEL_DEBUG, "onMessage", "msg:%s", request.text.c_str());
    if (!request.parsed || request.method.empty()) return;
    std::string& method = request.method;
    SERVICE_LOG(LOG_LEVEL_INFO, "onMessage", "[%s]", method.c_str());

    const uint64_t connection = ws_connection_of(client);
    if (method == "CancelOpt") {
        answer_cancel(connection);
        return;
    }
    if (method == "GetServiceStatus") {
        answer_status(client, connection);
        return;
    }
    bool idle = false;
    if (!m_isdoMethodProcessing.compare_exchange_strong(idle, true)) {
        answer_busy(connection, method);
        return;
    }
    m_clientFd = client->fd;
    reply_target = connection;
    m_webMessage = request.text;
    start_request({std::move(method), std::move(request.args_text), connection});
}
