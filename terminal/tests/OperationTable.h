// Operations run against the simulated terminal from a table: each row runs one operation and
// names the exact command texts the terminal received, the result and what the operation handed
// back (outputs joined by "|", pulled files summarised by the helpers below).
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {

struct OperationRow {
    const char* name;
    std::function<int(std::string& output)> run;
    std::vector<std::string> commands;  // as the simulator received them, in order
    int result;
    std::string output;
};

class OperationTable : public SimulatedTerminal {
protected:
    // The command Settle sends; no row runs it.
    static constexpr const char* kSettleCommand = R"({"command":"Reboot"})";

    void RunRows(const std::vector<OperationRow>& rows) {
        for (const OperationRow& row : rows) {
            const size_t before = m_simulator->Commands().size();
            std::string output;
            EXPECT_EQ(row.run(output), row.result) << row.name;
            std::vector<std::string> received = m_simulator->Commands();
            received.erase(received.begin(), received.begin() + before);
            received.erase(std::remove(received.begin(), received.end(), kSettleCommand),
                           received.end());
            EXPECT_EQ(received, row.commands) << row.name;
            EXPECT_EQ(output, row.output) << row.name;
        }
    }

    // The content of a file in the terminal's storage.
    std::string Stored(const std::string& terminal_path) {
        return ReadFile(m_simulator->StoragePath(terminal_path));
    }

    void Store(const std::string& terminal_path, const std::string& content) {
        const std::string path = m_simulator->StoragePath(terminal_path);
        ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str()), 0);
        LocalFileAt(path, content);
    }

    // "pulled" when the local file holds the terminal file's non-empty content.
    std::string Pulled(const std::string& local_path, const std::string& terminal_path) {
        const std::string stored = Stored(terminal_path);
        if (stored.empty()) return "nothing stored at " + terminal_path;
        return ReadFile(local_path) == stored ? "pulled" : "differs from " + terminal_path;
    }

    // "pulled" when `base64` is the terminal file's non-empty content as Base64.
    std::string PulledBase64(const std::string& base64, const std::string& terminal_path) {
        std::string stored = Stored(terminal_path);
        if (stored.empty()) return "nothing stored at " + terminal_path;
        std::string expected((stored.size() / 3 + 2) * 4 + 1, '\0');
        m_driver->Base64Encode(reinterpret_cast<unsigned char*>(&stored[0]),
                               static_cast<int>(stored.size()), &expected[0]);
        return base64 == expected.c_str() ? "pulled" : "differs from " + terminal_path;
    }

    // "pushed" when the terminal file holds the local file's non-empty content. The terminal
    // answers nothing to a push's last block, so a command is run first to let it finish
    // (RunRows does not count that command).
    std::string Pushed(const std::string& local_path, const std::string& terminal_path) {
        Settle();
        const std::string local = ReadFile(local_path);
        if (local.empty()) return "nothing at " + local_path;
        return Stored(terminal_path) == local ? "pushed" : "not pushed to " + terminal_path;
    }

    // The terminal paths the driver asked to pull, in order.
    std::vector<std::string> PulledPaths(size_t from) {
        std::vector<std::string> paths;
        const std::vector<std::string> requests = m_simulator->PullRequests();
        for (size_t i = from; i < requests.size(); ++i) {
            CJsonObject announcement(requests[i]);
            std::string name;
            announcement.Get("fileName", name);
            paths.push_back(name);
        }
        return paths;
    }

    // Looks at the driver's clock: each look is one second later, so a wait that never gets its
    // answer ends after (answer wait + 3) looks without the test really waiting.
    size_t LooksUntilTimedOut(const char* command, const std::function<int()>& operation) {
        sim::CommandScript script;
        script.fault = sim::Fault::kNeverAnswer;
        m_simulator->Script(command, script);
        size_t looks = 0;
        m_driver->UseClock([&] { return static_cast<std::time_t>(looks++); });
        EXPECT_EQ(operation(), -2) << command;
        m_driver->UseClock([] { return std::time(nullptr); });
        // The simulator keeps the unanswered command until the next one replaces it.
        m_simulator->Script(command, sim::CommandScript());
        return looks;
    }

private:
    void LocalFileAt(const std::string& path, const std::string& content) {
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
};

}  // namespace countermate::terminal::testing
