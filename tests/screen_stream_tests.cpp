// The screen streams' threads in the service, on a scripted terminal put in place of the driver:
// the mirror's frames reach the page that started it and nobody else, its status follows how it
// ended, it stops when its page leaves; the screen push sends pictures of an Xvfb display of the
// test's own until it is stopped; and stopping the service leaves no stream thread behind.
//
// The service library is linked in and runs in this process (RunCounterMateServer on a thread of
// the test), from the deploy folder, which holds its drivers and Temp/.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Base64.h"
#include "CJsonObject.h"
#include "DEV_HUB.h"
#include "VirtualDisplay.h"
#include "camera_test_support.h"
#include "doubles/null_terminal.h"
#include "loopback_port.h"
#include "ws_client_connection.h"

extern "C" void RunCounterMateServer(int port);
extern "C" void ExitCounterMateServer();

namespace countermate::testing {
namespace {

using std::chrono::seconds;

constexpr int kWait = 10;  // seconds any awaited event has

std::vector<unsigned char> small_jpeg() {
    std::vector<unsigned char> grey(16 * 8, 128);
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, grey.data(), 16, 0, 8, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY, 90, 0);
    std::vector<unsigned char> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return bytes;
}

std::string base64_of(const std::vector<unsigned char>& bytes) {
    std::string text(base64_encoded_length(bytes.size()), '\0');
    base64_encode(bytes.data(), bytes.size(), &text[0]);
    return text;
}

// A JPEG's size and the colour (0xRRGGBB) of its centre; all 0 when it is not a whole JPEG.
struct JpegSummary {
    int width = 0;
    int height = 0;
    unsigned long centre = 0;
};

JpegSummary summarize(const std::vector<unsigned char>& jpeg) {
    JpegSummary summary;
    tjhandle decoder = tjInitDecompress();
    int subsampling = 0, colours = 0;
    std::vector<unsigned char> rgb;
    const bool whole =
        !jpeg.empty() &&
        tjDecompressHeader3(decoder, jpeg.data(), jpeg.size(), &summary.width, &summary.height,
                            &subsampling, &colours) == 0 &&
        (rgb.resize(static_cast<size_t>(summary.width) * summary.height * 3), true) &&
        tjDecompress2(decoder, jpeg.data(), jpeg.size(), rgb.data(), summary.width, 0,
                      summary.height, TJPF_RGB, 0) == 0;
    tjDestroy(decoder);
    if (!whole) return {};
    const unsigned char* centre =
        &rgb[(static_cast<size_t>(summary.height / 2) * summary.width + summary.width / 2) * 3];
    summary.centre = static_cast<unsigned long>(centre[0]) << 16 | centre[1] << 8 | centre[2];
    return summary;
}

// Whether two 0xRRGGBB colours differ by at most what JPEG compression changes.
bool near_colour(unsigned long seen, unsigned long wanted) {
    for (int shift : {16, 8, 0}) {
        const int difference = static_cast<int>(seen >> shift & 0xFF) -
                               static_cast<int>(wanted >> shift & 0xFF);
        if (difference > 24 || difference < -24) return false;
    }
    return true;
}

// The terminal as the streams see it. The mirror's reads hand out `frames_before_end` pictures,
// then `end_result` (1: the signing ended; another code: a failure) or, when it is 0, wait until
// a forced return, which gives -9 as the driver does. Every push is recorded with the size of
// the JPEG it carried.
class ScreenTerminal : public NullTerminal {
public:
    void GetErrMsg(int code, char* text) override { std::snprintf(text, 200, "text %d", code); }
    void SetForcedReturn(bool force) override {
        std::lock_guard<std::mutex> guard(lock_);
        forced_ = force;
        ++forced_returns_;
        changed_.notify_all();
    }
    int CancelOpt() override { return count(cancels_); }
    int SignNameScreen_Start(int timeout) override {
        std::lock_guard<std::mutex> guard(lock_);
        start_timeout_ = timeout;
        return start_result_;
    }
    int SignNameScreen_GetScreenBase64(char* image) override {
        std::unique_lock<std::mutex> guard(lock_);
        ++reads_;
        changed_.notify_all();
        if (frames_before_end_ > 0) {
            --frames_before_end_;
            std::strcpy(image, picture_.c_str());
            return 0;
        }
        if (end_result_ != 0) return end_result_;
        changed_.wait(guard, [this] { return forced_; });
        forced_ = false;
        return -9;
    }
    int SignNameScreen_End(char* picture) override {
        std::strcpy(picture, "U0lHTkFUVVJF");
        return 0;
    }
    int StartComputerScreen() override { return count(screen_starts_); }
    int StopComputerScreen() override { return count(screen_stops_); }
    int HIDClosePort() override { return count(closes_); }
    int DownLoadFile(int kind, char* local_path, char* name) override {
        std::ifstream file(local_path, std::ios::binary);
        const std::vector<unsigned char> jpeg((std::istreambuf_iterator<char>(file)),
                                              std::istreambuf_iterator<char>());
        std::lock_guard<std::mutex> guard(lock_);
        pushes_.push_back({kind, local_path, name, summarize(jpeg)});
        changed_.notify_all();
        return 0;
    }

    struct Push {
        int kind;
        std::string local_path;
        std::string name;
        JpegSummary picture;
    };

    void script_mirror(int frames_before_end, int end_result, const std::string& picture) {
        std::lock_guard<std::mutex> guard(lock_);
        frames_before_end_ = frames_before_end;
        end_result_ = end_result;
        picture_ = picture;
        forced_ = false;
    }
    // Waits until `done` holds, reading the terminal under its lock.
    template <typename Done>
    bool wait_until(Done done) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, seconds(kWait), [&] { return done(*this); });
    }
    template <typename Read>
    auto read(Read reading) {
        std::lock_guard<std::mutex> guard(lock_);
        return reading(*this);
    }

    int start_result_ = 0;
    int start_timeout_ = 0;
    int reads_ = 0;
    int forced_returns_ = 0;
    int cancels_ = 0;
    int screen_starts_ = 0;
    int screen_stops_ = 0;
    int closes_ = 0;
    std::vector<Push> pushes_;

private:
    int count(int& counter) {
        std::lock_guard<std::mutex> guard(lock_);
        ++counter;
        changed_.notify_all();
        return 0;
    }

    std::mutex lock_;  // guards every member
    std::condition_variable changed_;
    int frames_before_end_ = 0;
    int end_result_ = 0;
    bool forced_ = false;
    std::string picture_;
};

// A page's connection. Messages are kept in their order of arrival, so frames of a stream that
// come before a reply are not lost while the reply is looked for.
class Page {
public:
    explicit Page(int port) { connection_.open("127.0.0.1", port, "/", 5000); }
    bool is_open() const { return connection_.is_open(); }
    void close() { connection_.close(); }

    bool send(const std::string& method, const std::string& args = "{}") {
        return connection_.send_text(R"({"method":")" + method + R"(","args":)" + args + "}");
    }
    // The first message with `method` not taken yet; empty when none comes within kWait seconds.
    std::string take(const std::string& method) {
        const auto deadline = std::chrono::steady_clock::now() + seconds(kWait);
        for (size_t index = 0;; ++index) {
            if (index == kept_.size() && !receive_until(deadline)) return std::string();
            if (kept_[index].find("\"method\":\"" + method + "\"") != std::string::npos) {
                std::string message = std::move(kept_[index]);
                kept_.erase(kept_.begin() + static_cast<long>(index));
                return message;
            }
        }
    }
    std::string call(const std::string& method, const std::string& args = "{}") {
        return send(method, args) ? take(method) : std::string();
    }
    // The next message, whatever its method; empty when none comes within kWait seconds.
    std::string next() {
        if (kept_.empty() && !receive_until(std::chrono::steady_clock::now() + seconds(kWait))) {
            return std::string();
        }
        std::string message = std::move(kept_.front());
        kept_.pop_front();
        return message;
    }

private:
    bool receive_until(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        std::string message;
        if (left.count() <= 0 || !connection_.receive(message, static_cast<int>(left.count())))
            return false;
        kept_.push_back(std::move(message));
        return true;
    }

    WsClientConnection connection_;
    std::deque<std::string> kept_;
};

// The service in this process on a free port, with the scripted terminal in place of the driver.
class InProcessService {
public:
    void start() {
        driver_ = ctm;
        ctm = &terminal;
        port = free_loopback_port();
        std::promise<void> returned;
        returned_ = returned.get_future();
        runner_ = std::thread([this, returned = std::move(returned)]() mutable {
            RunCounterMateServer(port);
            returned.set_value();
        });
    }
    // Stops the service and waits until RunCounterMateServer has returned. A stop asked for
    // while the service is still starting is forgotten by it, so the stop is asked again until
    // the service has returned.
    void stop() {
        if (!runner_.joinable()) return;
        do {
            ExitCounterMateServer();
        } while (returned_.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready);
        runner_.join();
        ctm = driver_;
    }
    std::unique_ptr<Page> connect() { return std::make_unique<Page>(port); }

    ScreenTerminal terminal;
    int port = 0;

private:
    CCounterMate* driver_ = nullptr;
    std::thread runner_;
    std::future<void> returned_;
};

InProcessService& service() {
    static InProcessService instance;
    return instance;
}

class StopServiceAtEnd : public ::testing::Environment {
public:
    void SetUp() override { service().start(); }
    void TearDown() override { service().stop(); }
};

const auto* const stop_service_at_end = ::testing::AddGlobalTestEnvironment(new StopServiceAtEnd);

std::string text_member(const std::string& message, const char* name) {
    CJsonObject parsed;
    std::string value;
    parsed.Parse(message);
    parsed.Get(name, value);
    return value;
}

int parse_integer(const std::string& message, const char* name) {
    CJsonObject parsed;
    int value = -1000;
    parsed.Parse(message);
    parsed.Get(name, value);
    return value;
}

const char kStatus[] = "SignNameScreen_Status";
std::string status_reply(int status) {
    return R"({"method":"SignNameScreen_Status","signScreenStatus":)" + std::to_string(status) +
           "}";
}

class ScreenStreams : public ::testing::Test {
protected:
    void SetUp() override {
        client_ = service().connect();
        ASSERT_TRUE(client_->is_open());
    }
    ScreenTerminal& terminal() { return service().terminal; }

    std::unique_ptr<Page> client_;
};

// ---- the signing mirror ----

TEST_F(ScreenStreams, MirrorFramesReachOnlyThePageThatStartedIt) {
    const std::vector<unsigned char> picture = small_jpeg();
    terminal().script_mirror(3, 0, base64_of(picture));
    auto other = service().connect();
    EXPECT_EQ(client_->call("SignNameScreen_Start", R"({"outTimes":45})"),
              R"({"method":"SignNameScreen_Start","retVal":0,"errMsg":"text 0"})");
    for (int frame = 0; frame < 3; ++frame) {
        const std::string message = client_->take("ScreenStream");
        ASSERT_FALSE(message.empty()) << "frame " << frame;
        EXPECT_EQ(message.find(R"({"method":"ScreenStream","retVal":0,"imgBase64":")"), 0u);
        const DecodedJpeg frame_picture = decode_jpeg_base64(text_member(message, "imgBase64"));
        EXPECT_TRUE(frame_picture.decoded);
        EXPECT_EQ(frame_picture.width, 16);
        EXPECT_EQ(frame_picture.height, 8);
    }
    EXPECT_EQ(terminal().read([](auto& t) { return t.start_timeout_; }), 45);
    EXPECT_EQ(other->call(kStatus), status_reply(1));
    // The other page's next message is its own reply, not a frame.
    ASSERT_TRUE(other->send("SignNameScreen_Get"));
    EXPECT_EQ(
        other->next(),
        R"({"method":"SignNameScreen_Get","retVal":0,"signPicBase64":"U0lHTkFUVVJF","errMsg":"text 0"})");

    const int cancels = terminal().read([](auto& t) { return t.cancels_; });
    EXPECT_EQ(client_->call("SignNameScreen_Stop"),
              R"({"method":"SignNameScreen_Stop","retVal":0,"errMsg":"text 0"})");
    EXPECT_EQ(terminal().read([](auto& t) { return t.cancels_; }), cancels + 1);
    EXPECT_TRUE(m_isStopScreenStream);
    EXPECT_EQ(client_->call("SignNameScreen_Stop"),
              R"({"method":"SignNameScreen_Stop","retVal":0,"errMsg":""})");
    EXPECT_EQ(terminal().read([](auto& t) { return t.cancels_; }), cancels + 1);
}

// The mirror ends by itself on the signing's end and on a failure, and the status says which.
TEST_F(ScreenStreams, StatusTellsHowTheMirrorEnded) {
    const struct {
        int end_result;
        int status;
    } ends[] = {{1, 2}, {-5, 3}};
    for (const auto& end : ends) {
        SCOPED_TRACE(end.end_result);
        terminal().script_mirror(2, end.end_result, base64_of(small_jpeg()));
        const int reads = terminal().read([](auto& t) { return t.reads_; });
        ASSERT_EQ(client_->call("SignNameScreen_Start"),
                  R"({"method":"SignNameScreen_Start","retVal":0,"errMsg":"text 0"})");
        EXPECT_EQ(terminal().read([](auto& t) { return t.start_timeout_; }), 20)
            << "outTimes' default";
        ASSERT_TRUE(terminal().wait_until([&](auto& t) { return t.reads_ == reads + 3; }));
        EXPECT_FALSE(client_->take("ScreenStream").empty());
        EXPECT_FALSE(client_->take("ScreenStream").empty());
        // The stop joins the thread (which may not have set its flag yet), so the status is final
        // once the stop has answered.
        EXPECT_EQ(parse_integer(client_->call("SignNameScreen_Stop"), "retVal"), 0);
        EXPECT_EQ(client_->call(kStatus), status_reply(end.status));
    }
}

TEST_F(ScreenStreams, AFailedStartStartsNoMirror) {
    terminal().read([](auto& t) { return t.start_result_ = -11; });
    const int reads = terminal().read([](auto& t) { return t.reads_; });
    EXPECT_EQ(client_->call("SignNameScreen_Start"),
              R"({"method":"SignNameScreen_Start","retVal":-11,"errMsg":"text -11"})");
    terminal().read([](auto& t) { return t.start_result_ = 0; });
    EXPECT_EQ(client_->call("SignNameScreen_Stop"),
              R"({"method":"SignNameScreen_Stop","retVal":0,"errMsg":""})");
    EXPECT_EQ(terminal().read([](auto& t) { return t.reads_; }), reads);
}

TEST_F(ScreenStreams, TheMirrorStopsWhenItsPageLeaves) {
    terminal().script_mirror(1, 0, base64_of(small_jpeg()));
    ASSERT_EQ(client_->call("SignNameScreen_Start"),
              R"({"method":"SignNameScreen_Start","retVal":0,"errMsg":"text 0"})");
    ASSERT_FALSE(client_->take("ScreenStream").empty());
    const int forced = terminal().read([](auto& t) { return t.forced_returns_; });
    client_->close();
    // The departure asks the terminal's read to return and joins the thread.
    ASSERT_TRUE(terminal().wait_until([&](auto& t) { return t.forced_returns_ > forced; }));
    auto next = service().connect();
    EXPECT_EQ(next->call("SignNameScreen_Stop"),
              R"({"method":"SignNameScreen_Stop","retVal":0,"errMsg":""})");
}

// The mirror reads through the terminal port: requests served meanwhile leave it open, and
// close it again once the mirror has stopped.
TEST_F(ScreenStreams, RequestsBesideAMirrorLeaveThePortOpen) {
    terminal().script_mirror(1, 0, base64_of(small_jpeg()));
    ASSERT_EQ(client_->call("SignNameScreen_Start"),
              R"({"method":"SignNameScreen_Start","retVal":0,"errMsg":"text 0"})");
    ASSERT_FALSE(client_->take("ScreenStream").empty());
    const int closes = terminal().read([](auto& t) { return t.closes_; });
    EXPECT_EQ(client_->call("PlayVoice"), R"({"method":"PlayVoice","retVal":0,"errMsg":"text 0"})");
    EXPECT_FALSE(client_->call("GetServiceStatus").empty());
    EXPECT_EQ(terminal().read([](auto& t) { return t.closes_; }), closes);
    ASSERT_EQ(parse_integer(client_->call("SignNameScreen_Stop"), "retVal"), 0);
    EXPECT_EQ(client_->call("PlayVoice"), R"({"method":"PlayVoice","retVal":0,"errMsg":"text 0"})");
    EXPECT_EQ(terminal().read([](auto& t) { return t.closes_; }), closes + 1);
}

// ---- the screen push ----

constexpr unsigned long kDrawnColour = 0x20C040;

class ScreenPush : public ScreenStreams {
protected:
    void SetUp() override {
        SNAPDESK_SKIP_WITHOUT_XVFB();
        ASSERT_TRUE(display_.start(1024, 768));
        setenv("DISPLAY", display_.name().c_str(), 1);
        ASSERT_TRUE(display_.draw({{0, 0, 1024, 768, kDrawnColour}}));
        ScreenStreams::SetUp();
    }
    void TearDown() override { unsetenv("DISPLAY"); }

    snapdesk::testing::VirtualDisplay display_;
};

TEST_F(ScreenPush, PushesScreenPicturesUntilStopped) {
    const size_t before = terminal().read([](auto& t) { return t.pushes_.size(); });
    EXPECT_EQ(client_->call("StartComputerScreen"),
              R"({"method":"StartComputerScreen","retVal":0,"errMsg":"text 0"})");
    ASSERT_TRUE(terminal().wait_until([&](auto& t) { return t.pushes_.size() >= before + 3; }));
    const int closes = terminal().read([](auto& t) { return t.closes_; });
    EXPECT_EQ(client_->call("StopComputerScreen"),
              R"({"method":"StopComputerScreen","retVal":0,"errMsg":"text 0"})");
    EXPECT_EQ(terminal().read([](auto& t) { return t.screen_stops_; }), 1);
    EXPECT_EQ(terminal().read([](auto& t) { return t.closes_; }), closes + 1);

    const auto pushes = terminal().read([](auto& t) { return t.pushes_; });
    for (size_t index = before; index < pushes.size(); ++index) {
        EXPECT_EQ(pushes[index].kind, 4);
        EXPECT_EQ(pushes[index].local_path, "./Temp/1.jpg");
        EXPECT_EQ(pushes[index].name, "/sdcard/ZR/CounterMate/temp/computer_screen.png");
        EXPECT_EQ(pushes[index].picture.width, 1024);
        EXPECT_EQ(pushes[index].picture.height, 768);
        EXPECT_TRUE(near_colour(pushes[index].picture.centre, kDrawnColour))
            << std::hex << pushes[index].picture.centre;
    }
    // The push thread has been joined: nothing is pushed after the stop's reply.
    EXPECT_EQ(client_->call("StopComputerScreen"),
              R"({"method":"StopComputerScreen","retVal":0,"errMsg":""})");
    EXPECT_EQ(terminal().read([](auto& t) { return t.pushes_.size(); }), pushes.size());
}

// ---- the service's stop ----

// Last in the program: stops the service.
class ServiceStop : public ScreenStreams {};

TEST_F(ServiceStop, EndsEveryStream) {
    terminal().script_mirror(1, 0, base64_of(small_jpeg()));
    ASSERT_EQ(client_->call("SignNameScreen_Start"),
              R"({"method":"SignNameScreen_Start","retVal":0,"errMsg":"text 0"})");
    ASSERT_FALSE(client_->take("ScreenStream").empty());
    ASSERT_EQ(client_->call("StartComputerScreen"),
              R"({"method":"StartComputerScreen","retVal":0,"errMsg":"text 0"})");
    service().stop();
    EXPECT_FALSE(m_signStreamTh.joinable());
    EXPECT_FALSE(m_computerStreamTh.joinable());
    EXPECT_TRUE(m_isStopScreenStream);
    EXPECT_TRUE(m_isStopComputerScreenStream);
}

}  // namespace
}  // namespace countermate::testing
