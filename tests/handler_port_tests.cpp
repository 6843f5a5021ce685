// The terminal port around each request, observed on a recording terminal put in place of the
// driver: which requests close the port, which leave it to a cancel that arrives while they
// wait, and which never touch it; the adapter-only code reader's envelope; and the temporary
// file of a Base64 file argument; and the adapter's own terminal-camera photo methods.
//
// The service library is linked in and loads its drivers from the working directory (the deploy
// folder); the tests then swap the terminal object `ctm` for their own.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "DEV_HUB.h"
#include "doubles/null_terminal.h"

namespace countermate::testing {
namespace {

class RecordingTerminal : public NullTerminal {
public:
    int HIDOpenPort() override {
        ++opens;
        return open_result;
    }
    int HIDClosePort() override {
        ++closes;
        return 0;
    }
    void GetErrMsg(int code, char* text) override { std::snprintf(text, 200, "text %d", code); }
    int CancelOpt() override { return operation(); }
    int PlayVoice(int) override { return operation(); }
    int InputNumber(int, int, int, int, char* number) override {
        std::strcpy(number, "1");
        return operation();
    }
    int ShowInformation(int, char*, int) override { return operation(); }
    int ReadIDCard(int, int, char*, const char*, const char*, const char*) override {
        return operation();
    }
    int CamReadBarCode(char*, int wait, char* code) override {
        code_reader_wait = wait;
        std::strcpy(code, "6222020200112233");
        return operation();
    }
    // Decodes "good" Base64 as its own text, so the test can follow the file.
    int FileBase64Decode(char* base64, char* path) override {
        if (std::strcmp(base64, "bad") == 0) return -8;
        std::ofstream(path) << base64;
        return 0;
    }
    int ShowPictures(char* path, int, int, int* answer) override {
        shown_path = path;
        std::ifstream file(path);
        shown_content.assign(std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>());
        *answer = 1;
        return operation();
    }

    int operation() {
        ++operations;
        return during_operation();
    }

    int open_result = 0;
    int opens = 0;
    int closes = 0;
    int operations = 0;
    int code_reader_wait = 0;
    std::string shown_path;
    std::string shown_content;
    std::function<int()> during_operation = [] { return 0; };
};

class HandlerPort : public ::testing::Test {
protected:
    void SetUp() override {
        driver_ = ctm;
        ctm = &terminal_;
    }
    void TearDown() override {
        ctm = driver_;
        m_Dev_Hub.m_isCancelOpt = false;
    }

    // A cancel request comes in while the operation waits, and is still running when it returns.
    void cancel_arrives_during_operation() {
        terminal_.during_operation = [] {
            m_Dev_Hub.m_isCancelOpt = true;
            return -9;
        };
    }

    RecordingTerminal terminal_;
    CCounterMate* driver_ = nullptr;
};

using Handler = void (CDEV_HUB::*)(std::string, std::string&);

struct PortCase {
    const char* name;
    Handler handler;
    bool cancel_arrives;
    int closes;
};

void PrintTo(const PortCase& c, std::ostream* out) { *out << c.name; }

class HandlerPortClosing : public HandlerPort, public ::testing::WithParamInterface<PortCase> {};

// Every request closes the port it opened, unless a cancel is using it then: the cancel closes
// it when its own answer is in.
TEST_P(HandlerPortClosing, ClosesUnlessACancelIsRunning) {
    const PortCase& c = GetParam();
    if (c.cancel_arrives) cancel_arrives_during_operation();
    std::string reply;
    (m_Dev_Hub.*c.handler)("{}", reply);
    EXPECT_EQ(terminal_.opens, 1);
    EXPECT_EQ(terminal_.operations, 1);
    EXPECT_EQ(terminal_.closes, c.closes);
    EXPECT_FALSE(reply.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HandlerPortClosing,
    ::testing::Values(PortCase{"ReadIDCard", &CDEV_HUB::ReadIDCard, false, 1},
                      PortCase{"ReadIDCardUnderCancel", &CDEV_HUB::ReadIDCard, true, 0},
                      PortCase{"InputNumber", &CDEV_HUB::InputNumber, false, 1},
                      PortCase{"InputNumberUnderCancel", &CDEV_HUB::InputNumber, true, 0},
                      PortCase{"ShowInformation", &CDEV_HUB::ShowInformation, false, 1},
                      PortCase{"ShowInformationUnderCancel", &CDEV_HUB::ShowInformation, true, 0},
                      PortCase{"PlayVoice", &CDEV_HUB::PlayVoice, false, 1},
                      PortCase{"PlayVoiceUnderCancel", &CDEV_HUB::PlayVoice, true, 0}),
    [](const ::testing::TestParamInfo<PortCase>& info) { return std::string(info.param.name); });

TEST_F(HandlerPort, CancelClosesThePortAndEndsItsFlag) {
    bool flag_while_cancelling = false;
    terminal_.during_operation = [&] {
        flag_while_cancelling = m_Dev_Hub.m_isCancelOpt;
        return 0;
    };
    std::string reply;
    m_Dev_Hub.CancelOpt("", reply);
    EXPECT_TRUE(flag_while_cancelling);
    EXPECT_FALSE(m_Dev_Hub.m_isCancelOpt);
    EXPECT_EQ(terminal_.closes, 1);
    EXPECT_EQ(reply, R"({"method":"CancelOpt","retVal":0,"errMsg":"text 0"})");
}

// A card read closes only a port it opened; an interaction closes in any case.
TEST_F(HandlerPort, PortThatDidNotOpen) {
    terminal_.open_result = -3;
    std::string reply;
    m_Dev_Hub.ReadIDCard("{}", reply);
    EXPECT_EQ(reply, R"({"method":"ReadIDCard","retVal":-3,"idInfo":{},"errMsg":"text -3"})");
    EXPECT_EQ(terminal_.closes, 0);
    m_Dev_Hub.ShowInformation("{}", reply);
    EXPECT_EQ(terminal_.closes, 1);
    EXPECT_EQ(terminal_.operations, 0);
}

// The code reader has its own envelope, always waits 30 seconds, and leaves the port alone.
TEST_F(HandlerPort, CodeReaderEnvelope) {
    std::string reply;
    m_Dev_Hub.CamReadBarCode(R"({"imgPath":"/tmp/code.jpg"})", reply);
    EXPECT_EQ(
        reply,
        R"({"functionName":"iCamReadBarCode","success":1,"code":"6222020200112233","errorMsg":""})");
    EXPECT_EQ(terminal_.code_reader_wait, 30);
    terminal_.during_operation = [] { return -2; };
    m_Dev_Hub.CamReadBarCode("{}", reply);
    EXPECT_EQ(
        reply,
        R"({"functionName":"iCamReadBarCode","success":0,"code":"6222020200112233","errorMsg":"text -2"})");
    EXPECT_EQ(terminal_.opens, 0);
    EXPECT_EQ(terminal_.closes, 0);
}

// A Base64 file goes to the terminal through a temporary file in the library's Temp/, which is
// gone afterwards; one that does not decode ends the request before the port is opened.
TEST_F(HandlerPort, Base64FileArgument) {
    const std::string temporary = std::string(COUNTERMATE_DEPLOY_DIR) + "/Temp/temp.jpg";
    std::string reply;
    m_Dev_Hub.ShowPictures(R"({"fileForm":1,"fileData":"good"})", reply);
    EXPECT_EQ(reply,
              R"({"method":"ShowPictures","retVal":0,"interactiveValue":1,"errMsg":"text 0"})");
    EXPECT_EQ(terminal_.shown_path, temporary);
    EXPECT_EQ(terminal_.shown_content, "good");
    EXPECT_FALSE(std::ifstream(temporary).good());

    m_Dev_Hub.ShowPictures(R"({"fileForm":1,"fileData":"bad"})", reply);
    EXPECT_EQ(reply,
              R"({"method":"ShowPictures","retVal":-8,"interactiveValue":0,"errMsg":"text -8"})");
    EXPECT_EQ(terminal_.opens, 1);
    EXPECT_EQ(terminal_.operations, 1);

    m_Dev_Hub.ShowPictures(R"({"fileData":"/tmp/picture.png"})", reply);
    EXPECT_EQ(terminal_.shown_path, "/tmp/picture.png");
}

// ---- the adapter's terminal-camera photo: preview stopped, photo taken, preview restarted ----

// A terminal camera whose frame reads wait until a forced return (as a real read waits for the
// next frame), and whose captured photo is a fixed text of JPEG bytes.
class CameraTerminal : public RecordingTerminal {
public:
    void SetForcedReturn(bool force) override {
        std::lock_guard<std::mutex> hold(lock);
        forced = force;
        changed.notify_all();
    }
    int StartVideo(int) override { return record("StartVideo", 0); }
    int StopVideo() override { return record("StopVideo", 0); }
    int PauseVideo() override { return record("PauseVideo", pause_result); }
    int KeepVideo() override { return record("KeepVideo", 0); }
    int GetVideoData(int* length, unsigned char*) override {
        std::unique_lock<std::mutex> hold(lock);
        ++frame_reads;
        changed.notify_all();
        changed.wait(hold, [this] { return forced; });
        forced = false;
        *length = 0;
        return -9;
    }
    int GetCapturedImage(char* name, unsigned char* image, int* length) override {
        record("GetCapturedImage", 0);
        captured_name = name;
        std::memcpy(image, kPhoto, sizeof kPhoto - 1);
        *length = sizeof kPhoto - 1;
        return 0;
    }
    // Waits until the preview thread is reading frames.
    bool wait_for_frame_reads(int count) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(5),
                                [&] { return frame_reads >= count; });
    }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> hold(lock);
        return calls_;
    }

    static constexpr const char kPhoto[] = "\xFF\xD8 photo \xFF\xD9";
    int pause_result = 0;
    std::string captured_name;

private:
    int record(const char* call, int result) {
        std::lock_guard<std::mutex> hold(lock);
        calls_.push_back(call);
        return result;
    }
    std::mutex lock;
    std::condition_variable changed;
    bool forced = false;
    int frame_reads = 0;
    std::vector<std::string> calls_;
};

class AdapterPhoto : public ::testing::Test {
protected:
    void SetUp() override {
        driver_ = ctm;
        ctm = &terminal_;
    }
    void TearDown() override {
        std::string reply;
        m_Dev_Hub.VideoStop("{}", reply);
        ctm = driver_;
    }
    void start_preview() {
        std::string reply;
        m_Dev_Hub.VideoStart(R"({"cameraNo":1})", reply);
        ASSERT_EQ(reply, R"({"method":"VideoStart","retVal":0,"errMsg":""})");
        ASSERT_TRUE(terminal_.wait_for_frame_reads(1));
    }
    CameraTerminal terminal_;
    CCounterMate* driver_ = nullptr;
};

TEST_F(AdapterPhoto, WithoutAPreviewThereIsNoPhoto) {
    std::string reply;
    m_Dev_Hub.GetCameraImage("{}", reply);
    EXPECT_EQ(reply,
              R"({"functionName":"iCamPhotoBase64","errorMsg":"摄像头没有打开","success":0})");
    m_Dev_Hub.GetCameraImage_Path(R"({"imgPath":"/tmp/x.jpg"})", reply);
    EXPECT_EQ(reply,
              R"({"functionName":"iCamPhotoBase64","errorMsg":"摄像头没有打开","success":0})");
    EXPECT_TRUE(terminal_.calls().empty());
}

TEST_F(AdapterPhoto, PhotoInBase64AndThePreviewRunsAgain) {
    start_preview();
    std::string reply;
    m_Dev_Hub.GetCameraImage("{}", reply);
    // "\xFF\xD8 photo \xFF\xD9" in Base64.
    EXPECT_EQ(
        reply,
        R"({"functionName":"iCamPhotoBase64","errorMsg":"","success":1,"imgBase64Str":"/9ggcGhvdG8g/9k="})");
    EXPECT_EQ(terminal_.calls(), (std::vector<std::string>{"StartVideo", "PauseVideo",
                                                           "GetCapturedImage", "KeepVideo"}));
    EXPECT_TRUE(terminal_.wait_for_frame_reads(2)) << "the preview did not start again";
}

TEST_F(AdapterPhoto, PhotoWrittenToThePathItNames) {
    start_preview();
    const std::string path = std::string(COUNTERMATE_DEPLOY_DIR) + "/Temp/adapter-photo.jpg";
    std::string reply;
    m_Dev_Hub.GetCameraImage_Path(R"({"imgPath":")" + path + R"("})", reply);
    EXPECT_EQ(reply, R"({"functionName":"iCamPhoto","errorMsg":"","imgPath":")" + path +
                         R"(","success":1})");
    EXPECT_EQ(terminal_.captured_name, path);
    std::ifstream written(path, std::ios::binary);
    EXPECT_EQ(
        std::string(std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()),
        CameraTerminal::kPhoto);
    std::remove(path.c_str());
}

// A terminal that did not answer the video pause leaves the preview stopped.
TEST_F(AdapterPhoto, UnansweredPauseLeavesThePreviewStopped) {
    start_preview();
    terminal_.pause_result = -15;
    std::string reply;
    m_Dev_Hub.GetCameraImage("{}", reply);
    EXPECT_EQ(reply, R"({"functionName":"iCamPhotoBase64","errorMsg":"拍照失败","success":0})");
    EXPECT_EQ(terminal_.calls(), (std::vector<std::string>{"StartVideo", "PauseVideo"}));
    m_Dev_Hub.CamGetCameraImage("{}", reply);
    EXPECT_EQ(
        reply,
        R"({"method":"CamGetCameraImage","retVal":1,"imgBase64":"","errMsg":"高拍仪未开始预览"})");
}

}  // namespace
}  // namespace countermate::testing
