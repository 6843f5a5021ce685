// Base of the end-to-end suites: one service on the simulated terminal for the whole program,
// a fresh client per test, and helpers to call and to read what the terminal received.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CJsonObject.h"
#include "service_fixture.h"

namespace countermate::testing {

class ServiceTest : public ::testing::Test {
public:
    static void StopService();

protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Sends `request` and returns the next message (empty when none came within `timeout_ms`).
    std::string call(const std::string& request, int timeout_ms = 10000);
    // The next message on `client_`, or empty after `timeout_ms`.
    std::string next_message(int timeout_ms);
    // Sends `request` with the terminal's `command` scripted never to be answered (the customer
    // never acts: only a cancel or the terminal's loss ends the wait) and waits until the
    // terminal has the command. The script ends with the test.
    void start_endless_wait(const std::string& command, const std::string& request);
    // Command texts the terminal received since this test started.
    std::vector<std::string> commands_received() const;
    sim::TerminalSimulator& terminal() { return service_->simulator(); }

    static ServiceOnSimulator* service_;
    std::unique_ptr<WsClientConnection> client_;
    size_t commands_before_ = 0;
};

// Parses `text`; an empty object when it is not JSON.
CJsonObject parse(const std::string& text);

// The next message named `method` on `client`, passing over others (stream frames); empty after
// `timeout_ms` without any message.
std::string next_named(WsClientConnection& client, const std::string& method,
                       int timeout_ms = 10000);

}  // namespace countermate::testing
