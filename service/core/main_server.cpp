// The service's entry points: run, stop, and the product's title and version.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "DEV_HUB.h"
#include "camera_preview.h"
#include "dispatch.h"
#include "screen_streams.h"
#include "server_settings.h"
#include "service_status.h"
#include "ws_api.h"
#include "ws_connection.h"
#include "ws_server_wait.h"

void onLogin(WsClient* client);
void onMessage(WsClient* client, char* data, int length, Ws_DataType type);
void onExit(WsClient* client, Ws_ExitType reason);

namespace {

const char kProductTitle[] = "青禾柜台伴智能交互终端服务程序（通用版）";

// The server being run, so that a stop request can wake the waiting entry point at once
// (an idle service then costs no processor time, and a stop takes effect without delay).
std::mutex running_server_lock;
WsServer* running_server = nullptr;

void set_running_server(WsServer* server) {
    std::lock_guard<std::mutex> guard(running_server_lock);
    running_server = server;
}

// Logs (and prints) who may reach the service, so that an exposed counter shows in its log.
void report_reach(const countermate::ServerSettings& settings) {
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "bindAddress:%s",
                settings.bind_address.c_str());
    if (settings.bind_address != "127.0.0.1") {
        SERVICE_LOG(LOG_LEVEL_WARN, "RunCounterMateServer",
                    "listening on %s: machines of the network can reach the terminal",
                    settings.bind_address.c_str());
    }
    if (!settings.origins_restricted) {
        SERVICE_LOG(LOG_LEVEL_WARN, "RunCounterMateServer",
                    "AllowedOrigins is not set: pages of every web site may drive the devices");
        std::printf(
            "warning: AllowedOrigins is not set in CONFIG.ini [SERVER]: pages of every "
            "web site may drive the devices\n");
    }
    if (settings.file_roots.empty()) {
        // A page may then overwrite any file the service can write: as root, the whole machine's.
        const char* as_root = geteuid() == 0 ? ", and the service runs as root" : "";
        SERVICE_LOG(LOG_LEVEL_WARN, "RunCounterMateServer",
                    "FileRoots is not set: pages may name any local file%s", as_root);
        std::printf(
            "warning: FileRoots is not set in CONFIG.ini [SERVER]: pages may read and write "
            "any file the service can%s\n",
            as_root);
    }
}

WsServerOptions server_options(int port, const countermate::ServerSettings& settings) {
    report_reach(settings);
    WsServerOptions options;
    options.port = port;
    options.path = "/";
    options.onLogin = onLogin;
    options.onMessage = onMessage;
    options.onExit = onExit;
    options.bindAddress = settings.bind_address;
    options.restrictOrigins = settings.origins_restricted;
    options.allowedOrigins = settings.allowed_origins;
    options.maxConnectionsPerAddress = settings.max_connections_per_address;
    options.onHttpRequest = countermate::http_answer;
    return options;
}

}  // namespace

extern "C" COUNTERMATE_EXPORT void RunCounterMateServer(int port) {
    std::printf("RunCounterMateServer\r");
    std::printf("serverPort=%d\n", port);
    std::fflush(stdout);
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "...");
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "serverPort:%d", port);
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "serverVersion:%s",
                countermate::kServiceVersion);
    countermate::load_server_settings();

    WsServer* server =
        ws_server_start(server_options(port, countermate::current_server_settings()));
    countermate::set_reply_server(server);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    m_isExitSever = false;  // a stop asked for during start-up is forgotten
    if (server) {
        set_running_server(server);
        ws_server_wait(server, [] { return m_isExitSever.load(); });
        set_running_server(nullptr);
    }
    if (m_isdoMethodProcessing) m_Dev_Hub.SetForcedReturn();  // end a wait in progress
    countermate::set_reply_server(nullptr);
    ws_server_release(&server);
    countermate::wait_for_request_worker();
    countermate::stop_screen_streams();  // after the worker: no request can start one again
    // Every departing page stopped its own preview; one whose page left unnoticed ends here, so
    // no stream thread outlives the service.
    countermate::stop_preview();

    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "server exit");
    std::printf("server exit \r");
    std::fflush(stdout);
}

extern "C" COUNTERMATE_EXPORT void ExitCounterMateServer() {
    m_isExitSever = true;
    std::lock_guard<std::mutex> guard(running_server_lock);
    if (running_server) ws_server_wake(running_server);
}

extern "C" COUNTERMATE_EXPORT void GetSoftInfo(char* title, char* version) {
    std::memcpy(title, kProductTitle, sizeof kProductTitle);
    std::memcpy(version, countermate::kServiceVersion,
                std::strlen(countermate::kServiceVersion) + 1);
}
