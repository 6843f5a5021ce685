// Frame assembly from stream reports, as tables of reports (each padded to the packet size, as a
// HID device sends them): the acknowledgements owed, the frames handed out, what is dropped.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FrameAssembly.h"
#include "StreamFraming.h"
#include "StreamReports.h"

namespace countermate::terminal {
namespace {

constexpr int kPacketSize = 512;
constexpr size_t kStartRoom = kPacketSize - stream::kFrameStartHeaderBytes;  // 506
constexpr size_t kPartRoom = kPacketSize - stream::kFrameReportHeaderBytes;  // 510

using Report = testing::StreamReport;
using testing::Joined;

std::string Bytes(size_t from, size_t count) { return testing::FrameBytes(from, count); }
Report Padded(Report report) { return testing::Padded(std::move(report), kPacketSize); }
Report FrameStart(uint32_t total, const std::string& bytes) {
    return testing::FrameStart(total, bytes, kPacketSize);
}
Report FramePart(const std::string& bytes) { return testing::FramePart(bytes, kPacketSize); }
Report FrameEnd(const std::string& bytes) { return testing::FrameEnd(bytes, kPacketSize); }
Report SigningEnd(unsigned char status) { return testing::SigningEnd(status, kPacketSize); }
std::vector<Report> Frame(size_t total) { return testing::FrameOf(Bytes(0, total), kPacketSize); }

std::vector<Report> Repeated(const Report& report, int times) {
    return std::vector<Report>(static_cast<size_t>(times), report);
}

struct Fed {
    std::string acknowledgements;     // S, P, E in the order owed
    std::vector<std::string> events;  // "frame <length> ok|corrupt", "signing end <status>"
};

Fed FeedAll(const std::vector<Report>& reports, size_t capacity, StreamKind kind,
            EarlyParts early) {
    std::vector<unsigned char> frame(capacity + 16, 0xEE);  // bytes past capacity must stay
    FrameAssembly assembly(frame.data(), capacity, kPacketSize, kind, early);
    Fed fed;
    for (const Report& report : reports) {
        const AssemblyStep step = assembly.Feed(report.data(), static_cast<int>(report.size()));
        const char owed[] = {'\0', 'S', 'P', 'E'};
        if (step.acknowledgement != Acknowledgement::kNone) {
            fed.acknowledgements += owed[static_cast<int>(step.acknowledgement)];
        }
        if (step.outcome == AssemblyOutcome::kFrameReady) {
            const size_t length = assembly.FrameLength();
            const bool intact = std::string(frame.begin(), frame.begin() + length) ==
                                Bytes(0, length);
            fed.events.push_back("frame " + std::to_string(length) + (intact ? " ok" : " corrupt"));
        }
        if (step.outcome == AssemblyOutcome::kSigningEnded) {
            fed.events.push_back("signing end " + std::to_string(step.signing_status));
        }
    }
    for (size_t i = capacity; i < frame.size(); ++i)
        EXPECT_EQ(frame[i], 0xEE) << "written past capacity";
    return fed;
}

struct Case {
    const char* what;
    std::vector<Report> reports;
    std::string acknowledgements;
    std::vector<std::string> events;
    size_t capacity = 1 << 20;
    StreamKind kind = StreamKind::kVideo;
    EarlyParts early = EarlyParts::kCounted;
};

TEST(FrameAssembly, ReportsGiveFramesAndAcknowledgements) {
    const Case cases[] = {
        {"1000 bytes in a start and an end report",
         {FrameStart(1000, Bytes(0, 506)), FrameEnd(Bytes(506, 494))},
         "SE",
         {"frame 1000 ok"}},
        {"parts acknowledged every sixth, and the end",
         Frame(kStartRoom + 7 * kPartRoom + 100),
         "SPE",
         {"frame 4176 ok"}},
        {"a frame ending inside its start report: the rest is padding",
         {FrameStart(100, Bytes(0, 100)), FrameEnd("")},
         "SE",
         {"frame 100 ok"}},
        {"twelve parts with no frame in progress are acknowledged twice",
         Repeated(FramePart(Bytes(0, kPartRoom)), 12),
         "PP",
         {}},
        {"parts before the first start skipped by a reader that ignores them",
         Joined({Repeated(FramePart(Bytes(0, kPartRoom)), 12), Frame(1000)}),
         "SE",
         {"frame 1000 ok"},
         1 << 20,
         StreamKind::kVideo,
         EarlyParts::kIgnored},
        {"parts overflowing the total drop the frame; the next frame arrives",
         Joined({{FrameStart(600, Bytes(0, 506)), FramePart(Bytes(506, 94)), FrameEnd("")},
                 Frame(1000)}),
         "SSE",
         {"frame 1000 ok"}},
        {"an end carrying more than a report can drops the frame; the next frame arrives",
         Joined({{FrameStart(506 + 511, Bytes(0, 506)), FrameEnd(Bytes(506, 510))}, Frame(1000)}),
         "SSE",
         {"frame 1000 ok"}},
        {"a frame larger than the buffer passes acknowledged but is not handed out",
         Joined({Frame(1200), Frame(1000)}),
         "SESE",
         {"frame 1000 ok"},
         1000},
        {"a start declaring no bytes begins no frame", {FrameStart(0, ""), FrameEnd("")}, "S", {}},
        {"reports without the marker, unknown functions and a signing end in a video are ignored",
         Joined({{Padded({0x05, stream::kFrameStart, 0, 0, 0, 9}), Padded({stream::kMarker, 0x07}),
                  SigningEnd(0), FrameEnd("")},
                 Frame(700)}),
         "SE",
         {"frame 700 ok"}},
        {"the signing screen: a frame, then the end with its status",
         Joined({Frame(2000), {SigningEnd(2)}}),
         "SE",
         {"frame 2000 ok", "signing end 2"},
         1 << 20,
         StreamKind::kSigningScreen},
    };
    for (const Case& c : cases) {
        const Fed fed = FeedAll(c.reports, c.capacity, c.kind, c.early);
        EXPECT_EQ(fed.acknowledgements, c.acknowledgements) << c.what;
        EXPECT_EQ(fed.events, c.events) << c.what;
    }
}

TEST(FrameAssembly, SigningEndStatusesGiveTheReadersResults) {
    const std::pair<int, int> statuses[] = {{0, 1},   {1, -9},    {2, -2},
                                            {3, -20}, {255, -20}, {-1, -20}};
    for (const auto& [status, result] : statuses) {
        EXPECT_EQ(SigningEndResult(status), result) << "status " << status;
    }
}

TEST(FrameAssembly, AcknowledgementsCarryTheFunctionTheyAnswer) {
    unsigned char bytes[3];
    AcknowledgementBytes(Acknowledgement::kFrameStart, bytes);
    EXPECT_EQ(std::string(bytes, bytes + 3), std::string("\x06\x01\x00", 3));
    AcknowledgementBytes(Acknowledgement::kFramePart, bytes);
    EXPECT_EQ(std::string(bytes, bytes + 3), std::string("\x06\x02\x00", 3));
    AcknowledgementBytes(Acknowledgement::kFrameEnd, bytes);
    EXPECT_EQ(std::string(bytes, bytes + 3), std::string("\x06\x03\x00", 3));
}

}  // namespace
}  // namespace countermate::terminal
