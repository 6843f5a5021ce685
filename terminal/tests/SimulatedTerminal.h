// A driver connected through libHid's simulator transport to an in-process terminal simulator.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "TerminalSimulator.h"
#include "TestFiles.h"

namespace countermate::terminal::testing {

inline std::string Text(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class SimulatedTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        // The driver loads ./libHid.so from the working directory, as in a deployment.
        ASSERT_EQ(chdir(COUNTERMATE_DEPLOY_DIR), 0);
        char folder[] = "/tmp/countermate-term-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        sim::TerminalSimulator::Options options;
        options.socket_path = m_folder + "/terminal.sock";
        options.storage_dir = m_folder + "/sdcard";
        m_simulator = std::make_unique<sim::TerminalSimulator>(options);
        sim::AddStandardVocabulary(*m_simulator);
        ASSERT_TRUE(m_simulator->Start());
        setenv("COUNTERMATE_HID_SIM", options.socket_path.c_str(), 1);
        m_driver = static_cast<CDEV_CounterMate*>(CreateCounterMate());
        ASSERT_EQ(m_driver->HIDOpenPort(), 0);
        ASSERT_TRUE(m_simulator->WaitForConnection(5000));
    }

    void TearDown() override {
        DestroyCounterMate(m_driver);
        m_simulator.reset();
        unsetenv("COUNTERMATE_HID_SIM");
        std::string command = "rm -rf '" + m_folder + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    // A local file in the test's folder holding `content`; returns its path.
    std::string LocalFile(const std::string& name, const std::string& content) {
        return WriteTestFile(m_folder + "/" + name, content);
    }

    std::string ReadFile(const std::string& path) { return ReadTestFile(path); }

    // The packets the simulator received, once `count` of them have arrived.
    std::vector<std::vector<unsigned char>> ReportsAfter(size_t count) {
        EXPECT_TRUE(m_simulator->WaitForReports(count, 5000));
        return m_simulator->Reports();
    }

    // Returns once the simulator has handled everything sent before: it answers in order.
    void Settle() {
        CJsonObject answer;
        ASSERT_EQ(m_driver->RunCommand("Reboot", nullptr, 0, StatusRule::kNotRead, answer), 0);
    }

    std::string m_folder;
    std::unique_ptr<sim::TerminalSimulator> m_simulator;
    CDEV_CounterMate* m_driver = nullptr;
};

}  // namespace countermate::terminal::testing
