// The service's entry points: run, stop, and the product's title and version.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "DEV_HUB.h"
#include "dispatch.h"
#include "ws_api.h"

void onLogin(WsClient* client);
void onMessage(WsClient* client, char* data, int length, Ws_DataType type);
void onExit(WsClient* client, Ws_ExitType reason);

namespace {

const char kServiceVersion[] = "0.2023.0530.1600";
const char kProductTitle[] = "青禾柜台伴智能交互终端服务程序（通用版）";

// Sleeps in steps of 5 ms until the host asks to stop or the server stopped by itself.
void wait_for_stop(const WsServer& server) {
    while (!server.isExit && !m_isExitSever) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

extern "C" COUNTERMATE_EXPORT void RunCounterMateServer(int port) {
    std::printf("RunCounterMateServer\r");
    std::printf("serverPort=%d\n", port);
    std::fflush(stdout);
    if (!m_LogTracker) m_LogTracker = new CLogTracker("", "", "", "SER");   // kept for the process
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "...");
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "serverPort:%d", port);
    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "serverVersion:%s", kServiceVersion);

    WsServer* server = ws_server_create(port, "/", nullptr, onLogin, onMessage, onExit);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    m_isExitSever = false;   // a stop asked for during start-up is forgotten
    if (server) wait_for_stop(*server);
    if (m_isdoMethodProcessing) m_Dev_Hub.SetForcedReturn();   // end a wait in progress
    ws_server_release(&server);
    countermate::wait_for_request_worker();

    SERVICE_LOG(LOG_LEVEL_INFO, "RunCounterMateServer", "server exit");
    std::printf("server exit \r");
    std::fflush(stdout);
}

extern "C" COUNTERMATE_EXPORT void ExitCounterMateServer() { m_isExitSever = true; }

extern "C" COUNTERMATE_EXPORT void GetSoftInfo(char* title, char* version) {
    std::memcpy(title, kProductTitle, sizeof kProductTitle);
    std::memcpy(version, kServiceVersion, sizeof kServiceVersion);
}
