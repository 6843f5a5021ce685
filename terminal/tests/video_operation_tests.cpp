// The video and signing-screen operations against a scripted terminal: the control messages and
// their answers, the pause exchange, the frame readers with the acknowledgements they write, and
// a stop from another thread ending a reader.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DEV_CounterMate.h"
#include "OutputCapacities.h"
#include "ScriptedLink.h"
#include "StreamFraming.h"
#include "StreamReports.h"

namespace countermate::terminal::testing {
namespace {

using Report = ScriptedLink::Report;
constexpr int kPacketSize = ScriptedDriver::kPacketSize;

bool IsControl(const Report& written, unsigned char function) {
    return written.size() >= 3 && written[0] == stream::kMarker && written[1] == function;
}

std::string Hex(const Report& written) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : written) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

// Keeps what the driver wrote (raw reports as hex) and answers from `answer`; thread-safe, since
// a reader and a stop write from two threads.
class RawTerminal {
public:
    using Answer = std::function<std::vector<Report>(const Report& written)>;
    explicit RawTerminal(Answer answer)
        : m_answer(std::move(answer)), m_scripted([this](const Report& written) {
              std::lock_guard<std::mutex> guard(m_lock);
              if (!written.empty() && written[0] == stream::kMarker)
                  m_written.push_back(Hex(written));
              return m_answer(written);
          }) {}

    CDEV_CounterMate& driver() { return *m_scripted.driver; }
    std::vector<std::string> Written() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_written;
    }

private:
    std::mutex m_lock;  // guards m_written and calls of m_answer
    Answer m_answer;
    std::vector<std::string> m_written;
    ScriptedDriver m_scripted;
};

RawTerminal::Answer Answering(bool answers) {
    return [answers](const Report& written) {
        if (!answers || written.size() < 3 || written[0] != stream::kMarker)
            return std::vector<Report>{};
        return std::vector<Report>{ControlAnswer(written[1], kPacketSize)};
    };
}

TEST(VideoControl, MessagesAreAnsweredOrFailWithMinus15) {
    struct Row {
        const char* what;
        std::function<int(CDEV_CounterMate&)> run;
        const char* written;
    };
    const Row rows[] = {
        {"StartVideo mode 1", [](CDEV_CounterMate& d) { return d.StartVideo(1); }, "060001"},
        {"StartVideo mode 0", [](CDEV_CounterMate& d) { return d.StartVideo(0); }, "060000"},
        {"StartVideo of another mode", [](CDEV_CounterMate& d) { return d.StartVideo(5); },
         "060000"},
        {"StopVideo", [](CDEV_CounterMate& d) { return d.StopVideo(); }, "060f00"},
        {"KeepVideo", [](CDEV_CounterMate& d) { return d.KeepVideo(); }, "060500"},
    };
    for (const Row& row : rows) {
        for (const bool answers : {true, false}) {
            RawTerminal terminal(Answering(answers));
            EXPECT_EQ(row.run(terminal.driver()), answers ? 0 : -15) << row.what;
            EXPECT_EQ(terminal.Written(), std::vector<std::string>{row.written}) << row.what;
        }
    }
}

// Frame reports still on their way when the stream is stopped are not the answer: left queued,
// they would be read as the answer to the next command.
TEST(VideoControl, AnswerIsReadPastFrameReportsInFlight) {
    RawTerminal terminal([](const Report& written) {
        if (IsControl(written, stream::kStop)) {
            return std::vector<Report>{FrameStart(90000, FrameBytes(0, 506), kPacketSize),
                                       FramePart(FrameBytes(506, 510), kPacketSize),
                                       FramePart(FrameBytes(1016, 510), kPacketSize),
                                       ControlAnswer(stream::kStop, kPacketSize)};
        }
        if (written[0] == segment::kCommand) {
            return ScriptedLink::Segments(
                segment::kCommand, R"({"success":true,"data":{"deviceId":"SIM-9"}})", kPacketSize);
        }
        return std::vector<Report>{};
    });
    EXPECT_EQ(terminal.driver().StopVideo(), 0);
    char device_id[96] = {};
    EXPECT_EQ(terminal.driver().GetDevID(device_id), 0);
    EXPECT_STREQ(device_id, "SIM-9");
}

TEST(VideoControl, PauseExchange) {
    const Report pause_answer = ControlAnswer(stream::kPause, kPacketSize);
    const Report unrelated = Padded({0x07, 0x01, 0x02}, kPacketSize);
    struct Row {
        const char* what;
        std::vector<std::vector<Report>> answers;  // to the first pause and to its re-send
        int result;
        size_t pauses_written;
    };
    const Row rows[] = {
        {"0604 at once", {{pause_answer}}, 0, 1},
        {"an unrelated report, then 0604", {{unrelated, pause_answer}}, 0, 1},
        {"a second unrelated report is taken as the answer", {{unrelated, unrelated}}, 0, 1},
        {"frame reports in flight, then 0604",
         {{FrameStart(4000, FrameBytes(0, 506), kPacketSize),
           FramePart(FrameBytes(506, 510), kPacketSize), pause_answer}},
         0,
         1},
        {"no answer: re-sent once, then -15", {{}, {}}, -15, 2},
        {"no answer, then the re-sent pause answered", {{}, {pause_answer}}, 0, 2},
        {"an unrelated report, then silence: re-sent once", {{unrelated}, {pause_answer}}, 0, 2},
    };
    for (const Row& row : rows) {
        size_t pauses = 0;
        RawTerminal terminal([&](const Report& written) {
            if (!IsControl(written, stream::kPause)) return std::vector<Report>{};
            return pauses < row.answers.size() ? row.answers[pauses++] : std::vector<Report>{};
        });
        EXPECT_EQ(terminal.driver().PauseVideo(), row.result) << row.what;
        EXPECT_EQ(terminal.Written(), std::vector<std::string>(row.pauses_written, "060400"))
            << row.what;
    }
}

// A terminal that answers the start message and then sends `stream` at once.
RawTerminal::Answer Streaming(std::vector<Report> stream_reports) {
    return [stream_reports](const Report& written) {
        if (!IsControl(written, stream::kStart)) return std::vector<Report>{};
        std::vector<Report> reports{ControlAnswer(stream::kStart, kPacketSize)};
        reports.insert(reports.end(), stream_reports.begin(), stream_reports.end());
        return reports;
    };
}

std::string Base64Of(CDEV_CounterMate& driver, std::string bytes) {
    std::string text(bytes.size() / 3 * 4 + 8, '\0');
    driver.Base64Encode(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<int>(bytes.size()),
                        &text[0]);
    return text.c_str();
}

// 506 bytes in the start, 8 parts (one acknowledgement), 414 in the end.
const std::string kFrame = FrameBytes(0, 5000);
const std::vector<std::string> kFrameAcknowledged{"060000", "060100", "060200", "060300"};

TEST(FrameReaders, ReadAFrameAndAcknowledgeIt) {
    {
        RawTerminal terminal(Streaming(FrameOf(kFrame, kPacketSize)));
        ASSERT_EQ(terminal.driver().StartVideo(0), 0);
        std::vector<unsigned char> frame(kVideoFrameCapacity);
        int length = -1;
        EXPECT_EQ(terminal.driver().GetVideoData(&length, frame.data()), 0);
        EXPECT_EQ(std::string(frame.begin(), frame.begin() + length), kFrame);
        EXPECT_EQ(terminal.Written(), kFrameAcknowledged);
    }
    {
        RawTerminal terminal(Streaming(FrameOf(kFrame, kPacketSize)));
        ASSERT_EQ(terminal.driver().StartVideo(0), 0);
        std::vector<char> text(kBase64FrameCapacity);
        EXPECT_EQ(terminal.driver().GetVideoData_Base64(text.data()), 0);
        EXPECT_EQ(std::string(text.data()), Base64Of(terminal.driver(), kFrame));
        EXPECT_EQ(terminal.Written(), kFrameAcknowledged);
    }
}

TEST(FrameReaders, SigningScreenFramesThenItsEndStatus) {
    const std::pair<unsigned char, int> statuses[] = {{0, 1}, {1, -9}, {2, -2}, {9, -20}};
    for (const auto& [status, result] : statuses) {
        const std::vector<Report> reports =
            Joined({FrameOf(kFrame, kPacketSize), {SigningEnd(status, kPacketSize)}});
        RawTerminal image_terminal(Streaming(reports));
        ASSERT_EQ(image_terminal.driver().StartVideo(0), 0);
        std::vector<unsigned char> image(kScreenImageCapacity);
        long length = -1;
        EXPECT_EQ(image_terminal.driver().SignNameScreen_GetScreen(&length, image.data()), 0);
        EXPECT_EQ(std::string(image.begin(), image.begin() + length), kFrame);
        EXPECT_EQ(image_terminal.driver().SignNameScreen_GetScreen(&length, image.data()), result)
            << "status " << int(status);
        EXPECT_EQ(length, 0);

        RawTerminal text_terminal(Streaming(reports));
        ASSERT_EQ(text_terminal.driver().StartVideo(0), 0);
        std::vector<char> text(kBase64FrameCapacity, 'x');
        EXPECT_EQ(text_terminal.driver().SignNameScreen_GetScreenBase64(text.data()), 0);
        EXPECT_EQ(std::string(text.data()), Base64Of(text_terminal.driver(), kFrame));
        EXPECT_EQ(text_terminal.driver().SignNameScreen_GetScreenBase64(text.data()), result)
            << "status " << int(status);
        EXPECT_STREQ(text.data(), "");
    }
}

// The Base64 reader's frame must fit its work buffer (2 MiB) and its text the caller's 4 MiB: a
// larger frame is passed over, and the next one read.
TEST(FrameReaders, FrameBeyondTheReadersCapacityIsDroppedNotCut) {
    const std::string oversized = FrameBytes(0, 2 * 1024 * 1024 + 1);
    RawTerminal terminal(
        Streaming(Joined({FrameOf(oversized, kPacketSize), FrameOf(kFrame, kPacketSize)})));
    ASSERT_EQ(terminal.driver().StartVideo(0), 0);
    std::vector<char> text(kBase64FrameCapacity);
    EXPECT_EQ(terminal.driver().GetVideoData_Base64(text.data()), 0);
    EXPECT_EQ(std::string(text.data()), Base64Of(terminal.driver(), kFrame));
}

TEST(FrameReaders, SilentLinkTimesOut) {
    RawTerminal terminal(Answering(false));
    std::vector<unsigned char> frame(kVideoFrameCapacity);
    int length = -1;
    EXPECT_EQ(terminal.driver().GetVideoData(&length, frame.data()), -2);
    EXPECT_EQ(length, 0);
}

// The reader waits inside a frame the terminal never finishes; StopVideo from another thread
// ends it without a frame, and then gets the terminal's answer itself.
TEST(FrameReaders, StopVideoFromAnotherThreadEndsTheReader) {
    std::promise<void> reading;
    bool signalled = false;
    RawTerminal terminal([&](const Report& written) {
        if (IsControl(written, stream::kStart)) {
            return std::vector<Report>{ControlAnswer(stream::kStart, kPacketSize),
                                       FrameStart(90000, FrameBytes(0, 506), kPacketSize)};
        }
        if (IsControl(written, stream::kFrameStart) && !signalled) {
            signalled = true;
            reading.set_value();
        }
        if (IsControl(written, stream::kStop)) {
            return std::vector<Report>{ControlAnswer(stream::kStop, kPacketSize)};
        }
        return std::vector<Report>{};
    });
    ASSERT_EQ(terminal.driver().StartVideo(0), 0);
    // The real clock: the reader's 5-second wait must not run out while it is stopped.
    terminal.driver().UseClock([] { return std::time(nullptr); });
    std::vector<unsigned char> frame(kVideoFrameCapacity);
    int length = -1;
    int read = -100;
    std::thread reader([&] { read = terminal.driver().GetVideoData(&length, frame.data()); });
    reading.get_future().wait();
    EXPECT_EQ(terminal.driver().StopVideo(), 0);
    reader.join();
    EXPECT_EQ(read, 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(terminal.Written(), (std::vector<std::string>{"060000", "060100", "060f00"}));
}

}  // namespace
}  // namespace countermate::terminal::testing
