// A driver connected through libHid's simulator transport to an in-process terminal simulator.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
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

// A folder of its own under /tmp for one test, removed with everything in it.
class TestFolder {
public:
    explicit TestFolder(const char* prefix) {
        std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~TestFolder() {
        if (m_path.empty()) return;
        const std::string command = "rm -rf '" + m_path + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// A started simulator of the standard vocabulary, listening on "<folder>/<name>.sock" with its
// storage in "<folder>/<name>"; null when it cannot listen.
inline std::unique_ptr<sim::TerminalSimulator> StartedSimulator(const std::string& folder,
                                                                const std::string& name,
                                                                bool record_history = true) {
    sim::TerminalSimulator::Options options;
    options.socket_path = folder + "/" + name + ".sock";
    options.storage_dir = folder + "/" + name;
    options.record_history = record_history;
    auto simulator = std::make_unique<sim::TerminalSimulator>(options);
    sim::AddStandardVocabulary(*simulator);
    if (!simulator->Start()) return nullptr;
    return simulator;
}

class SimulatedTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        // The driver loads ./libHid.so from the working directory, as in a deployment.
        ASSERT_EQ(chdir(COUNTERMATE_DEPLOY_DIR), 0);
        ASSERT_FALSE(m_test_folder.path().empty());
        m_folder = m_test_folder.path();
        m_simulator = StartedSimulator(m_folder, "terminal");
        ASSERT_NE(m_simulator, nullptr);
        setenv("COUNTERMATE_HID_SIM", (m_folder + "/terminal.sock").c_str(), 1);
        m_driver = static_cast<CDEV_CounterMate*>(CreateCounterMate());
        ASSERT_EQ(m_driver->HIDOpenPort(), 0);
        ASSERT_TRUE(m_simulator->WaitForConnection(5000));
    }

    void TearDown() override {
        DestroyCounterMate(m_driver);
        m_simulator.reset();
        unsetenv("COUNTERMATE_HID_SIM");
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

    TestFolder m_test_folder{"countermate-term"};
    std::string m_folder;
    std::unique_ptr<sim::TerminalSimulator> m_simulator;
    CDEV_CounterMate* m_driver = nullptr;
};

}  // namespace countermate::terminal::testing
