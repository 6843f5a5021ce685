// The driver's video and screen operations against the terminal simulator, through libHid's
// simulator transport: camera frames that are real, changing pictures; the pause with each of
// the terminal's ways of answering it, the captured image and the resumed stream; the signing
// screen with each way a signing ends; and streams that stop leaving nothing on the link for the
// next command.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <vector>

#include "OutputCapacities.h"
#include "SimulatedTerminal.h"
#include "StreamFraming.h"

namespace countermate::terminal::testing {
namespace {

constexpr const char* kSignature = "/sdcard/ZR/CounterMate/temp/voice_decl_signatrue.png";

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize& other) const {
        return width == other.width && height == other.height;
    }
};
constexpr PictureSize kScreenSize{640, 480};

void PrintTo(const PictureSize& size, std::ostream* out) {
    *out << size.width << "x" << size.height;
}

// The size of a JPEG that decodes whole; 0 x 0 for anything else.
PictureSize JpegSize(const std::string& jpeg) {
    tjhandle decoder = tjInitDecompress();
    const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    const unsigned long count = jpeg.size();
    int width = 0, height = 0, subsampling = 0, colours = 0;
    PictureSize size;
    if (tjDecompressHeader3(decoder, bytes, count, &width, &height, &subsampling, &colours) == 0) {
        std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
        if (tjDecompress2(decoder, bytes, count, pixels.data(), width, 0, height, TJPF_RGB, 0) ==
            0) {
            size = {width, height};
        }
    }
    tjDestroy(decoder);
    return size;
}

PictureSize PngSize(const std::string& png) {
    const cv::Mat picture =
        cv::imdecode(std::vector<unsigned char>(png.begin(), png.end()), cv::IMREAD_UNCHANGED);
    return {picture.cols, picture.rows};
}

bool IsPng(const std::string& bytes) { return bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0; }

class SimulatorStreams : public SimulatedTerminal {
protected:
    void TearDown() override {
        EXPECT_EQ(m_simulator->ProtocolErrors(), std::vector<std::string>());
        SimulatedTerminal::TearDown();
    }

    std::string VideoFrame() {
        std::vector<unsigned char> frame(kVideoFrameCapacity);
        int length = 0;
        EXPECT_EQ(m_driver->GetVideoData(&length, frame.data()), 0);
        return std::string(frame.begin(), frame.begin() + length);
    }

    std::string Decoded(std::vector<char>& text) {
        std::vector<unsigned char> bytes(text.size());
        int length = 0;
        EXPECT_GE(m_driver->Base64Decode(text.data(), &length, bytes.data()), 0);
        return std::string(bytes.begin(), bytes.begin() + length);
    }

    // One signing-screen frame through the Base64 reader: its result, and the frame's bytes.
    int SigningFrame(std::string& frame) {
        std::vector<char> text(kBase64FrameCapacity);
        const int result = m_driver->SignNameScreen_GetScreenBase64(text.data());
        frame = text[0] != '\0' ? Decoded(text) : "";
        return result;
    }

    // The next command's answer is read whole: the stream left no report on the link.
    void ExpectLinkInStep() {
        char device_id[96] = {};
        EXPECT_EQ(m_driver->GetDevID(device_id), 0);
    }

    // The driver's clock jumps a second at every look while the simulator leaves the first
    // pause unanswered, so that the driver's wait for the answer ends at once.
    void HurryWhileFirstPauseUnanswered() {
        const uint64_t first_pause = m_simulator->StreamCounts().pauses + 1;
        auto skipped = std::make_shared<std::time_t>(0);
        m_driver->UseClock([this, first_pause, skipped] {
            if (m_simulator->StreamCounts().pauses == first_pause) ++*skipped;
            return std::time(nullptr) + *skipped;
        });
    }
};

TEST_F(SimulatorStreams, CameraFramesAreChangingJpegsOfTheScreenSize) {
    ASSERT_EQ(m_driver->StartVideo(0), 0);
    std::vector<std::string> frames;
    for (int index = 0; index < 4; ++index) {
        frames.push_back(VideoFrame());
        EXPECT_EQ(JpegSize(frames.back()), kScreenSize) << "frame " << index;
        if (index > 0) {
            EXPECT_NE(frames[index], frames[index - 1]) << "frame " << index;
        }
    }
    std::vector<char> text(kBase64FrameCapacity);
    ASSERT_EQ(m_driver->GetVideoData_Base64(text.data()), 0);
    const std::string base64_frame = Decoded(text);
    EXPECT_EQ(JpegSize(base64_frame), kScreenSize);
    EXPECT_NE(base64_frame, frames.back());

    EXPECT_EQ(m_driver->StopVideo(), 0);
    // The stop came after the last frame's acknowledgements, so all five are counted.
    const sim::StreamCounters counted = m_simulator->StreamCounts();
    EXPECT_EQ(counted.frames, 5u);
    size_t bytes = base64_frame.size();
    for (const std::string& frame : frames) bytes += frame.size();
    EXPECT_EQ(counted.frame_bytes, bytes);
    ExpectLinkInStep();
}

// Nothing of a frame goes out past its start, or past every 6th part, before the driver's
// acknowledgement: a driver that stops acknowledging holds the stream at a few reports.
TEST_F(SimulatorStreams, FrameReportsWaitForTheirAcknowledgements) {
    ASSERT_EQ(m_driver->StartVideo(0), 0);
    // While `hurry` is set, the driver's clock jumps a second at every look: a read with a
    // time-out of 1 then makes one attempt of one wait period.
    auto hurry = std::make_shared<bool>(false);
    auto skipped = std::make_shared<std::time_t>(0);
    m_driver->UseClock([hurry, skipped] {
        if (*hurry) ++*skipped;
        return std::time(nullptr) + *skipped;
    });
    std::vector<unsigned char> report(static_cast<size_t>(m_simulator->packet_size()));
    const auto next_function = [&] {
        int count = 0;
        const int read = m_driver->ReadRawReport(report.data(), &count, *hurry ? 1 : 5, nullptr);
        return read == 0 && count > 1 && report[0] == stream::kMarker ? report[1] : -1;
    };
    const auto expect_silence = [&] {
        *hurry = true;
        EXPECT_EQ(next_function(), -1);
        *hurry = false;
    };
    const auto acknowledge = [&](unsigned char function) {
        unsigned char acknowledgement[] = {stream::kMarker, function, 0};
        ASSERT_EQ(m_driver->HidWrite(acknowledgement, 3, 5), 0);
    };
    EXPECT_EQ(next_function(), stream::kFrameStart);
    expect_silence();
    acknowledge(stream::kFrameStart);
    for (int part = 1; part <= 6; ++part) EXPECT_EQ(next_function(), stream::kFramePart) << part;
    expect_silence();
    acknowledge(stream::kFramePart);
    EXPECT_EQ(next_function(), stream::kFramePart);
    EXPECT_EQ(m_driver->StopVideo(), 0);
    ExpectLinkInStep();
}

TEST_F(SimulatorStreams, PauseLeavesTheCapturedImageAndKeepResumes) {
    struct Row {
        const char* what;
        sim::PauseAnswer answer;
        uint64_t pauses_sent;
    };
    const Row rows[] = {
        {"answered at once", sim::PauseAnswer::kAtOnce, 1},
        {"an unrelated report first", sim::PauseAnswer::kUnrelatedFirst, 1},
        {"the first pause unanswered", sim::PauseAnswer::kSilentOnce, 2},
    };
    uint64_t pauses = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim::StreamScript script;
        script.pause_answer = row.answer;
        m_simulator->ScriptStreams(script);
        ASSERT_EQ(m_driver->StartVideo(0), 0);
        const std::string before = VideoFrame();
        if (row.answer == sim::PauseAnswer::kSilentOnce) HurryWhileFirstPauseUnanswered();
        ASSERT_EQ(m_driver->PauseVideo(), 0);
        m_driver->UseClock([] { return std::time(nullptr); });
        pauses += row.pauses_sent;
        EXPECT_EQ(m_simulator->StreamCounts().pauses, pauses);

        std::vector<unsigned char> image(kCapturedImageCapacity);
        int length = 0;
        std::string copy = m_folder + "/captured.jpg";
        ASSERT_EQ(m_driver->GetCapturedImage(&copy[0], image.data(), &length), 0);
        const std::string captured(image.begin(), image.begin() + length);
        EXPECT_EQ(JpegSize(captured), kScreenSize);
        EXPECT_EQ(ReadFile(copy), captured);

        ASSERT_EQ(m_driver->KeepVideo(), 0);
        const std::string after = VideoFrame();
        EXPECT_EQ(JpegSize(after), kScreenSize);
        EXPECT_NE(after, before);
        EXPECT_EQ(m_driver->StopVideo(), 0);
        ExpectLinkInStep();
    }
}

TEST_F(SimulatorStreams, SigningScreenFramesThenTheSigningEnd) {
    struct Row {
        int status;
        int result;  // of the reader, at the signing end
    };
    // The signed one last: only it leaves a signature in storage.
    const Row rows[] = {{1, -9}, {2, -2}, {7, -20}, {0, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE("status " + std::to_string(row.status));
        sim::StreamScript script;
        script.signing_status = row.status;
        script.signing_frames = 3;
        script.signing_frame_interval_ms = 0;
        m_simulator->ScriptStreams(script);
        ASSERT_EQ(m_driver->SignNameScreen_Start(20), 0);
        std::vector<std::string> frames;
        std::string frame;
        int result = 0;
        while (frames.size() <= 3 && (result = SigningFrame(frame)) == 0) frames.push_back(frame);
        EXPECT_EQ(result, row.result);
        ASSERT_EQ(frames.size(), 3u);
        for (const std::string& each : frames) EXPECT_EQ(PngSize(each), kScreenSize);
        EXPECT_NE(frames.front(), frames.back());  // the signature is being written

        std::error_code ignored;
        EXPECT_EQ(std::filesystem::exists(m_simulator->StoragePath(kSignature), ignored),
                  row.status == 0);
    }
    std::vector<char> signature(kBase64PictureCapacity);
    ASSERT_EQ(m_driver->SignNameScreen_End(signature.data()), 0);
    const std::string png = Decoded(signature);
    EXPECT_TRUE(IsPng(png));
    EXPECT_EQ(PngSize(png), kScreenSize);
    ExpectLinkInStep();
}

// A cancel ends the signing without a signature, reporting its end (status 1) to a reader
// only when scripted to; either way the next command's answer is read in step.
TEST_F(SimulatorStreams, CancelEndsTheSigningAsCancelled) {
    for (const bool reported : {false, true}) {
        SCOPED_TRACE(reported ? "signing end reported" : "signing end not reported");
        sim::StreamScript script;
        script.signing_frame_interval_ms = 600000;  // no second frame comes by itself
        script.signing_end_on_cancel = reported;
        m_simulator->ScriptStreams(script);
        ASSERT_EQ(m_driver->SignNameScreen_Start(20), 0);
        std::string frame;
        ASSERT_EQ(SigningFrame(frame), 0);
        EXPECT_EQ(PngSize(frame), kScreenSize);
        ASSERT_EQ(m_driver->CancelOpt(), 0);
        if (reported) {
            EXPECT_EQ(SigningFrame(frame), -9);
        }
        EXPECT_FALSE(std::filesystem::exists(m_simulator->StoragePath(kSignature)));
        ExpectLinkInStep();
    }
}

TEST_F(SimulatorStreams, StopEndsEachStreamLeavingNothingBehind) {
    sim::StreamScript script;
    script.signing_frames = 1000;
    script.signing_frame_interval_ms = 0;
    m_simulator->ScriptStreams(script);
    const std::pair<const char*, std::function<int(CDEV_CounterMate&)>> starts[] = {
        {"camera", [](CDEV_CounterMate& driver) { return driver.StartVideo(1); }},
        {"signing screen",
         [](CDEV_CounterMate& driver) { return driver.SignNameScreen_Start(20); }},
    };
    for (const auto& [stream, start] : starts) {
        SCOPED_TRACE(stream);
        ASSERT_EQ(start(*m_driver), 0);
        // Two frames: the next one's start may be on its way when the stop is sent.
        for (int index = 0; index < 2; ++index) EXPECT_FALSE(VideoFrame().empty());
        EXPECT_EQ(m_driver->StopVideo(), 0);
        ExpectLinkInStep();
    }
}

// A stream runs beside the requests: commands sent while a frame reader polls the same link
// each get their own answer, and the frames stay whole.
TEST_F(SimulatorStreams, CommandsBesideAFrameReaderGetTheirAnswersAndTheFramesStayWhole) {
    char device_id[96] = {};
    ASSERT_EQ(m_driver->GetDevID(device_id), 0);
    ASSERT_EQ(m_driver->StartVideo(0), 0);
    std::atomic<bool> commands_done{false};
    std::atomic<int> frames_read{0};
    std::vector<PictureSize> sizes;
    std::thread reader([&] {
        while (!commands_done) {
            sizes.push_back(JpegSize(VideoFrame()));
            ++frames_read;
        }
    });
    for (int command = 0; command < 20 || frames_read < 5; ++command) {
        char answered[96] = {};
        EXPECT_EQ(m_driver->GetDevID(answered), 0) << "command " << command;
        EXPECT_STREQ(answered, device_id) << "command " << command;
    }
    commands_done = true;
    reader.join();
    EXPECT_EQ(m_driver->StopVideo(), 0);
    for (size_t index = 0; index < sizes.size(); ++index) {
        EXPECT_EQ(sizes[index], kScreenSize) << "frame " << index;
    }
    ExpectLinkInStep();
}

TEST_F(SimulatorStreams, WorkstationScreenPicturesAreStoredWhileShown) {
    ASSERT_EQ(m_driver->StartComputerScreen(), 0);
    char terminal_path[] = "/sdcard/ZR/CounterMate/temp/computer_screen.png";
    for (const char* picture : {"first picture", "second picture"}) {
        std::string local = LocalFile("screen.jpg", picture);
        ASSERT_EQ(m_driver->DownLoadFile(4, &local[0], terminal_path), 0);
        Settle();
        EXPECT_EQ(ReadFile(m_simulator->StoragePath(terminal_path)), picture);
    }
    EXPECT_EQ(m_driver->StopComputerScreen(), 0);
}

}  // namespace
}  // namespace countermate::terminal::testing
