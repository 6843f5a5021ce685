#include "service_test_base.h"

namespace countermate::testing {

ServiceOnSimulator* ServiceTest::service_ = nullptr;

void ServiceTest::SetUpTestSuite() {
    if (!service_) service_ = new ServiceOnSimulator();
}

void ServiceTest::TearDownTestSuite() {}

void ServiceTest::StopService() {
    delete service_;
    service_ = nullptr;
}

void ServiceTest::SetUp() {
    ASSERT_TRUE(service_->started()) << "the service did not start";
    client_ = service_->connect();
    ASSERT_TRUE(client_->is_open());
    commands_before_ = terminal().Commands().size();
}

void ServiceTest::TearDown() {
    // Scripts set by a test end with it, whichever commands it scripted.
    terminal().ClearScripts();
}

void ServiceTest::start_endless_wait(const std::string& command, const std::string& request) {
    sim::CommandScript never;
    never.fault = sim::Fault::kNeverAnswer;
    terminal().Script(command, never);
    const size_t before = terminal().Commands().size();
    ASSERT_TRUE(client_->send_text(request));
    ASSERT_TRUE(terminal().WaitForCommands(before + 1, 5000));
}

std::string ServiceTest::call(const std::string& request, int timeout_ms) {
    EXPECT_TRUE(client_->send_text(request));
    return next_message(timeout_ms);
}

std::string ServiceTest::next_message(int timeout_ms) {
    std::string message;
    client_->receive(message, timeout_ms);
    return message;
}

std::vector<std::string> ServiceTest::commands_received() const {
    const auto all = service_->simulator().Commands();
    return std::vector<std::string>(all.begin() + static_cast<long>(commands_before_), all.end());
}

CJsonObject parse(const std::string& text) {
    CJsonObject parsed;
    parsed.Parse(text);
    return parsed;
}

std::string next_named(WsClientConnection& client, const std::string& method, int timeout_ms) {
    std::string message;
    while (client.receive(message, timeout_ms)) {
        std::string name;
        parse(message).Get("method", name);
        if (name == method) return message;
    }
    return std::string();
}

}  // namespace countermate::testing

namespace {

// The service is stopped once, after every suite of the program has run.
class StopServiceAtExit : public ::testing::Environment {
public:
    void TearDown() override { countermate::testing::ServiceTest::StopService(); }
};

const auto* const stop_service_at_exit = ::testing::AddGlobalTestEnvironment(new StopServiceAtExit);

}  // namespace
