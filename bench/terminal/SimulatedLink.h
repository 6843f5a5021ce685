// A driver connected through libHid's simulator transport to an in-process terminal simulator,
// in a scratch folder, for the terminal benchmarks; and the clocks they measure with.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "TerminalSimulator.h"

namespace countermate::bench {

using countermate::sim::TerminalSimulator;
using countermate::terminal::StatusRule;

inline double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

inline double WallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// A driver connected to an in-process simulator, in a scratch folder.
class Link {
public:
    // `frames_per_second` paces the simulator's camera video (0: as fast as acknowledged).
    explicit Link(int frames_per_second = 25) {
        if (chdir(COUNTERMATE_DEPLOY_DIR) != 0) std::abort();
        char folder[] = "/tmp/countermate-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) std::abort();
        m_folder = folder;
        TerminalSimulator::Options options;
        options.socket_path = m_folder + "/terminal.sock";
        options.storage_dir = m_folder + "/sdcard";
        options.record_reports = false;
        options.record_history = false;
        options.frames_per_second = frames_per_second;
        m_simulator = std::make_unique<TerminalSimulator>(options);
        countermate::sim::AddStandardVocabulary(*m_simulator);
        if (!m_simulator->Start()) std::abort();
        setenv("COUNTERMATE_HID_SIM", options.socket_path.c_str(), 1);
        m_driver = static_cast<CDEV_CounterMate*>(CreateCounterMate());
        if (m_driver->HIDOpenPort() != 0 || !m_simulator->WaitForConnection(5000)) std::abort();
    }
    ~Link() {
        DestroyCounterMate(m_driver);
        m_simulator.reset();
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    std::string WriteLocal(const std::string& name, size_t size) {
        const std::string path = m_folder + "/" + name;
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 131 + (i >> 9));
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, size, file);
        std::fclose(file);
        return path;
    }

    // Returns once the simulator has handled everything sent so far.
    void Settle() {
        CJsonObject answer;
        if (m_driver->RunCommand("Reboot", nullptr, 0, StatusRule::kNotRead, answer) != 0)
            std::abort();
    }

    CDEV_CounterMate* driver() { return m_driver; }
    TerminalSimulator& simulator() { return *m_simulator; }
    const std::string& folder() const { return m_folder; }

private:
    std::string m_folder;
    std::unique_ptr<TerminalSimulator> m_simulator;
    CDEV_CounterMate* m_driver = nullptr;
};

}  // namespace countermate::bench
