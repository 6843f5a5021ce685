// Request dispatch through a real WebSocket client: quoting, the busy rule, cancel beside a
// running request, unknown methods, and replies that stay valid JSON.
#include <thread>

#include "service_test_base.h"

namespace countermate::testing {
namespace {

class Dispatch : public ServiceTest {};

TEST_F(Dispatch, SingleQuotedRequestIsServedLikeItsDoubleQuotedForm) {
    const std::string reply = call("{'method':'GetDevID','args':{}}");
    EXPECT_EQ(parse(reply)("method"), "GetDevID");
    EXPECT_EQ(parse(reply)("retVal"), "0");
    EXPECT_EQ(commands_received(), std::vector<std::string>{R"({"command":"GetDeviceCode"})"});
}

TEST_F(Dispatch, ApostropheInsideADoubleQuotedValueArrivesIntact) {
    call(R"({"method":"SetSerialNo","args":{"serialNo":"O'Brien's"}})");
    EXPECT_EQ(commands_received(),
              std::vector<std::string>{R"({"command":"SetLocalSN","param":{"sn":"O'Brien's"}})"});
}

TEST_F(Dispatch, SecondRequestWhileBusyGetsMinus17UnderItsOwnName) {
    sim::CommandScript slow;
    slow.delay_ms = 1500;
    terminal().Script("InputNumber", slow);
    ASSERT_TRUE(client_->send_text(R"({"method":"InputNumber","args":{}})"));
    ASSERT_TRUE(terminal().WaitForCommands(commands_before_ + 1, 5000));
    const std::string busy = call(R"({"method":"GetDevID","args":{}})");
    EXPECT_EQ(busy, R"({"method":"GetDevID","retVal":-17,"errMsg":"设备繁忙"})");
    const CJsonObject first = parse(next_message(10000));
    EXPECT_EQ(first("method"), "InputNumber");
    EXPECT_EQ(first("retVal"), "0");
}

TEST_F(Dispatch, RequestSentAsSoonAsTheReplyArrivesIsNeverRefused) {
    for (int round = 0; round < 300; ++round) {
        const std::string reply = call(R"({"method":"GetDevID","args":{}})");
        ASSERT_EQ(parse(reply)("retVal"), "0") << "round " << round << ": " << reply;
    }
}

TEST_F(Dispatch, CancelIsAnsweredAtOnceAndTheRunningRequestStillReplies) {
    // The customer never types: only a cancel ends it.
    start_endless_wait("InputNumber", R"({"method":"InputNumber","args":{"outTimes":60}})");

    auto canceller = service_->connect();
    ASSERT_TRUE(canceller->send_text(R"({"method":"CancelOpt","args":{}})"));
    std::string cancel_reply;
    ASSERT_TRUE(canceller->receive(cancel_reply, 10000));
    EXPECT_EQ(cancel_reply, R"({"method":"CancelOpt","retVal":0,"errMsg":"操作成功"})");

    const std::string input_reply = next_message(10000);
    EXPECT_EQ(input_reply,
              R"({"method":"InputNumber","retVal":-9,"number":"","errMsg":"取消当前操作"})");
}

TEST_F(Dispatch, UnknownMethodGetsNoReplyAndLeavesTheServiceFree) {
    EXPECT_EQ(call(R"({"method":"NoSuchMethod","args":{}})", 700), "");
    EXPECT_EQ(parse(call(R"({"method":"GetDevID","args":{}})"))("retVal"), "0");
}

TEST_F(Dispatch, TextThatIsNotARequestGetsNoReply) {
    EXPECT_EQ(call("hello", 500), "");
    EXPECT_EQ(call(R"({"args":{}})", 500), "");
    EXPECT_EQ(call(R"({"method":5})", 500), "");
}

TEST_F(Dispatch, RequestWithoutArgsUsesEveryDefault) {
    EXPECT_EQ(call(R"({"method":"PlayVoice"})"),
              R"({"method":"PlayVoice","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(commands_received(),
              std::vector<std::string>{R"({"command":"Voice","param":{"vt":0}})"});
}

TEST_F(Dispatch, ReplyHoldingAQuoteAndABackslashStaysValidJson) {
    sim::CommandScript odd;
    odd.answer = R"({"success":true,"data":{"deviceId":"a\"b\\c"}})";
    terminal().Script("GetDeviceCode", odd);
    const std::string reply = call(R"({"method":"GetDevID","args":{}})");
    const CJsonObject parsed = parse(reply);
    ASSERT_FALSE(parsed.IsEmpty()) << reply;
    EXPECT_EQ(parsed("devID"), "a\"b\\c");
}

}  // namespace
}  // namespace countermate::testing
