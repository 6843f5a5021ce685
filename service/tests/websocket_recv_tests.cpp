// ws_recv and ws_send on a connected socket pair: what arrives whole, late, too big, or as
// control frames, and frames from two threads that must not interleave.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ws_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes maskedFrame(Ws_DataType type, const std::string& payload) {
    Bytes frame(payload.size() + kWsMaxHeader);
    const int length = ws_enPackage(reinterpret_cast<const uint8_t*>(payload.data()),
                                    unsigned(payload.size()), frame.data(), unsigned(frame.size()),
                                    true, type);
    frame.resize(size_t(length));
    return frame;
}

class websocketRecv : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
    void TearDown() override {
        close(ends[0]);
        close(ends[1]);
    }
    void peerWrites(const Bytes& bytes) {
        ASSERT_EQ(write(peer(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What is queued for the peer, without waiting.
    Bytes peerReads() {
        Bytes bytes(256);
        const ssize_t got = recv(peer(), bytes.data(), bytes.size(), MSG_DONTWAIT);
        bytes.resize(got > 0 ? size_t(got) : 0);
        return bytes;
    }
    int local() const { return ends[0]; }
    int peer() const { return ends[1]; }

    int ends[2] = {-1, -1};
    char buffer[256] = {};
    Ws_DataType type = WsData_None;
};

}  // namespace

TEST_F(websocketRecv, FramesOfOneWriteAreDeliveredOneByOne) {
    Bytes stream = maskedFrame(WsData_Text, "first");
    const Bytes second = maskedFrame(WsData_Binary, "2nd");
    stream.insert(stream.end(), second.begin(), second.end());
    peerWrites(stream);
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 5);
    EXPECT_STREQ(buffer, "first");
    EXPECT_EQ(type, WsData_Text);
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 3);
    EXPECT_STREQ(buffer, "2nd");
    EXPECT_EQ(type, WsData_Binary);
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 0);
    EXPECT_EQ(type, WsData_None);
}

TEST_F(websocketRecv, LateBytesCompleteTheFrameWhileTheyKeepComing) {
    const Bytes frame = maskedFrame(WsData_Text, "0123456789");
    peerWrites(Bytes(frame.begin(), frame.begin() + 4));
    // Four more pieces, 120 ms apart: longer in total than the 200 ms stall limit.
    std::thread writer([&] {
        for (size_t offset = 4; offset < frame.size(); offset += 3) {
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
            const size_t count = std::min<size_t>(3, frame.size() - offset);
            ASSERT_EQ(write(peer(), frame.data() + offset, count), ssize_t(count));
        }
    });
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 10);
    EXPECT_STREQ(buffer, "0123456789");
    writer.join();
}

TEST_F(websocketRecv, StalledFrameIsGivenUpAfter200Ms) {
    const Bytes frame = maskedFrame(WsData_Text, "0123456789");
    peerWrites(Bytes(frame.begin(), frame.begin() + 9));  // header of 6 and 3 payload bytes
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), -9);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_EQ(type, WsData_Text);
}

TEST_F(websocketRecv, OversizedFrameIsDiscardedWithWhatIsQueued) {
    Bytes stream = maskedFrame(WsData_Text, std::string(20, 'x'));
    const Bytes next = maskedFrame(WsData_Text, "next");
    stream.insert(stream.end(), next.begin(), next.end());
    peerWrites(stream);
    testing::internal::CaptureStdout();
    EXPECT_LT(ws_recv(local(), buffer, 16, &type), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("warnning, pkgLen(26) > dataMaxLen(16)\r\n"), std::string::npos)
        << printed;
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 0);  // nothing left
}

TEST_F(websocketRecv, PingIsAnsweredWithItsPayload) {
    peerWrites(maskedFrame(WsData_Ping, ""));
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 0);
    EXPECT_EQ(type, WsData_Ping);
    EXPECT_EQ(peerReads(), (Bytes{0x8A, 0x00}));

    peerWrites(maskedFrame(WsData_Ping, "hi"));
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 0);
    EXPECT_EQ(peerReads(), (Bytes{0x8A, 0x02, 'h', 'i'}));

    for (Ws_DataType control : {WsData_Pong, WsData_Close}) {
        peerWrites(maskedFrame(control, ""));
        EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 0);
        EXPECT_EQ(type, control);
        EXPECT_TRUE(peerReads().empty());
    }
}

TEST_F(websocketRecv, RawTextComesBackNegative) {
    const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    peerWrites(Bytes(request.begin(), request.end()));
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), -int(request.size()));
    EXPECT_EQ(std::string(buffer, request.size()), request);
    EXPECT_EQ(type, WsData_None);

    peerWrites({0x01, 0x03, 'a', 'b', 'c'});  // FIN clear
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), -5);
}

TEST_F(websocketRecv, SmallOrMissingBuffers) {
    peerWrites(maskedFrame(WsData_Text, "abc"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ws_recv(local(), buffer, 15, &type), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("error, dataMaxLen must be >= 16 \r\n"),
              std::string::npos);
    EXPECT_EQ(ws_recv(local(), nullptr, 0, &type), 0);  // discards what was queued
    EXPECT_EQ(ws_recv(local(), buffer, sizeof buffer, &type), 0);
}

TEST_F(websocketRecv, SendWritesOneFrameOrRawBytes) {
    EXPECT_EQ(ws_send(local(), "hi", 2, false, WsData_Text), 4);
    EXPECT_EQ(peerReads(), (Bytes{0x81, 0x02, 'h', 'i'}));
    EXPECT_EQ(ws_send(local(), "raw", 3, false, WsData_None), 3);
    EXPECT_EQ(peerReads(), (Bytes{'r', 'a', 'w'}));
    EXPECT_EQ(ws_send(local(), "x", -1, false, WsData_Text), 0);
    EXPECT_EQ(ws_send(local(), "x", 1, false, Ws_DataType(9)), 0);
    EXPECT_TRUE(peerReads().empty());
    EXPECT_EQ(ws_send(local(), "abc", 3, true, WsData_Text), 9);
    EXPECT_EQ(ws_recv(peer(), buffer, sizeof buffer, &type), 3);
    EXPECT_STREQ(buffer, "abc");
    close(ends[1]);
    ends[1] = -1;
    EXPECT_LT(ws_send(local(), "hi", 2, false, WsData_Text), 0);  // no SIGPIPE
}

TEST_F(websocketRecv, FramesFromTwoThreadsDoNotInterleave) {
    constexpr int kFramesPerThread = 50;
    constexpr size_t kPayload = 300 * 1024;
    auto sender = [&](char fill) {
        const std::string payload(kPayload, fill);
        for (int index = 0; index < kFramesPerThread; ++index) {
            if (ws_send(local(), payload.data(), int(kPayload), false, WsData_Binary) < 0) return;
        }
    };
    std::thread first(sender, 'a');
    std::thread second(sender, 'b');
    std::vector<char> received(kPayload + kWsMaxHeader + 1);
    int intactFrames = 0;
    for (int frames = 0; frames < 2 * kFramesPerThread; ++frames) {
        pollfd readable{peer(), POLLIN, 0};
        if (poll(&readable, 1, 5000) != 1) break;
        const int result = ws_recv(peer(), received.data(), int(received.size()), &type);
        if (result != int(kPayload) ||
            std::count(received.begin(), received.begin() + long(kPayload), received[0]) !=
                long(kPayload)) {
            break;
        }
        ++intactFrames;
    }
    EXPECT_EQ(intactFrames, 2 * kFramesPerThread);
    shutdown(peer(), SHUT_RDWR);  // releases the senders if the reading stopped early
    first.join();
    second.join();
}
