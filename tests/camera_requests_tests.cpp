// The camera requests end to end, in both camera configurations: the terminal's own camera
// (the shipped CONFIG.ini) and the camera driver with a file-backed document camera.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "camera_test_support.h"
#include "driver_camera_service.h"
#include "raw_ws_socket.h"
#include "service_test_base.h"

namespace countermate::testing {
namespace {

namespace fs = std::filesystem;

// ---- terminal camera: the settings a page can change without a preview ----

struct SettingCase {
    const char* request;
    const char* reply;
};

class TerminalCameraSettings : public ServiceTest,
                               public ::testing::WithParamInterface<SettingCase> {};

TEST_P(TerminalCameraSettings, AnswerWithoutTheTerminal) {
    EXPECT_EQ(call(GetParam().request), GetParam().reply);
    EXPECT_TRUE(commands_received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, TerminalCameraSettings,
    ::testing::Values(
        SettingCase{R"({"method":"CamInit","args":{}})",
                    R"({"method":"CamInit","retVal":0,"errMsg":"成功"})"},
        SettingCase{R"({"method":"CamDeinit","args":{}})",
                    R"({"method":"CamDeinit","retVal":0,"errMsg":"成功"})"},
        SettingCase{
            R"({"method":"CamGetResolutionList","args":{}})",
            R"({"method":"CamGetResolutionList","retVal":0,"errMsg":"","resolutionList":"2048*1536|1600*1200|1920*1080|1280*960|1024*768|1280*720|800*600|640*480|320*240"})"},
        SettingCase{
            R"({"method":"CamGetResolutionList","args":{"cameraNo":2}})",
            R"({"method":"CamGetResolutionList","retVal":0,"errMsg":"","resolutionList":"2048*1536|1600*1200|1920*1080|1024*768|1280*720|800*600|640*480"})"},
        SettingCase{
            R"({"method":"CamGetResolutionList","args":{"cameraNo":3}})",
            R"({"method":"CamGetResolutionList","retVal":0,"errMsg":"","resolutionList":""})"},
        SettingCase{R"({"method":"CamSetColor","args":{"color":3}})",
                    R"({"method":"CamSetColor","retVal":0,"errMsg":"成功"})"},
        SettingCase{R"({"method":"CamSetRotateLeft","args":{}})",
                    R"({"method":"CamSetRotateLeft","retVal":0,"errMsg":""})"},
        SettingCase{R"({"method":"CamSetRotateRight","args":{}})",
                    R"({"method":"CamSetRotateRight","retVal":0,"errMsg":""})"},
        SettingCase{R"({"method":"VideoRotate","args":{}})",
                    R"({"method":"VideoRotate","retVal":0,"errMsg":""})"},
        SettingCase{R"({"method":"CamZoomIn","args":{}})",
                    R"({"method":"CamZoomIn","retVal":0,"errMsg":""})"},
        SettingCase{R"({"method":"CamZoomOut","args":{}})",
                    R"({"method":"CamZoomOut","retVal":0,"errMsg":""})"},
        SettingCase{
            R"({"method":"CamGetCameraImage","args":{}})",
            R"({"method":"CamGetCameraImage","retVal":1,"imgBase64":"","errMsg":"高拍仪未开始预览"})"},
        SettingCase{
            R"({"method":"VideoGetImage","args":{}})",
            R"({"method":"VideoGetImage","retVal":-11,"errMsg":"高拍仪未开始预览","imgBase64":""})"},
        SettingCase{R"({"method":"VideoStop","args":{}})",
                    R"({"method":"VideoStop","retVal":0,"errMsg":""})"}));

TEST_F(ServiceTest, TerminalCameraKeepsTheChosenResolution) {
    EXPECT_EQ(call(R"({"method":"CamSetResolution","args":{"resolution":"1280*720"}})"),
              R"({"method":"CamSetResolution","retVal":0,"errMsg":"成功"})");
    EXPECT_EQ(
        call(R"({"method":"CamGetCurrentResolution","args":{}})"),
        R"({"method":"CamGetCurrentResolution","retVal":0,"resolution":"1280*720","errMsg":""})");
}

// ---- camera driver: a file-backed document camera ----

// Messages of `client` until `done` says enough or `timeout_ms` passed without any.
template <typename Done>
std::vector<CJsonObject> collect(WsClientConnection& client, Done done, int timeout_ms = 10000) {
    std::vector<CJsonObject> messages;
    std::string text;
    while (!done(messages) && client.receive(text, timeout_ms)) messages.push_back(parse(text));
    return messages;
}

std::string text_of(const CJsonObject& message, const char* key) {
    std::string value;
    message.Get(key, value);
    return value;
}

int count_frames(const std::vector<CJsonObject>& messages, const char* method) {
    int frames = 0;
    for (const CJsonObject& message : messages) frames += text_of(message, "method") == method;
    return frames;
}

// The reply of `request`'s method on `on`, skipping the preview frames that come before it;
// empty when it did not come.
CJsonObject reply_skipping_frames(WsClientConnection& on, const std::string& request) {
    on.send_text(request);
    const std::string reply = next_named(on, text_of(parse(request), "method"));
    return reply.empty() ? CJsonObject() : parse(reply);
}

int ret_val(const CJsonObject& reply) {
    int value = -1000;
    reply.Get("retVal", value);
    return value;
}

// The next `count` messages of `client` (fewer when they stop coming).
std::vector<CJsonObject> next_messages(WsClientConnection& client, size_t count) {
    return collect(client,
                   [count](const std::vector<CJsonObject>& seen) { return seen.size() >= count; });
}

// `frames` are `count` preview frames ("VideoStream") that succeeded and decode as JPEG, of
// `width` x `height` when those are given.
void expect_decoded_frames(const std::vector<CJsonObject>& frames, int count, int width = 0,
                           int height = 0) {
    ASSERT_EQ(count_frames(frames, "VideoStream"), count);
    for (const CJsonObject& frame : frames) {
        EXPECT_EQ(ret_val(frame), 0);
        const DecodedJpeg picture = decode_jpeg_base64(text_of(frame, "imgBase64"));
        EXPECT_TRUE(picture.decoded);
        EXPECT_GT(picture.width, 0);
        if (width > 0) {
            EXPECT_EQ(picture.width, width);
        }
        if (height > 0) {
            EXPECT_EQ(picture.height, height);
        }
    }
}

// Asks with CamGetCameraImage on `client` until the answer says no preview runs; that answer.
std::string photo_once_no_preview_runs(WsClientConnection& client) {
    const std::string stopped =
        R"({"method":"CamGetCameraImage","retVal":1,"imgBase64":"","errMsg":"高拍仪未开始预览"})";
    std::string photo;
    for (int attempt = 0; attempt < 50 && photo != stopped; ++attempt) {
        if (attempt > 0) usleep(100 * 1000);
        photo =
            reply_skipping_frames(client, R"({"method":"CamGetCameraImage","args":{}})").ToString();
    }
    return photo;
}

class DriverCamera : public ::testing::Test {
protected:
    static void SetUpTestSuite() { camera_ = new DriverCameraService(); }
    static void TearDownTestSuite() {
        delete camera_;
        camera_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(camera_->started());
        client_ = camera_->service().connect();
        ASSERT_TRUE(client_);
    }
    void TearDown() override {
        if (client_) call(R"({"method":"VideoStop","args":{}})");
    }
    CJsonObject call(const std::string& request, WsClientConnection* client = nullptr) {
        return reply_skipping_frames(client ? *client : *client_, request);
    }
    static DriverCameraService* camera_;
    std::unique_ptr<WsClientConnection> client_;
};
DriverCameraService* DriverCamera::camera_ = nullptr;

TEST_F(DriverCamera, VideoStartSendsFramesThatDecodeUntilVideoStop) {
    const CJsonObject started = call(R"({"method":"VideoStart","args":{"cameraNo":1}})");
    EXPECT_EQ(started.ToString(), R"({"method":"VideoStart","retVal":0,"errMsg":""})");
    expect_decoded_frames(next_messages(*client_, 3), 3);
    EXPECT_EQ(call(R"({"method":"VideoStop","args":{}})").ToString(),
              R"({"method":"VideoStop","retVal":0,"errMsg":""})");
    std::string after;
    EXPECT_FALSE(client_->receive(after, 500)) << after;
}

TEST_F(DriverCamera, StartingTheRunningPreviewAgainChangesNothing) {
    ASSERT_EQ(ret_val(call(R"({"method":"VideoStart","args":{"cameraNo":1}})")), 0);
    EXPECT_EQ(call(R"({"method":"VideoStart","args":{"cameraNo":1}})").ToString(),
              R"({"method":"VideoStart","retVal":0,"errMsg":""})");
    // CamGetVideoStream while a preview runs answers nothing: only frames come.
    client_->send_text(R"({"method":"CamGetVideoStream","args":{}})");
    const auto frames = next_messages(*client_, 3);
    EXPECT_EQ(count_frames(frames, "VideoStream"), 3);
}

TEST_F(DriverCamera, PhotoDuringThePreviewIsWrittenAndHandedOver) {
    ASSERT_EQ(ret_val(call(R"({"method":"CamInit","args":{}})")), 0);
    ASSERT_EQ(ret_val(call(R"({"method":"CamOpen","args":{"cameraNo":1}})")), 0);
    // The preview's frames answer CamGetVideoStream.
    const CJsonObject first = call(R"({"method":"CamGetVideoStream","args":{}})");
    ASSERT_EQ(ret_val(first), 0);
    ASSERT_TRUE(decode_jpeg_base64(text_of(first, "imgBase64")).decoded);
    TemporaryFolder folder;
    const std::string path = folder.path() + "/photo.jpg";
    const CJsonObject photo =
        call(R"({"method":"CamGetCameraImage","args":{"imagePath":")" + path + R"("}})");
    EXPECT_EQ(ret_val(photo), 0) << photo.ToString().substr(0, 200);
    EXPECT_TRUE(decode_jpeg_base64(text_of(photo, "imgBase64")).decoded);
    EXPECT_TRUE(fs::is_regular_file(path));
    // The preview goes on after the photo.
    const auto frames = next_messages(*client_, 2);
    EXPECT_EQ(count_frames(frames, "CamGetVideoStream"), 2);
}

TEST_F(DriverCamera, ThePreviewEndsWhenItsPageLeaves) {
    auto viewer = camera_->service().connect();
    ASSERT_EQ(ret_val(call(R"({"method":"VideoStart","args":{"cameraNo":1}})", viewer.get())), 0);
    viewer->close();
    // Another page sees the preview stopped once the departure has been handled.
    EXPECT_EQ(
        photo_once_no_preview_runs(*client_),
        R"({"method":"CamGetCameraImage","retVal":1,"imgBase64":"","errMsg":"高拍仪未开始预览"})");
    // The departed page's stop still closing the camera does not close the one opened next.
    ASSERT_EQ(ret_val(call(R"({"method":"VideoStart","args":{"cameraNo":1}})")), 0);
    expect_decoded_frames(next_messages(*client_, 3), 3);
}

TEST_F(DriverCamera, FramesGoOnlyToThePageThatStartedThePreview) {
    auto other = camera_->service().connect();
    ASSERT_EQ(ret_val(call(R"({"method":"VideoStart","args":{"cameraNo":1}})")), 0);
    // A request of another page while the preview runs does not take the frames over.
    EXPECT_EQ(ret_val(call(R"({"method":"CamInit","args":{}})", other.get())), 0);
    const auto frames = next_messages(*client_, 3);
    EXPECT_EQ(count_frames(frames, "VideoStream"), 3);
    std::string stray;
    EXPECT_FALSE(other->receive(stray, 300)) << stray.substr(0, 100);
}

// A page that starts a preview and then reads nothing holds at most one frame in the service:
// the others are dropped, the other pages are served meanwhile, and once its output has not
// moved for the send deadline the page is disconnected and its preview stopped.
TEST_F(DriverCamera, APreviewPageThatStopsReadingHoldsUpNobody) {
    RawWsSocket stalled;
    ASSERT_TRUE(stalled.connect(camera_->service().port(), "127.0.0.1", nullptr, 4096));
    ASSERT_EQ(stalled.handshake().rfind("HTTP/1.1 101", 0), 0u);
    ASSERT_TRUE(
        stalled.write(RawWsSocket::frame(1, R"({"method":"VideoStart","args":{"cameraNo":1}})")));
    // Served while the stalled page's frames come and go (refused as busy only while its
    // VideoStart itself runs, which a sanitizer build makes slow).
    int served = 0;
    for (int request = 0; request < 50 && served < 8; ++request) {
        const int code = ret_val(call(R"({"method":"GetDevID","args":{}})"));
        EXPECT_TRUE(code == 0 || code == -17) << code;
        served += code == 0;
        usleep(100 * 1000);
    }
    EXPECT_EQ(served, 8);
    EXPECT_TRUE(stalled.wait_hung_up(30000)) << "the page that never reads is still connected";
    EXPECT_EQ(
        photo_once_no_preview_runs(*client_),
        R"({"method":"CamGetCameraImage","retVal":1,"imgBase64":"","errMsg":"高拍仪未开始预览"})");
}

// ---- terminal camera: the preview of the simulated terminal's camera ----

// The size of the first of `frames` named `method` that decodes, or {0, 0}.
std::pair<int, int> frame_size(const std::vector<CJsonObject>& frames, const char* method) {
    for (const CJsonObject& frame : frames) {
        if (text_of(frame, "method") != method) continue;
        const DecodedJpeg picture = decode_jpeg_base64(text_of(frame, "imgBase64"));
        if (picture.decoded) return {picture.width, picture.height};
    }
    return {0, 0};
}

class TerminalCamera : public ServiceTest {
protected:
    void TearDown() override {
        if (client_) reply_skipping_frames(*client_, R"({"method":"VideoStop","args":{}})");
        ServiceTest::TearDown();
    }
    CJsonObject call_beside_preview(const std::string& request) {
        return reply_skipping_frames(*client_, request);
    }
};

TEST_F(TerminalCamera, FramesAreTheTerminalsPicturesUntilVideoStop) {
    EXPECT_EQ(call_beside_preview(R"({"method":"VideoStart","args":{"cameraNo":1}})").ToString(),
              R"({"method":"VideoStart","retVal":0,"errMsg":""})");
    expect_decoded_frames(next_messages(*client_, 3), 3, 640, 480);
    // The same camera again changes nothing; the other camera switches the stream over.
    EXPECT_EQ(call_beside_preview(R"({"method":"VideoStart","args":{"cameraNo":1}})").ToString(),
              R"({"method":"VideoStart","retVal":0,"errMsg":""})");
    EXPECT_EQ(call_beside_preview(R"({"method":"VideoStart","args":{"cameraNo":2}})").ToString(),
              R"({"method":"VideoStart","retVal":0,"errMsg":""})");
    EXPECT_EQ(count_frames(next_messages(*client_, 2), "VideoStream"), 2);
    EXPECT_EQ(call_beside_preview(R"({"method":"VideoStop","args":{}})").ToString(),
              R"({"method":"VideoStop","retVal":0,"errMsg":""})");
    std::string after;
    EXPECT_FALSE(client_->receive(after, 500)) << after.substr(0, 100);
}

// A quarter turn shows from a following frame; zoom and edge marking keep the turned size.
TEST_F(TerminalCamera, TurnedZoomedAndEdgeMarkedFrames) {
    ASSERT_EQ(ret_val(call_beside_preview(
                  R"({"method":"VideoStart","args":{"cameraNo":1,"isEdgeDetection":1}})")),
              0);
    EXPECT_EQ(frame_size(next_messages(*client_, 2), "VideoStream"), std::make_pair(640, 480));
    ASSERT_EQ(ret_val(call_beside_preview(R"({"method":"CamSetRotateRight","args":{}})")), 0);
    for (int step = 0; step < 3; ++step) {
        ASSERT_EQ(ret_val(call_beside_preview(R"({"method":"CamZoomIn","args":{}})")), 0);
    }
    next_messages(*client_, 1);  // a frame already on its way may still be unturned
    EXPECT_EQ(frame_size(next_messages(*client_, 2), "VideoStream"), std::make_pair(480, 640));
}

TEST_F(TerminalCamera, PhotoParksThePreviewWhichThenGoesOn) {
    ASSERT_EQ(ret_val(call_beside_preview(R"({"method":"VideoStart","args":{"cameraNo":1}})")), 0);
    ASSERT_EQ(count_frames(next_messages(*client_, 1), "VideoStream"), 1);
    TemporaryFolder folder;
    const std::string path = folder.path() + "/photo.jpg";
    const CJsonObject photo = call_beside_preview(
        R"({"method":"CamGetCameraImage","args":{"imagePath":")" + path + R"("}})");
    EXPECT_EQ(ret_val(photo), 0) << photo.ToString().substr(0, 200);
    EXPECT_TRUE(decode_jpeg_base64(text_of(photo, "imgBase64")).decoded);
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(count_frames(next_messages(*client_, 2), "VideoStream"), 2);
}

// The preview reads through the terminal's port, so a request served beside it must leave the
// port open: closing it would end the stream.
TEST_F(TerminalCamera, RequestsBesideThePreviewLeaveItRunning) {
    ASSERT_EQ(ret_val(call_beside_preview(R"({"method":"VideoStart","args":{"cameraNo":1}})")), 0);
    ASSERT_EQ(count_frames(next_messages(*client_, 1), "VideoStream"), 1);
    EXPECT_EQ(ret_val(call_beside_preview(R"({"method":"GetDevID","args":{}})")), 0);
    EXPECT_EQ(count_frames(next_messages(*client_, 3), "VideoStream"), 3);
}

TEST_F(TerminalCamera, ThePreviewEndsWhenItsPageLeaves) {
    auto viewer = service_->connect();
    ASSERT_EQ(
        ret_val(reply_skipping_frames(*viewer, R"({"method":"VideoStart","args":{"cameraNo":1}})")),
        0);
    ASSERT_EQ(count_frames(next_messages(*viewer, 1), "VideoStream"), 1);
    viewer->close();
    EXPECT_EQ(
        photo_once_no_preview_runs(*client_),
        R"({"method":"CamGetCameraImage","retVal":1,"imgBase64":"","errMsg":"高拍仪未开始预览"})");
    // The terminal is free for the next request.
    EXPECT_EQ(ret_val(call_beside_preview(R"({"method":"GetDevID","args":{}})")), 0);
}

}  // namespace
}  // namespace countermate::testing
