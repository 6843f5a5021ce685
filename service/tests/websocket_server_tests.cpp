// The server with real clients: the "ws" package of Node.js for the protocol, plain TCP sockets
// for what a browser never does (silence, resets, broken handshakes).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ws_codec.h"
#include "ws_server_fixture.h"

namespace {

using namespace std::chrono_literals;

bool nodeWithWsAvailable() {
    return system("NODE_PATH=/usr/share/nodejs node -e \"require('ws')\" >/dev/null 2>&1") == 0;
}

std::string nodeCommand(const std::string& arguments) {
    return "NODE_PATH=/usr/share/nodejs node " WS_NODE_CLIENT " " + arguments + " 2>&1";
}

// Runs the node client to its end; its output, and whether it exited 0.
std::pair<std::string, bool> runNode(const std::string& arguments) {
    FILE* output = popen(nodeCommand(arguments).c_str(), "r");
    std::string text;
    char line[512];
    while (fgets(line, sizeof line, output)) text += line;
    return {text, pclose(output) == 0};
}

std::string maskedText(const char* text) {
    uint8_t frame[64];
    const int length = ws_enPackage(reinterpret_cast<const uint8_t*>(text), unsigned(strlen(text)),
                                    frame, sizeof frame, true, WsData_Text);
    return std::string(reinterpret_cast<char*>(frame), size_t(length));
}

#define SKIP_WITHOUT_NODE() \
    if (!nodeWithWsAvailable()) GTEST_SKIP() << "node with the ws package is not installed"

}  // namespace

class websocketServer : public WsServerFixture {};

TEST_F(websocketServer, NodeClientTalksAndClosesWithReason5) {
    SKIP_WITHOUT_NODE();
    startServer();
    const auto [output, succeeded] = runNode("echo " + std::to_string(port));
    EXPECT_TRUE(succeeded) << output;
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.exits.size() == 1; }));
    std::lock_guard<std::mutex> hold(recorder.lock);
    EXPECT_EQ(recorder.logins, 1);
    EXPECT_EQ(recorder.exits[0].reason, WsExit_Disconnect);
    // Six texts, a binary message, the joined fragments, the ping and the close frame.
    ASSERT_EQ(recorder.messages.size(), 10u);
    EXPECT_EQ(recorder.messages[5].length, 4 * 1024 * 1024);
    EXPECT_EQ(recorder.messages[6].type, WsData_Binary);
    EXPECT_EQ(recorder.messages[7].text, "Hello, fragments");
    EXPECT_EQ(recorder.messages[7].type, WsData_Text);
    EXPECT_EQ(recorder.messages[8].type, WsData_Ping);
    EXPECT_EQ(recorder.messages[9].type, WsData_Close);
    EXPECT_EQ(recorder.messages[9].length, 0);
}

TEST_F(websocketServer, ConnectionsEndedWithoutCloseFrameGiveReason1) {
    SKIP_WITHOUT_NODE();
    startServer();
    const auto [output, succeeded] = runNode("reset " + std::to_string(port));
    EXPECT_TRUE(succeeded) << output;
    // A plain TCP end after the handshake: the first empty read removes the client.
    const int ended = loggedInClient(port);
    ASSERT_GE(ended, 0);
    close(ended);
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.exits.size() == 2; }));
    for (const WsRecorder::Exit& exit : recorder.exits) EXPECT_EQ(exit.reason, WsExit_ByEpoll);
    EXPECT_EQ(recorder.logins, 2);
    EXPECT_EQ(server->clientCount, 0);
}

TEST_F(websocketServer, ClientsWithoutHandshakeAreDroppedAfterFiveSeconds) {
    startServer();
    const auto start = std::chrono::steady_clock::now();
    const int silent = connectTcp(port);
    const int noKey = connectTcp(port);
    sendText(noKey, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.exits.size() == 2; }, 10s));
    for (const WsRecorder::Exit& exit : recorder.exits) {
        EXPECT_EQ(exit.reason, WsExit_LoginTimeout);
        EXPECT_GE(exit.at - start, 5s);
        EXPECT_LT(exit.at - start, 7s);
    }
    // The request without a key reached onMessage as raw bytes, with a negative length.
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].length, -27);
    EXPECT_EQ(recorder.messages[0].type, WsData_None);
    EXPECT_EQ(recorder.logins, 0);
    EXPECT_EQ(readUntil(silent, "never"), "");  // closed without a word
    close(silent);
    close(noKey);
}

TEST_F(websocketServer, UnanswerableHandshakeGivesReason3) {
    startServer("/counter");
    const int client = connectTcp(port);
    sendText(client, kUpgradeRequest);  // asks for "/", the server serves "/counter"
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.exits.size() == 1; }));
    EXPECT_EQ(recorder.exits[0].reason, WsExit_LoginFailed);
    EXPECT_EQ(readUntil(client, "\r\n\r\n"), "");
    close(client);
}

TEST_F(websocketServer, FramesSentRightAfterTheHandshakeAreKept) {
    startServer();
    recorder.greeting = "welcome";
    // The request and two frames in one write; the server greets right after its 101.
    const std::string stream = kUpgradeRequest + maskedText("one") + maskedText("two");
    const int client = connectTcp(port);
    sendText(client, stream);
    const std::string received = readUntil(client, "two");
    EXPECT_NE(received.find("101 Switching Protocols"), std::string::npos);
    EXPECT_NE(received.find("\x81\x07welcome\x81\x03one\x81\x03two"), std::string::npos);
    close(client);
}

TEST_F(websocketServer, ClientConnectKeepsTheFirstFrame) {
    startServer();
    recorder.greeting = "welcome";
    const int fd = ws_connectToServer("127.0.0.1", port, "/", 1000);
    ASSERT_GT(fd, 0);
    char buffer[64];
    Ws_DataType type;
    pollfd readable{fd, POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 2000), 1);
    EXPECT_EQ(ws_recv(fd, buffer, sizeof buffer, &type), 7);
    EXPECT_STREQ(buffer, "welcome");
    ASSERT_EQ(ws_send(fd, "masked", 6, true, WsData_Text), 12);
    ASSERT_EQ(poll(&readable, 1, 2000), 1);
    EXPECT_EQ(ws_recv(fd, buffer, sizeof buffer, &type), 6);
    EXPECT_STREQ(buffer, "masked");
    close(fd);
    EXPECT_LT(ws_connectToServer("127.0.0.1", freePort(), "/", 50), 0);
}

TEST(websocketClient, ConnectsToNodeServer) {
    SKIP_WITHOUT_NODE();
    FILE* node = popen(nodeCommand("server").c_str(), "r");
    char line[128] = {};
    ASSERT_NE(fgets(line, sizeof line, node), nullptr);
    int port = 0;
    ASSERT_EQ(sscanf(line, "port %d", &port), 1) << line;
    const int fd = ws_connectToServer("localhost", port, "/", 2000);
    ASSERT_GT(fd, 0);
    const std::string payload(70000, 'm');
    ASSERT_EQ(ws_send(fd, payload.data(), int(payload.size()), true, WsData_Binary),
              int(payload.size() + 14));
    std::vector<char> buffer(payload.size() + 16);
    Ws_DataType type;
    pollfd readable{fd, POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 2000), 1);
    EXPECT_EQ(ws_recv(fd, buffer.data(), int(buffer.size()), &type), int(payload.size()));
    EXPECT_EQ(type, WsData_Binary);
    EXPECT_EQ(std::string(buffer.data(), payload.size()), payload);
    close(fd);
    EXPECT_EQ(fgets(line, sizeof line, node) ? std::string(line) : "", "ok\n");
    EXPECT_EQ(pclose(node), 0);
}

TEST_F(websocketServer, Client501StartsTheSecondGroup) {
    startServer();
    recorder.echo = false;
    std::vector<int> clients;
    for (int index = 0; index < 500; ++index) clients.push_back(connectTcp(port));
    ASSERT_TRUE(eventually([&] { return server->clientCount == 500; }));
    EXPECT_TRUE(server->thread[0].isRun);
    EXPECT_FALSE(server->thread[1].isRun);
    clients.push_back(connectTcp(port));
    ASSERT_TRUE(eventually([&] { return server->clientCount == 501; }));
    EXPECT_TRUE(server->thread[1].isRun);
    EXPECT_EQ(server->thread[1].clientCount, 1);
    EXPECT_FALSE(server->thread[2].isRun);
    for (int fd : clients) close(fd);
}

TEST_F(websocketServer, SecondServerOnTheSamePortGivesUp) {
    startServer();
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    WsServer* second = ws_server_create(port, nullptr, nullptr, nullptr, nullptr, nullptr);
    while (!second->isExit && std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(10ms);
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    ws_server_release(&second);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(second, nullptr);
    EXPECT_GE(waited, 900ms);
    EXPECT_LT(waited, 5s);
    EXPECT_NE(printed.find("bind timeout 1001 服务器端口占用中,请稍候再试\r\n"), std::string::npos)
        << printed;
}

TEST_F(websocketServer, ReleaseWaitsForEveryDeparture) {
    startServer();
    recorder.exitDelay = 200ms;
    std::vector<int> clients;
    for (int index = 0; index < 3; ++index) clients.push_back(loggedInClient(port));
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.logins == 3; }));
    ws_server_release(&server);
    EXPECT_EQ(recorder.exits.size(), 3u);  // every onExit has returned
    for (const WsRecorder::Exit& exit : recorder.exits) EXPECT_EQ(exit.reason, WsExit_None);
    for (int fd : clients) close(fd);
}
