// The driver against a scripted terminal on an in-memory link: answers whose report boundaries
// fall at every byte, and pulls whose announced size is wrong.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DEV_CounterMate.h"
#include "ScriptedLink.h"
#include "TestFiles.h"

namespace countermate::terminal::testing {
namespace {

using Report = ScriptedLink::Report;

std::string DataOf(const Report& report) {
    const int length = segment::DeclaredLength(report.data());
    return std::string(report.begin() + segment::kHeaderBytes,
                       report.begin() + segment::kHeaderBytes + length);
}

// The terminal fills every report but the last, so where a report ends inside the answer depends
// on the answer's length: padding it one byte at a time puts that boundary at every byte of the
// answer's end, the closing braces included.
TEST(ScriptedTerminal, AnswerSplitAtEveryBytePositionIsReadWhole) {
    std::string answer;
    ScriptedDriver terminal([&answer](const Report& written) {
        if (written[0] != segment::kCommand || DataOf(written).back() != '\r')
            return std::vector<Report>{};
        return ScriptedLink::Segments(segment::kCommand, answer, ScriptedDriver::kPacketSize);
    });
    const int segment_capacity = ScriptedDriver::kPacketSize - segment::kHeaderBytes;
    for (int pad = 0; pad <= segment_capacity + 2; ++pad) {
        answer = R"({"success":true,"statusCode":0,"data":{"deviceId":"SIM-7","pad":")" +
                 std::string(static_cast<size_t>(pad), 'p') + R"("}})";
        char device_id[96] = {};
        ASSERT_EQ(terminal.driver->GetDevID(device_id), 0)
            << "answer of " << answer.size() << " bytes";
        ASSERT_STREQ(device_id, "SIM-7") << "answer of " << answer.size() << " bytes";
    }
}

// A terminal that announces `announced` bytes for a pull and then sends `sent` of them in one
// report (none when `sent` is empty).
ScriptedLink::Responder PullAnswer(long long announced, std::string sent) {
    return [announced, sent](const Report& written) {
        if (written[0] != segment::kPull) return std::vector<Report>{};
        const std::string answer =
            R"({"success":true,"statusCode":0,"data":{"fileName":"/sdcard/f","fileSize":)" +
            std::to_string(announced) + "}}";
        std::vector<Report> reports =
            ScriptedLink::Segments(segment::kPull, answer, ScriptedDriver::kPacketSize);
        if (!sent.empty()) {
            for (Report& data :
                 ScriptedLink::Segments(segment::kPull, sent, ScriptedDriver::kPacketSize)) {
                reports.push_back(std::move(data));
            }
        }
        return reports;
    };
}

TEST(ScriptedTerminal, PullsWhoseAnnouncedSizeIsWrongFailWithoutHarm) {
    const std::string hundred(100, 'h');
    struct Case {
        const char* what;
        long long announced;
        std::string sent;
        int result;
        std::string file;  // the local file afterwards
    } cases[] = {
        {"as announced", 100, hundred, 0, hundred},
        {"nothing announced", 0, "", 0, ""},
        {"a negative size", -7, "", -7, "untouched"},
        {"more data than announced", 100, std::string(150, 'm'), -5, ""},
        {"a size the terminal never sends", INT_MAX, hundred, -2, hundred},
        {"a size beyond what a size can hold", 1LL << 40, "", -7, "untouched"},
    };
    char folder[] = "/tmp/countermate-scripted-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string local = WriteTestFile(std::string(folder) + "/pulled", "untouched");
        ScriptedDriver terminal(PullAnswer(c.announced, c.sent));
        EXPECT_EQ(terminal.driver->PullFile("/sdcard/f", const_cast<char*>(local.c_str())),
                  c.result);
        EXPECT_EQ(ReadTestFile(local), c.file);

        ScriptedDriver in_memory(PullAnswer(c.announced, c.sent));
        std::vector<char> base64(1024, 'x');
        const int in_memory_result =
            in_memory.driver->PullFileAndBase64(const_cast<char*>("/sdcard/f"), nullptr,
                                                base64.data(), static_cast<int>(base64.size()));
        EXPECT_EQ(in_memory_result, c.announced == 0 ? -16 : c.result);
        std::remove(local.c_str());
    }
    rmdir(folder);
}

}  // namespace
}  // namespace countermate::terminal::testing
