// The terminal's loss: a waiting send or read ends at once with the link's failure code, the
// port is closed, and the next open serves a terminal that came back.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

// Far below the 60-second waits these tests start: the call did not wait out its time-out.
constexpr std::chrono::seconds kPromptly{10};

class TerminalLinkLoss : public SimulatedTerminal {
protected:
    // The simulator back on the same socket, and the port opened on it again.
    void ReturnAndReopen() {
        ASSERT_TRUE(m_simulator->Start());
        ASSERT_EQ(m_driver->HIDOpenPort(), 0);
        ASSERT_TRUE(m_simulator->WaitForConnection(5000));
    }

    // A ReadQR waiting 60 s on another thread for an answer that never comes, once the
    // terminal has its command; the future holds its result.
    std::future<int> WaitingReadQR() {
        sim::CommandScript never;
        never.fault = sim::Fault::kNeverAnswer;
        m_simulator->Script("ReadQR", never);
        std::future<int> waiting = OnAnotherThread([this] {
            char code[1024] = {};
            return m_driver->ReadQR(60, code);
        });
        EXPECT_TRUE(m_simulator->WaitForCommands(1, 5000));  // sent: the answer is waited for
        return waiting;
    }

    // Runs `call` on its own thread; the future holds its result.
    static std::future<int> OnAnotherThread(std::function<int()> call) {
        return std::async(std::launch::async, std::move(call));
    }
};

TEST_F(TerminalLinkLoss, WaitingAnswerEndsWithReceiveFailureWhenTheTerminalGoes) {
    std::future<int> waiting = WaitingReadQR();
    m_simulator->Stop();
    ASSERT_EQ(waiting.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(waiting.get(), -5);
    EXPECT_FALSE(m_driver->PortOpen());
}

TEST_F(TerminalLinkLoss, TerminalThatComesBackIsServedAfterTheNextOpen) {
    m_simulator->Stop();
    char device_id[96] = {};
    EXPECT_EQ(m_driver->GetDevID(device_id), -4);
    EXPECT_FALSE(m_driver->PortOpen());
    ASSERT_TRUE(m_simulator->Start());
    // The driver does not reconnect by itself: the port stays closed until it is opened.
    EXPECT_EQ(m_driver->GetDevID(device_id), -4);
    ASSERT_EQ(m_driver->HIDOpenPort(), 0);
    EXPECT_TRUE(m_simulator->WaitForConnection(5000));
    ASSERT_EQ(m_driver->GetDevID(device_id), 0);
    EXPECT_STREQ(device_id, "SIMDEV-0001");
}

// Each entry point of the link on a terminal that was there when the port opened and has gone
// since: it fails at once, closes the port, and fails the same way while the port is closed.
TEST_F(TerminalLinkLoss, EverySendAndReadFailsAtOnceOnALostLink) {
    std::vector<unsigned char> data(1100, '{');
    std::vector<unsigned char> received(4096);
    int length = 0;
    struct Case {
        const char* what;
        std::function<int()> call;
        int result;
    } cases[] = {
        {"HIDSend", [&] { return m_driver->HIDSend(data.data(), 4, 60); }, -4},
        {"HidWrite", [&] { return m_driver->HidWrite(data.data(), 1100, 60); }, -4},
        {"HIDSendN", [&] { return m_driver->HIDSendN(4, data.data(), 4, 60); }, -4},
        {"HidWriteN", [&] { return m_driver->HidWriteN(4, data.data(), 1100, 60); }, -4},
        {"HidRead", [&] { return m_driver->HidRead(received.data(), &length, 60); }, -5},
        {"HidReadN", [&] { return m_driver->HidReadN(4, received.data(), &length, 60, 4096); }, -5},
    };
    for (const Case& c : cases) {
        m_simulator->Stop();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, kPromptly) << c.what;
        EXPECT_FALSE(m_driver->PortOpen()) << c.what;
        EXPECT_EQ(c.call(), c.result) << c.what << ", port closed";
        ReturnAndReopen();
        if (HasFatalFailure()) return;
    }
}

// The terminal stops reading, so a large raw write waits for room while a command waits for
// its answer: two threads inside the HID manager when the terminal goes. Each ends with its own
// code, and the port is closed only once neither is inside, so it opens again cleanly.
TEST_F(TerminalLinkLoss, ReaderAndWriterOnTwoThreadsBothEnd) {
    sim::CommandScript stall;
    stall.fault = sim::Fault::kStall;
    m_simulator->Script("Reboot", stall);
    std::future<int> reader = OnAnotherThread([this] {
        CJsonObject answer;
        return m_driver->RunCommand("Reboot", nullptr, 60, StatusRule::kNotRead, answer);
    });
    ASSERT_TRUE(m_simulator->WaitForCommands(1, 5000));
    // Far more raw reports than the stalled connection holds: this write can only fail.
    std::vector<unsigned char> raw(1 << 20, 0xF0);
    std::future<int> writer = OnAnotherThread(
        [&] { return m_driver->HidWrite(raw.data(), static_cast<int>(raw.size()), 60); });
    m_simulator->Stop();
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    ASSERT_EQ(writer.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), -5);
    EXPECT_EQ(writer.get(), -4);
    EXPECT_FALSE(m_driver->PortOpen());
    m_simulator->Script("Reboot", sim::CommandScript{});
    ReturnAndReopen();
    Settle();
}

// Closing the port while another thread waits on it is safe, and ends that wait: nothing can
// arrive on a closed port.
TEST_F(TerminalLinkLoss, ClosingThePortEndsAWaitOnAnotherThread) {
    std::future<int> waiting = WaitingReadQR();
    EXPECT_EQ(m_driver->HIDClosePort(), 0);
    ASSERT_EQ(waiting.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(waiting.get(), -5);
    EXPECT_FALSE(m_driver->PortOpen());
}

}  // namespace
}  // namespace countermate::terminal::testing
