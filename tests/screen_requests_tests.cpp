// The screen requests end to end on the simulated terminal: the signing-screen mirror
// (SignNameScreen_Start, _Get, _Status, _Stop) and the workstation-screen push
// (StartComputerScreen, StopComputerScreen), whose pictures come from an Xvfb display of the
// test's own.
#include <cstdlib>

#include "VirtualDisplay.h"
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

}  // namespace
}  // namespace countermate::testing
