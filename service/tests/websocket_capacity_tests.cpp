// The server at its limits: every slot taken, and thousands of clients coming and going.
#include <dirent.h>
#include <sys/resource.h>

#include "ws_codec.h"
#include "ws_server_fixture.h"

namespace {

using namespace std::chrono_literals;

int openDescriptors() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (readdir(folder)) ++count;
    closedir(folder);
    return count;
}

// Lets this process hold `wanted` descriptors; false when the hard limit is lower.
bool raiseDescriptorLimit(rlim_t wanted) {
    rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur >= wanted) return true;
    if (limit.rlim_max < wanted) return false;
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::string closeFrame() {
    const uint8_t status[2] = {0x03, 0xE8};
    uint8_t frame[16];
    const int length = ws_enPackage(status, 2, frame, sizeof frame, true, WsData_Close);
    return std::string(reinterpret_cast<char*>(frame), size_t(length));
}

}  // namespace

class websocketCapacity : public WsServerFixture {};

TEST_F(websocketCapacity, Client5001IsRefused) {
    // 5001 client ends here and 5000 server ends, plus the test's own.
    if (!raiseDescriptorLimit(10200)) GTEST_SKIP() << "the descriptor limit is below 10200";
    startServer();
    recorder.echo = false;
    std::vector<int> clients;
    for (int index = 0; index < WS_MAX_CLIENTS; ++index) {
        const int fd = connectTcp(port);
        ASSERT_GE(fd, 0) << index;
        sendText(fd, kUpgradeRequest);
        clients.push_back(fd);
    }
    ASSERT_TRUE(recorder.waitFor([&] { return recorder.logins == WS_MAX_CLIENTS; }, 30s))
        << recorder.logins;
    for (int group = 0; group < WS_GROUP_COUNT; ++group) {
        EXPECT_EQ(server->thread[group].clientCount, WS_GROUP_SIZE);
    }

    testing::internal::CaptureStdout();
    const int refused = connectTcp(port);
    EXPECT_EQ(readUntil(refused, "never"), "");  // closed at once
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("failed, out of range(5000) !!\r\n"), std::string::npos) << printed;
    EXPECT_EQ(server->clientCount, WS_MAX_CLIENTS);
    close(refused);
    for (int fd : clients) close(fd);
    ASSERT_TRUE(
        recorder.waitFor([&] { return int(recorder.exits.size()) == WS_MAX_CLIENTS; }, 30s));
}

TEST_F(websocketCapacity, ClientsComingAndGoingLeaveNothingBehind) {
    startServer();
    const int descriptorsBefore = openDescriptors();
    constexpr int kCycles = 2000;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const int fd = cycle % 4 == 3 ? connectTcp(port) : loggedInClient(port);
        ASSERT_GE(fd, 0) << cycle;
        if (cycle % 4 == 0) sendText(fd, closeFrame());
        if (cycle % 4 == 1) {
            linger reset{1, 0};  // close with a reset
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        close(fd);
    }
    ASSERT_TRUE(recorder.waitFor([&] { return int(recorder.exits.size()) == kCycles; }, 30s))
        << recorder.exits.size();
    // Slots are freed right after onExit returns.
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> hold(server->lock);
        for (const WsClient& client : server->client) {
            if (client.fd != 0 || client.group.load() != nullptr) return false;
        }
        return true;
    }));
    EXPECT_EQ(server->clientCount, 0);
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
    EXPECT_EQ(recorder.logins, kCycles / 4 * 3);
}
