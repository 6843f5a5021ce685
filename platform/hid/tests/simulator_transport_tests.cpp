// libHid's results over the simulator socket: 0 while the link is idle, negative once the peer
// has hung up, and a lost device served again after a close and an open.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "HidManager.h"

namespace {

constexpr int kPacketSize = 512;

// A listening SOCK_SEQPACKET socket in place of the simulator, and a HID manager pointed at it.
class HidOverSimulatorSocket : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/countermate-hid-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        const std::string path = m_folder + "/terminal.sock";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        m_listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_listener, 0);
        ASSERT_EQ(bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(m_listener, 4), 0);
        setenv("COUNTERMATE_HID_SIM", path.c_str(), 1);
        m_manager = CreateHidManager();
        ASSERT_EQ(m_manager->Open(0x1217, 0x9455), 1);
        m_peer = AcceptPeer();
        ASSERT_GE(m_peer, 0);
    }

    void TearDown() override {
        DestroyHidManager(m_manager);
        if (m_peer >= 0) close(m_peer);
        close(m_listener);
        unsetenv("COUNTERMATE_HID_SIM");
        std::filesystem::remove_all(m_folder);
    }

    // The connection the manager made, once it is queued (sleeps on the listener, bounded).
    int AcceptPeer() {
        pollfd entry{m_listener, POLLIN, 0};
        if (poll(&entry, 1, 5000) != 1) return -1;
        return accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    }

    void HangUp() {
        close(m_peer);
        m_peer = -1;
    }

    int Read() { return m_manager->Read(m_buffer.data(), kPacketSize); }
    int Write() { return m_manager->Write(m_report.data(), static_cast<int>(m_report.size())); }

    std::string m_folder;
    int m_listener = -1;
    int m_peer = -1;
    CHidManager* m_manager = nullptr;
    std::vector<unsigned char> m_buffer = std::vector<unsigned char>(kPacketSize);
    std::vector<unsigned char> m_report = std::vector<unsigned char>(kPacketSize + 1, 7);
};

TEST_F(HidOverSimulatorSocket, IdleLinkAnswersZero) {
    EXPECT_EQ(Read(), 0);
    EXPECT_EQ(Read(), 0);
    // A peer that never reads: writes succeed until its queue is full, then answer 0, not gone.
    int result = 0;
    int written = 0;
    for (; written < 100000 && (result = Write()) > 0; ++written) {
    }
    EXPECT_GT(written, 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Write(), 0);
    // Once the peer takes a packet there is room again.
    unsigned char packet[kPacketSize + 1];
    ASSERT_EQ(recv(m_peer, packet, sizeof packet, 0), kPacketSize);
    EXPECT_EQ(Write(), kPacketSize + 1);
}

TEST_F(HidOverSimulatorSocket, HungUpPeerIsGoneAfterWhatItSent) {
    const unsigned char last[3] = {4, 0, 0};
    ASSERT_EQ(send(m_peer, last, sizeof last, 0), 3);
    HangUp();
    EXPECT_EQ(Read(), 3);  // queued before the hang-up: still delivered
    for (int again = 0; again < 2; ++again) {
        EXPECT_LT(Read(), 0) << again;
        EXPECT_LT(Write(), 0) << again;
    }
}

TEST_F(HidOverSimulatorSocket, PeerThatHangsUpOnAFullQueueFailsTheWrite) {
    while (Write() > 0) {
    }
    HangUp();
    EXPECT_LT(Write(), 0);
}

TEST_F(HidOverSimulatorSocket, ClosedOrUnopenedManagerAnswersNegative) {
    ASSERT_EQ(m_manager->Close(), 0);
    EXPECT_LT(Read(), 0);
    EXPECT_LT(Write(), 0);
    CHidManager* unopened = CreateHidManager();
    EXPECT_LT(unopened->Read(m_buffer.data(), kPacketSize), 0);
    EXPECT_LT(unopened->Write(m_report.data(), kPacketSize + 1), 0);
    DestroyHidManager(unopened);
}

// A lost device stays lost until it is closed; opening it again reaches the simulator anew.
TEST_F(HidOverSimulatorSocket, LostDeviceIsServedAgainAfterCloseAndOpen) {
    HangUp();
    EXPECT_LT(Read(), 0);
    EXPECT_EQ(m_manager->Open(0x1217, 0x9455), 1);  // still open, on the dead link
    EXPECT_LT(Read(), 0);
    ASSERT_EQ(m_manager->Close(), 0);
    ASSERT_EQ(m_manager->Open(0x1217, 0x9455), 1);
    m_peer = AcceptPeer();
    ASSERT_GE(m_peer, 0);
    EXPECT_EQ(Read(), 0);
    const unsigned char answer[4] = {4, 0, 1, '}'};
    ASSERT_EQ(send(m_peer, answer, sizeof answer, 0), 4);
    EXPECT_EQ(Read(), 4);
    EXPECT_EQ(Write(), kPacketSize + 1);
}

}  // namespace
