#include "dispatch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "CJsonObject.h"
#include "DEV_HUB.h"
#include "reply_format.h"
#include "request_table.h"
#include "ws_api.h"

namespace countermate {

namespace {

// The worker of the running request. Only the thread that won the busy flag starts one, so at
// most one exists; it is joined before the next starts and when the service stops.
std::thread request_worker;
std::mutex request_worker_lock;

// Parses a request. Clients may quote with single quotes; the text is read as it is first so
// that an apostrophe inside a double-quoted value survives, and only a text that is not JSON
// as it stands is read again with every single quote turned into a double quote.
bool parse_request(const char* data, int length, CJsonObject& request, std::string& text) {
    text.assign(data, static_cast<size_t>(length));
    if (request.Parse(text)) return true;
    std::replace(text.begin(), text.end(), '\'', '"');
    return request.Parse(text);
}

// Runs one request and answers `client_socket`. The service is free again before the reply
// leaves: a page that sends its next request as soon as it reads this reply must not be told
// that the service is busy.
void run_request(std::string request_text, int client_socket) {
    CJsonObject request(request_text);
    std::string method;
    std::string reply;
    if (request.Get("method", method)) {
        CJsonObject args;
        const std::string args_text = request.Get("args", args) ? args.ToString() : std::string();
        if (const RequestHandler handler = find_request_handler(method)) {
            (m_Dev_Hub.*handler)(args_text, reply);
        }
    }
    m_isdoMethodProcessing = false;
    if (!reply.empty()) send_reply(client_socket, reply, method);
}

void start_request(const std::string& request_text, int client_socket) {
    std::lock_guard<std::mutex> guard(request_worker_lock);
    // The previous worker has cleared the flag; at most its reply is still being sent.
    if (request_worker.joinable()) request_worker.join();
    try {
        request_worker = std::thread(run_request, request_text, client_socket);
    } catch (const std::system_error& error) {
        m_isdoMethodProcessing = false;
        SERVICE_LOG(LOG_LEVEL_ERROR, "onMessage", "Can't create thread: %s\n", error.what());
        std::printf("Can't create thread: %s\n", error.what());
    }
}

void answer_busy(int socket, const std::string& method) {
    const std::string reply =
        format_reply(R"({"method":"%s","retVal":-17,"errMsg":"设备繁忙"})", {method});
    send_reply(socket, reply, method);
}

void answer_cancel(int socket) {
    std::string reply;
    m_Dev_Hub.CancelOpt(std::string(), reply);
    send_reply(socket, reply, "CancelOpt");
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

int send_reply(int socket, const std::string& reply, const std::string& method) {
    const int sent = ws_send(socket, reply.data(), static_cast<int>(reply.size()), false, WsData_Text);
    if (sent < 0) SERVICE_LOG(LOG_LEVEL_ERROR, "SendWSMsg", "ws_send error！");
    SERVICE_LOG(LOG_LEVEL_DEBUG, "SendWSMsg", "[%s] response data with a length of %d has been send",
                method.c_str(), static_cast<int>(reply.size()));
    return sent;
}

void wait_for_request_worker() {
    std::lock_guard<std::mutex> guard(request_worker_lock);
    if (request_worker.joinable()) request_worker.join();
}

}  // namespace countermate

using namespace countermate;

void onLogin(WsClient* client) {
    std::printf("onLogin: fd/%03d index/%03d total/%03d addr/%d.%d.%d.%d:%d\r\n", client->fd,
                client->index, client->server->clientCount.load(), client->ip[0], client->ip[1],
                client->ip[2], client->ip[3], client->port);
}

void onExit(WsClient* client, Ws_ExitType reason) {
    std::printf("onExit: fd/%03d index/%03d total/%03d %s\r\n", client->fd, client->index,
                client->server->clientCount.load(), exit_reason_text(reason));
}

void onMessage(WsClient* client, char* data, int length, Ws_DataType) {
    if (length < 1) return;
    CJsonObject request;
    std::string text;
    const bool parsed = parse_request(data, length, request, text);
    SERVICE_LOG(LOG_LEVEL_DEBUG, "onMessage", "msg:%s", text.c_str());
    std::string method;
    if (!parsed || !request.Get("method", method)) return;
    request.Add("ClientFd", client->fd);
    SERVICE_LOG(LOG_LEVEL_INFO, "onMessage", "[%s]", method.c_str());

    if (method == "CancelOpt") {
        answer_cancel(client->fd);
        return;
    }
    bool idle = false;
    if (!m_isdoMethodProcessing.compare_exchange_strong(idle, true)) {
        answer_busy(client->fd, method);
        return;
    }
    m_clientFd = client->fd;
    m_webMessage = request.ToString();
    start_request(m_webMessage, client->fd);
}

int CDEV_HUB::SendWSMsg(const char* reply, const char* method) {
    return send_reply(m_clientFd, reply, method);
}
