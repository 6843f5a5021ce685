// The terminal's loss seen from a web page: a request waiting on the terminal is answered within
// seconds with the link's failure, and a terminal that comes back on the same socket serves the
// very next request.
#include <chrono>
#include <string>

#include "service_test_base.h"

namespace countermate::testing {
namespace {

// Far short of the 62 seconds a ReadQR with outTimes 60 waits for its answer.
constexpr int kPromptlyMs = 5000;

using TerminalLoss = ServiceTest;

TEST_F(TerminalLoss, WaitingRequestEndsWhenTheTerminalGoesAndTheNextIsServedWhenItReturns) {
    start_endless_wait("ReadQR", R"({"method":"ReadQR","args":{"outTimes":60}})");

    const auto lost = std::chrono::steady_clock::now();
    terminal().Stop();
    const std::string reply = next_message(kPromptlyMs);
    const auto answered_after = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lost);
    RecordProperty("answered_after_loss_ms", static_cast<int>(answered_after.count()));
    ASSERT_FALSE(reply.empty()) << "no answer within " << kPromptlyMs << " ms of the loss";
    const CJsonObject answer = parse(reply);
    std::string method;
    std::string error_text;
    int code = 0;
    EXPECT_TRUE(answer.Get("method", method) && method == "ReadQR") << reply;
    EXPECT_TRUE(answer.Get("retVal", code) && code == -5) << reply;
    EXPECT_TRUE(answer.Get("errMsg", error_text) && error_text == "接收数据错误") << reply;

    terminal().Script("ReadQR", sim::CommandScript{});
    ASSERT_TRUE(terminal().Start());
    EXPECT_EQ(call(R"({"method":"GetDevID","args":{}})", kPromptlyMs),
              R"({"method":"GetDevID","retVal":0,"devID":"SIMDEV-0001","errMsg":"操作成功"})");
}

}  // namespace
}  // namespace countermate::testing
