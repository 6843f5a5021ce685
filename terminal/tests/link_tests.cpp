// Raw reports and kind-tagged segments on the wire, as the simulator receives and sends them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <string>
#include <vector>

#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Segment(int kind, const std::string& data) {
    Bytes report(3 + data.size());
    report[0] = static_cast<unsigned char>(kind);
    report[1] = static_cast<unsigned char>(data.size() / 256);
    report[2] = static_cast<unsigned char>(data.size() % 256);
    std::copy(data.begin(), data.end(), report.begin() + 3);
    return report;
}

const unsigned char* Data(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

using TerminalSegmentLink = SimulatedTerminal;

// With P = 512 a segment carries at most 509 data bytes.
TEST_F(TerminalSegmentLink, MessageSplitsIntoSegmentsOfAtMostPMinus3Bytes) {
    struct Case {
        int length;
        std::vector<int> segment_lengths;
    } cases[] = {{509, {509}}, {510, {509, 1}}, {1019, {509, 509, 1}}};
    size_t seen = 0;
    for (const Case& c : cases) {
        const std::string message(c.length, 'x');
        ASSERT_EQ(m_driver->HidWriteN(1, Data(message), c.length, 5), 0);
        const auto reports = ReportsAfter(seen + c.segment_lengths.size());
        ASSERT_EQ(reports.size(), seen + c.segment_lengths.size()) << c.length;
        for (size_t i = 0; i < c.segment_lengths.size(); ++i) {
            const Bytes& report = reports[seen + i];
            const int length = c.segment_lengths[i];
            EXPECT_EQ(Bytes(report.begin(), report.begin() + 3),
                      (Bytes{1, static_cast<unsigned char>(length / 256),
                             static_cast<unsigned char>(length % 256)}));
            EXPECT_EQ(report.size(), size_t(3 + length));
        }
        seen = reports.size();
    }
}

TEST_F(TerminalSegmentLink, LengthLimitsAndEmptySends) {
    const std::string data(600, 'y');
    EXPECT_EQ(m_driver->HIDSendN(4, Data(data), 510, 5), -10);
    EXPECT_EQ(m_driver->HIDSend(const_cast<unsigned char*>(Data(data)), 513, 5), -10);
    EXPECT_EQ(m_driver->HidWriteN(4, Data(data), 0, 5), 0);
    EXPECT_EQ(m_driver->HIDSendN(4, Data(data), 0, 5), 0);
    EXPECT_EQ(m_driver->HIDSend(const_cast<unsigned char*>(Data(data)), 0, 5), 0);
    // Only this report reaches the terminal: nothing before it was sent.
    ASSERT_EQ(m_driver->HIDSendN(4, Data("{}"), 2, 5), 0);
    const auto reports = ReportsAfter(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], Segment(4, "{}"));
}

TEST_F(TerminalSegmentLink, RawWriteSplitsIntoReportsOfP) {
    std::string data(1025, 'r');
    data[1024] = 'z';
    ASSERT_EQ(m_driver->HidWrite(const_cast<unsigned char*>(Data(data)), 1025, 5), 0);
    const auto reports = ReportsAfter(3);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].size(), 512u);
    EXPECT_EQ(reports[1].size(), 512u);
    EXPECT_EQ(reports[2], Bytes{'z'});
}

TEST_F(TerminalSegmentLink, RawReadTakesOneReport) {
    ASSERT_TRUE(m_simulator->SendReport(Bytes{9, 8, 7}));
    Bytes data(512);
    int length = 0;
    ASSERT_EQ(m_driver->HidRead(data.data(), &length, 5), 0);
    EXPECT_EQ(length, 512);  // the device pads every report
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{9, 8, 7, 0}));
}

// How the reader decides that a message is complete, report by report.
TEST_F(TerminalSegmentLink, ReceivedMessageEndsAtClosingBraceFollowedByZero) {
    const std::string full_balanced = "{\"k\":\"" + std::string(509 - 8, 'a') + "\"}";
    const std::string full_open = "{\"o\":{\"k\":\"" + std::string(509 - 13, 'b') + "\"}";
    struct Case {
        const char* what;
        std::vector<std::string> segments;
        std::string message;
    } cases[] = {
        {"one segment, unbalanced JSON", {"{\"a\":{\"b\":1}"}, "{\"a\":{\"b\":1}"},
        {"inner brace then more",
         {std::string(509, 'c'), "}tail}"},
         std::string(509, 'c') + "}tail}"},
        {"a full segment closing the JSON", {full_balanced}, full_balanced},
        {"a full segment closing an inner object", {full_open, "}"}, full_open + "}"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(full_balanced.size(), 509u);
        ASSERT_EQ(full_open.size(), 509u);
        for (const std::string& segment : c.segments) m_simulator->SendReport(Segment(4, segment));
        Bytes data(4096);
        int length = 0;
        ASSERT_EQ(m_driver->HidReadN(4, data.data(), &length, 5, 4096), 0) << c.what;
        EXPECT_EQ(std::string(data.begin(), data.begin() + length), c.message) << c.what;
    }
}

TEST_F(TerminalSegmentLink, SegmentDeclaringMoreThanItCarriesGivesReceiveError) {
    for (int kind : {4, 2}) {
        Bytes report = Segment(kind, "{\"x\":1}");
        report[2] = 40;  // declares 40 bytes, carries 7
        m_simulator->SendReport(report, false);
        Bytes data(4096);
        int length = 0;
        EXPECT_EQ(m_driver->HidReadN(kind, data.data(), &length, 5, 4096), -5) << kind;
    }
}

TEST_F(TerminalSegmentLink, MessageLongerThanTheBufferIsDrainedAndRejected) {
    m_simulator->SendReport(Segment(4, std::string(509, 'l')));
    m_simulator->SendReport(Segment(4, "{}"));
    m_simulator->SendReport(Segment(4, "{\"next\":1}"));
    Bytes data(600, 0xEE);
    int length = 0;
    EXPECT_EQ(m_driver->HidReadN(4, data.data(), &length, 5, 100), -5);
    EXPECT_EQ(data[100], 0xEE);  // nothing written past the capacity
    length = 0;
    ASSERT_EQ(m_driver->HidReadN(4, data.data(), &length, 5, 100), 0);
    EXPECT_EQ(std::string(data.begin(), data.begin() + length), "{\"next\":1}");
}

TEST_F(TerminalSegmentLink, PullReportIsOneCompleteBlock) {
    m_simulator->SendReport(Segment(2, "no brace"));
    Bytes data(512);
    int length = 99;  // replaced, not appended to
    ASSERT_EQ(m_driver->HidReadN(2, data.data(), &length, 5, 512), 0);
    EXPECT_EQ(std::string(data.begin(), data.begin() + length), "no brace");
}

TEST_F(TerminalSegmentLink, TimeoutZeroStillSendsOnce) {
    std::atomic<std::time_t> now{1000};
    m_driver->UseClock([&] { return now += 100; });  // every look at the clock is too late
    ASSERT_EQ(m_driver->HIDSendN(4, Data("{}"), 2, 0), 0);
    EXPECT_EQ(ReportsAfter(1).size(), 1u);
}

TEST_F(TerminalSegmentLink, ReadWithTimeoutZeroEndsWhenTheSecondChanges) {
    Bytes data(4096);
    int length = 0;
    EXPECT_EQ(m_driver->HidReadN(4, data.data(), &length, 0, 4096), -2);
    EXPECT_EQ(m_driver->HidRead(data.data(), &length, 0), -2);
}

TEST_F(TerminalSegmentLink, ForcedReturnEndsAWaitingReadAndClearsTheFlag) {
    // The flag is raised while the read is already waiting: from its third look at the clock.
    int looks = 0;
    m_driver->UseClock([&] {
        if (++looks == 3) m_driver->SetForcedReturn(true);
        return std::time(nullptr);
    });
    Bytes data(4096);
    int length = 0;
    EXPECT_EQ(m_driver->HidReadN(4, data.data(), &length, 60, 4096), -9);
    EXPECT_FALSE(m_driver->ForcedReturnPending());
}

}  // namespace
}  // namespace countermate::terminal::testing
