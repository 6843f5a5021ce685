// What the driver makes of the terminal's bytes: where a message split over segments ends (the
// rule alone, as a table of reports), and what a pull whose size the terminal never sends costs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ScriptedLink.h"
#include "SegmentFraming.h"

namespace countermate::terminal::testing {
namespace {

// A small packet size keeps every report readable: 6 data bytes fill a segment.
constexpr int kSmallPacket = 9;
constexpr int kFull = kSmallPacket - segment::kHeaderBytes;

// One report of the table: the segment's data, the bytes of the report after it (the rest is
// zero padding), and whether the message is complete once it has been fed.
struct Step {
    std::string data;
    std::string after;
    bool complete;
};

std::vector<unsigned char> Report(const Step& step) {
    std::vector<unsigned char> report(kSmallPacket, 0);
    segment::WriteHeader(report.data(), segment::kCommand, static_cast<int>(step.data.size()));
    const std::string bytes = step.data + step.after;
    std::copy(bytes.begin(), bytes.end(), report.begin() + segment::kHeaderBytes);
    return report;
}

TEST(MessageEnd, CompleteOrNotReportByReport) {
    const struct {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        // "}" then padding ends a short message
        {"short", {{"{}", "", true}}},
        // the end needs no balanced JSON while the report has room after "}"
        {"unbalanced", {{"{{}", "", true}}},
        // a last byte other than "}" reads on
        {"open", {{"{\"a\"", "", false}}},
        // "}" followed by a non-zero byte inside the report is not the end
        {"byte after brace", {{"{}", "x", false}}},
        {"control byte after brace", {{"{}", "\x01", false}}},
        // an empty segment ends nothing
        {"empty", {{"", "", false}}},
        // a full segment ends the message when it closes every brace
        {"full, balanced", {{"{\"ab\"}", "", true}}},
        // a full segment that closes an inner object only reads on, until the outer "}"
        {"full, inner object", {{"{{\"a\"}", "", false}, {"}", "", true}}},
        // a "}" inside a string balances nothing
        {"full, brace in string", {{"{\"abc}", "", false}, {"\"}", "", true}}},
        // an escaped quote keeps the string open
        {"full, escaped quote", {{"{\"a\\\"}", "", false}, {"\"}", "", true}}},
        // an escaped backslash does not escape the quote after it
        {"full, escaped backslash", {{"{\"\\\\\"}", "", true}}},
        // a message over three segments ends at the last
        {"three segments", {{"{\"k\":\"", "", false}, {"vvvvvv", "", false}, {"\"}", "", true}}},
        // a full last segment ends a long message once its braces balance
        {"two full segments", {{"{\"k\":\"", "", false}, {"vvvv\"}", "", true}}},
        // more closing than opening braces never balances a full segment
        {"full, over-closed", {{"}}}}}}", "", false}, {"}", "", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        segment::MessageEnd end;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            ASSERT_LE(step.data.size() + step.after.size(), size_t(kFull));
            const std::vector<unsigned char> report = Report(step);
            EXPECT_EQ(end.Feed(report.data(), segment::DeclaredLength(report.data()), kSmallPacket),
                      step.complete)
                << "report " << i;
        }
    }
}

// The process's address space in bytes.
long long AddressSpace() {
    long long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return pages * sysconf(_SC_PAGESIZE);
}

// A terminal that announces the largest size and sends 100 bytes must not make the driver set
// memory aside for the whole announced file (near 3 GB of Base64) before its data arrives.
TEST(PullIntoAllocatedText, SizeNeverSentCostsOnlyWhatArrives) {
    ScriptedDriver terminal([](const ScriptedLink::Report& written) {
        if (written[0] != segment::kPull) return std::vector<ScriptedLink::Report>{};
        const std::string answer =
            R"({"success":true,"statusCode":0,"data":{"fileName":"/sdcard/f","fileSize":)" +
            std::to_string(INT_MAX) + "}}";
        std::vector<ScriptedLink::Report> reports =
            ScriptedLink::Segments(segment::kPull, answer, ScriptedDriver::kPacketSize);
        const std::string data(100, 'd');
        reports.push_back(
            ScriptedLink::Segments(segment::kPull, data, ScriptedDriver::kPacketSize)[0]);
        return reports;
    });
    // The driver looks at its clock while it waits for the data: the largest address space
    // seen there is what the pull holds while the terminal keeps it waiting.
    const long long before = AddressSpace();
    long long largest = before;
    ScriptedLink* link = terminal.link;
    terminal.driver->UseClock([&largest, link] {
        largest = std::max(largest, AddressSpace());
        return std::time(nullptr) + link->IdleSeconds();
    });
    char* output = reinterpret_cast<char*>(1);
    EXPECT_EQ(terminal.driver->PullFile_Base64_Calloc("/sdcard/f", &output), -2);
    EXPECT_EQ(output, nullptr);
    EXPECT_LT(largest - before, 256LL << 20);
}

}  // namespace
}  // namespace countermate::terminal::testing
