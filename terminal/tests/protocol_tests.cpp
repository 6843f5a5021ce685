// JSON commands and answers, the cancel path, the simulator's faults and the error texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

using TerminalCommandProtocol = SimulatedTerminal;

TEST_F(TerminalCommandProtocol, CommandTextIsCompactJsonEndedByCarriageReturn) {
    char buffer[64] = {};
    ASSERT_EQ(m_driver->BuildCommand(buffer, sizeof buffer, "Cancel", nullptr), 0);
    EXPECT_EQ(std::string(buffer), "{\"command\":\"Cancel\"}\r");
    char with_param[64] = {};
    ASSERT_EQ(m_driver->BuildCommand(with_param, sizeof with_param, "Voice", "{\"vt\": 3}"), 0);
    EXPECT_EQ(std::string(with_param), "{\"command\":\"Voice\",\"param\":{\"vt\":3}}\r");
    char small[20] = {};  // the text fits, its carriage return does not
    EXPECT_EQ(m_driver->BuildCommand(small, sizeof small, "Cancel", nullptr), -10);
}

TEST_F(TerminalCommandProtocol, CancelTravelsAsKind3) {
    ASSERT_EQ(m_driver->CancelOpt(), 0);
    const auto reports = m_simulator->Reports();
    ASSERT_EQ(reports.size(), 1u);
    const std::string text = "{\"command\":\"Cancel\"}\r";
    std::vector<unsigned char> expected = {3, 0, static_cast<unsigned char>(text.size())};
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(reports[0], expected);
}

TEST_F(TerminalCommandProtocol, AnswerIsJudgedBySuccessBoolean) {
    struct Case {
        const char* answer;
        int result;
    } cases[] = {
        {"{\"success\":true}", 0},       {"{\"success\":false}", -11},
        {"{\"success\":\"true\"}", -11},                      // a string is not the boolean
        {"{\"statusCode\":0}", -11},     {"{success}", -11},  // not JSON, but ends like an answer
    };
    for (const Case& c : cases) {
        sim::CommandScript script;
        script.answer = c.answer;
        m_simulator->Script("Reboot", script);
        CJsonObject answer;
        EXPECT_EQ(m_driver->RunCommand("Reboot", nullptr, 0, StatusRule::kNotRead, answer),
                  c.result)
            << c.answer;
    }
}

TEST_F(TerminalCommandProtocol, StatusCodeMapsToResult) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, -9}, {2, -2}, {-1, -19}, {7, 0}};
    for (const auto& [status_code, result] : cases) {
        sim::CommandScript script;
        script.status_code = status_code;
        m_simulator->Script("Voice", script);
        CJsonObject answer;
        EXPECT_EQ(m_driver->RunCommand("Voice", nullptr, 0, StatusRule::kCommon, answer), result)
            << status_code;
        EXPECT_EQ(m_driver->RunCommand("Voice", nullptr, 0, StatusRule::kNotRead, answer), 0);
    }
}

TEST_F(TerminalCommandProtocol, UnknownCommandFailsOnTheTerminal) {
    CJsonObject answer;
    EXPECT_EQ(m_driver->RunCommand("NoSuchCommand", nullptr, 0, StatusRule::kNotRead, answer), -11);
}

TEST_F(TerminalCommandProtocol, AnswerOverSeveralSegmentsIsRebuilt) {
    const std::string long_value(1500, 'v');
    sim::CommandScript script;
    script.answer = "{\"success\":true,\"data\":{\"sn\":\"" + long_value + "\"}}";
    m_simulator->Script("GetLocalSN", script);
    CJsonObject answer;
    ASSERT_EQ(m_driver->RunCommand("GetLocalSN", nullptr, 0, StatusRule::kNotRead, answer), 0);
    CJsonObject data;
    std::string serial_no;
    ASSERT_TRUE(answer.Get("data", data));
    ASSERT_TRUE(data.Get("sn", serial_no));
    EXPECT_EQ(serial_no, long_value);
}

TEST_F(TerminalCommandProtocol, CommandParametersReachTheTerminal) {
    CJsonObject param;
    param.Add("vt", 3);
    CJsonObject answer;
    ASSERT_EQ(m_driver->RunCommand("Voice", &param, 0, StatusRule::kCommon, answer), 0);
    EXPECT_EQ(m_simulator->Commands(),
              std::vector<std::string>{"{\"command\":\"Voice\",\"param\":{\"vt\":3}}"});
}

// A timeout of 0 gives the terminal 10 seconds, and its answer 2 more.
TEST_F(TerminalCommandProtocol, TimeoutZeroWaitsTwelveSecondsForTheAnswer) {
    sim::CommandScript script;
    script.fault = sim::Fault::kNeverAnswer;
    m_simulator->Script("Reboot", script);
    std::vector<std::time_t> looks;
    m_driver->UseClock([&] {
        looks.push_back(static_cast<std::time_t>(looks.size()));  // one second per look
        return looks.back();
    });
    char answer[4096] = {};
    EXPECT_EQ(m_driver->SendCommand("{\"command\":\"Reboot\"}\r", answer, 0), -2);
    // One look for the send, one when the read starts, then one per second: the 13th second
    // after the read's start is the first past 10 + 2.
    ASSERT_EQ(looks.size(), 15u);
    EXPECT_EQ(answer[0], 0);  // the answer buffer is left untouched
}

TEST_F(TerminalCommandProtocol, DelayedAnswerArrives) {
    sim::CommandScript script;
    script.delay_ms = 300;
    m_simulator->Script("Reboot", script);
    CJsonObject answer;
    EXPECT_EQ(m_driver->RunCommand("Reboot", nullptr, 5, StatusRule::kCommon, answer), 0);
}

TEST_F(TerminalCommandProtocol, CancelEndsTheWaitingInteraction) {
    sim::CommandScript script;
    script.fault = sim::Fault::kNeverAnswer;
    m_simulator->Script("Voice", script);
    // Answers are matched to readers by order only, so cancel once the interaction's reader
    // holds the read lock: at its first look at the clock, after the send's.
    std::promise<void> reading;
    std::atomic<int> looks{0};
    m_driver->UseClock([&] {
        if (++looks == 2) reading.set_value();
        return std::time(nullptr);
    });
    auto waiting = std::async(std::launch::async, [&] {
        CJsonObject answer;
        return m_driver->RunCommand("Voice", nullptr, 60, StatusRule::kCommon, answer);
    });
    reading.get_future().wait();
    EXPECT_EQ(m_driver->CancelOpt(), 0);
    EXPECT_EQ(waiting.get(), -9);
}

TEST_F(TerminalCommandProtocol, FaultsGiveTheirCodesWithoutHanging) {
    const std::pair<sim::Fault, int> cases[] = {
        {sim::Fault::kShortSegment, -5},
        {sim::Fault::kNeverAnswer, -2},
        {sim::Fault::kDropConnection, -5},  // last: the link stays down
    };
    for (const auto& [fault, result] : cases) {
        sim::CommandScript script;
        script.fault = fault;
        m_simulator->Script("Reboot", script);
        CJsonObject answer;
        EXPECT_EQ(m_driver->RunCommand("Reboot", nullptr, 1, StatusRule::kCommon, answer), result);
    }
}

TEST_F(TerminalCommandProtocol, ErrorTexts) {
    const std::pair<int, const char*> cases[] = {
        {0, "操作成功"},           {-1, "参数错误"},        {-2, "超时"},
        {-3, "端口没有打开"},      {-4, "发送数据失败"},    {-5, "接收数据错误"},
        {-6, "文件不存在"},        {-7, "非法数据"},        {-8, "操作文件失败"},
        {-9, "取消当前操作"},      {-10, "消息数据过长"},   {-11, "设备执行失败"},
        {-12, "获取签名图片失败"}, {-13, "功能不支持"},     {-14, "已是最新版本"},
        {-15, "其它错误"},         {-16, "其它错误"},       {-19, "其它错误"},
        {-20, "其它错误"},         {-21, "加载动态库失败"}, {-22, "拒绝签字"},
        {1, "其它错误"},
    };
    for (const auto& [code, text] : cases) {
        char message[25] = {};
        m_driver->GetErrMsg(code, message);
        EXPECT_STREQ(message, text) << code;
    }
}

}  // namespace
}  // namespace countermate::terminal::testing
