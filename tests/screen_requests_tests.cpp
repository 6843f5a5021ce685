// The screen requests end to end on the simulated terminal: the signing-screen mirror
// (SignNameScreen_Start, _Get, _Status, _Stop) and the workstation-screen push
// (StartComputerScreen, StopComputerScreen), whose pictures come from an Xvfb display of the
// test's own.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "VirtualDisplay.h"
#include "camera_test_support.h"
#include "service_test_base.h"

namespace countermate::testing {
namespace {

const char kPushSuite[] = "ScreenPush";

// The display the service's screen push grabs: started before the service, whose environment
// then names it. Without Xvfb the push tests are skipped (the program exits as skipped when it
// runs only them).
class PushDisplay : public ::testing::Environment {
public:
    void SetUp() override {
        if (!snapdesk::testing::VirtualDisplay::installed()) {
            snapdesk::testing::exit_skipped_if_only_suite(kPushSuite, "Xvfb is not installed");
            return;
        }
        if (display().start()) setenv("DISPLAY", display().name().c_str(), 1);
    }
    void TearDown() override { display().stop(); }

    static snapdesk::testing::VirtualDisplay& display() {
        static snapdesk::testing::VirtualDisplay instance;
        return instance;
    }
};

const auto* const push_display = ::testing::AddGlobalTestEnvironment(new PushDisplay);

// ---- the signing mirror ----

class SignMirror : public ServiceTest {};

// First in the program: no mirror has run yet.
TEST_F(SignMirror, StatusIsZeroBeforeAnyStart) {
    EXPECT_EQ(call(R"({"method":"SignNameScreen_Status","args":{}})"),
              R"({"method":"SignNameScreen_Status","signScreenStatus":0})");
}

TEST_F(SignMirror, StopsWithoutAMirrorAnswerZeroAndTouchNothing) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(call(R"({"method":"SignNameScreen_Stop","args":{}})"),
                  R"({"method":"SignNameScreen_Stop","retVal":0,"errMsg":""})");
        EXPECT_EQ(call(R"({"method":"StopComputerScreen","args":{}})"),
                  R"({"method":"StopComputerScreen","retVal":0,"errMsg":""})");
    }
    EXPECT_TRUE(commands_received().empty()) << commands_received().front();
}

std::string member_text(const std::string& message, const char* name) {
    std::string value;
    parse(message).Get(name, value);
    return value;
}

constexpr char kPngInBase64[] = "iVBORw0KGgo";  // the PNG signature's first 8 bytes

// The simulated customer signs (or gives up): the page sees the signing screen's pictures until
// the signing ends, and the status then says how it ended.
TEST_F(SignMirror, PicturesWhileTheCustomerSignsThenHowTheSigningEnded) {
    const struct {
        int signing_status;
        int mirror_status;
    } endings[] = {{0, 2}, {1, 3}};
    for (const auto& ending : endings) {
        SCOPED_TRACE(ending.signing_status);
        sim::StreamScript script;
        script.signing_status = ending.signing_status;
        script.signing_frames = 3;
        script.signing_frame_interval_ms = 50;
        terminal().ScriptStreams(script);
        EXPECT_EQ(call(R"({"method":"SignNameScreen_Start","args":{"outTimes":30}})"),
                  R"({"method":"SignNameScreen_Start","retVal":0,"errMsg":"操作成功"})");
        for (int frame = 0; frame < 3; ++frame) {
            const std::string picture = next_named(*client_, "ScreenStream");
            EXPECT_EQ(picture.find(R"({"method":"ScreenStream","retVal":0,"imgBase64":")"), 0u)
                << picture.substr(0, 80);
            EXPECT_EQ(member_text(picture, "imgBase64").rfind(kPngInBase64, 0), 0u)
                << "frame " << frame;
        }
        std::string status;
        for (int attempt = 0; attempt < 50; ++attempt, usleep(100 * 1000)) {
            status = call(R"({"method":"SignNameScreen_Status","args":{}})");
            if (status.find(":1}") == std::string::npos) break;
        }
        EXPECT_EQ(status, R"({"method":"SignNameScreen_Status","signScreenStatus":)" +
                              std::to_string(ending.mirror_status) + "}");
        if (ending.signing_status == 0) {
            const std::string signature = call(R"({"method":"SignNameScreen_Get","args":{}})");
            EXPECT_EQ(member_text(signature, "signPicBase64").rfind(kPngInBase64, 0), 0u)
                << signature.substr(0, 120);
        }
        // The mirror has ended by itself: a stop, and a second one, find nothing to stop.
        for (int stop = 0; stop < 2; ++stop) {
            EXPECT_EQ(call(R"({"method":"SignNameScreen_Stop","args":{}})"),
                      R"({"method":"SignNameScreen_Stop","retVal":0,"errMsg":""})");
        }
    }
    terminal().ScriptStreams(sim::StreamScript());
}

// ---- the workstation-screen push ----

class ScreenPush : public ServiceTest {
protected:
    void SetUp() override {
        if (!snapdesk::testing::VirtualDisplay::installed())
            GTEST_SKIP() << "Xvfb is not installed";
        ServiceTest::SetUp();
    }
    // The picture the terminal shows, as last pushed.
    std::string shown_picture() {
        std::ifstream file(
            terminal().StoragePath("/sdcard/ZR/CounterMate/temp/computer_screen.png"),
            std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    }
};

TEST_F(ScreenPush, TheTerminalShowsTheScreenUntilStopped) {
    EXPECT_EQ(call(R"({"method":"StartComputerScreen","args":{}})"),
              R"({"method":"StartComputerScreen","retVal":0,"errMsg":"操作成功"})");
    DecodedJpeg picture;
    for (int attempt = 0; attempt < 100 && !picture.decoded; ++attempt, usleep(100 * 1000)) {
        picture = decode_jpeg(shown_picture());
    }
    EXPECT_TRUE(picture.decoded);
    EXPECT_EQ(picture.width, 1024);
    EXPECT_EQ(picture.height, 768);
    EXPECT_EQ(call(R"({"method":"StopComputerScreen","args":{}})"),
              R"({"method":"StopComputerScreen","retVal":0,"errMsg":"操作成功"})");
    const std::vector<std::string> commands = commands_received();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_NE(commands.front().find(R"("command":"StartComputerScreen")"), std::string::npos)
        << commands.front();
    EXPECT_NE(commands.back().find(R"("command":"StopComputerScreen")"), std::string::npos)
        << commands.back();
}

}  // namespace
}  // namespace countermate::testing
