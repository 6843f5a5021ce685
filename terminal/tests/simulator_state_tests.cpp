// What a simulated terminal keeps: its own serial number, and a history of what it was sent only
// when asked to (a simulator left running all day must not grow with every command).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "DEV_CounterMate.h"
#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

class SimulatorState : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chdir(COUNTERMATE_DEPLOY_DIR), 0);
        ASSERT_FALSE(m_folder.path().empty());
    }

    std::unique_ptr<sim::TerminalSimulator> Simulator(const std::string& name, bool history) {
        auto simulator = StartedSimulator(m_folder.path(), name, history);
        EXPECT_NE(simulator, nullptr);
        return simulator;
    }

    // A driver on libHid, talking to the simulator of `name`.
    std::unique_ptr<CCounterMate, void (*)(CCounterMate*)> DriverOn(const std::string& name) {
        setenv("COUNTERMATE_HID_SIM", (m_folder.path() + "/" + name + ".sock").c_str(), 1);
        std::unique_ptr<CCounterMate, void (*)(CCounterMate*)> driver(CreateCounterMate(),
                                                                      DestroyCounterMate);
        EXPECT_EQ(driver->HIDOpenPort(), 0);
        unsetenv("COUNTERMATE_HID_SIM");
        return driver;
    }

    TestFolder m_folder{"countermate-simstate"};
};

TEST_F(SimulatorState, EachSimulatorKeepsItsOwnSerialNumber) {
    auto first = Simulator("first", true);
    auto second = Simulator("second", true);
    auto first_driver = DriverOn("first");
    auto second_driver = DriverOn("second");
    char serial[200] = "COUNTER-42";
    ASSERT_EQ(first_driver->SetSerialNo(serial), 0);
    char read_back[200] = {};
    ASSERT_EQ(first_driver->GetSerialNo(read_back), 0);
    EXPECT_STREQ(read_back, "COUNTER-42");
    ASSERT_EQ(second_driver->GetSerialNo(read_back), 0);
    EXPECT_STREQ(read_back, "SIM0000001");
}

TEST_F(SimulatorState, WithoutHistoryCommandsAreCountedNotKept) {
    auto simulator = Simulator("quiet", false);
    auto driver = DriverOn("quiet");
    char device_id[96] = {};
    for (int index = 0; index < 3; ++index) ASSERT_EQ(driver->GetDevID(device_id), 0);
    EXPECT_TRUE(simulator->WaitForCommands(3, 5000));
    EXPECT_TRUE(simulator->Commands().empty());
}

}  // namespace
}  // namespace countermate::terminal::testing
