// countermate-terminal-sim as its own process, scripted by a scenario file; and the real
// terminal, when one is attached.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"

namespace countermate::terminal::testing {
namespace {

TEST(TerminalSimulatorProgram, ScenarioFileScriptsTheAnswers) {
    ASSERT_EQ(chdir(COUNTERMATE_DEPLOY_DIR), 0);
    char folder[] = "/tmp/countermate-simprog-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string socket_path = std::string(folder) + "/terminal.sock";
    const std::string scenario = std::string(folder) + "/scenario.json";
    FILE* file = std::fopen(scenario.c_str(), "w");
    std::fputs(
        "{\"Voice\": {\"statusCode\": 1}, \"Reboot\": {\"success\": false},"
        " \"GetLocalSN\": {\"answer\": \"{\\\"success\\\":true,\\\"data\\\":{\\\"sn\\\":\\\"S-1\\\"}}\"}}",
        file);
    std::fclose(file);

    const pid_t simulator = fork();
    ASSERT_GE(simulator, 0);
    if (simulator == 0) {
        const std::string storage = std::string(folder) + "/sdcard";
        execl("./countermate-terminal-sim", "countermate-terminal-sim", "--socket",
              socket_path.c_str(), "--storage", storage.c_str(), "--scenario", scenario.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("COUNTERMATE_HID_SIM", socket_path.c_str(), 1);
    auto* driver = static_cast<CDEV_CounterMate*>(CreateCounterMate());
    int opened = -3;
    for (int attempt = 0; attempt < 500 && opened != 0; ++attempt) {  // until it listens
        opened = driver->HIDOpenPort();
        if (opened != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(opened, 0);

    CJsonObject answer;
    EXPECT_EQ(driver->RunCommand("Voice", nullptr, 0, StatusRule::kCommon, answer), -9);
    EXPECT_EQ(driver->RunCommand("Reboot", nullptr, 0, StatusRule::kCommon, answer), -11);
    ASSERT_EQ(driver->RunCommand("GetLocalSN", nullptr, 0, StatusRule::kCommon, answer), 0);
    EXPECT_EQ(answer["data"]("sn"), "S-1");

    DestroyCounterMate(driver);
    unsetenv("COUNTERMATE_HID_SIM");
    kill(simulator, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(simulator, &status, 0), simulator);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(std::system(("rm -rf '" + std::string(folder) + "'").c_str()), 0);
}

TEST(TerminalHardware, OpensAndClosesTheRealTerminal) {
    ASSERT_EQ(chdir(COUNTERMATE_DEPLOY_DIR), 0);
    unsetenv("COUNTERMATE_HID_SIM");
    auto* driver = static_cast<CDEV_CounterMate*>(CreateCounterMate());
    const int opened = driver->HIDOpenPort();
    if (opened != 0) {
        DestroyCounterMate(driver);
        GTEST_SKIP() << "no terminal (USB 1217:9455) attached";
    }
    EXPECT_EQ(driver->HIDClosePort(), 0);
    DestroyCounterMate(driver);
}

}  // namespace
}  // namespace countermate::terminal::testing
