// The first terminal requests end to end: arguments and defaults, the exact command the
// terminal receives, and the replies for success and failure.
#include "service_test_base.h"

namespace countermate::testing {
namespace {

struct RequestCase {
    const char* request;
    const char* command;  // as the terminal received it
    const char* reply;
};

class TerminalRequests : public ServiceTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(TerminalRequests, SendsTheCommandAndReplies) {
    const RequestCase& c = GetParam();
    EXPECT_EQ(call(c.request), c.reply);
    EXPECT_EQ(commands_received(), std::vector<std::string>{c.command});
}

INSTANTIATE_TEST_SUITE_P(
    Requests, TerminalRequests,
    ::testing::Values(
        RequestCase{R"({"method":"PlayVoice","args":{}})",
                    R"({"command":"Voice","param":{"vt":0}})",
                    R"({"method":"PlayVoice","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{R"({"method":"PlayVoice","args":{"voiceNo":7}})",
                    R"({"command":"Voice","param":{"vt":7}})",
                    R"({"method":"PlayVoice","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{R"({"method":"SetVolume","args":{"volume":"80"}})",
                    R"({"command":"VolumeSetting","param":{"volume":50}})",
                    R"({"method":"SetVolume","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{R"({"method":"SetVolume","args":{"volume":80}})",
                    R"({"command":"VolumeSetting","param":{"volume":80}})",
                    R"({"method":"SetVolume","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{
            R"({"method":"StopService","args":{}})",
            R"({"command":"Notice","param":{"textsize":120,"text":"暂停服务","color":"#FFFFFFFF"}})",
            R"({"method":"StopService","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{R"({"method":"RestoreService","args":{}})", R"({"command":"Cancel"})",
                    R"({"method":"RestoreService","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{R"({"method":"Reboot","args":{}})", R"({"command":"Reboot"})",
                    R"({"method":"Reboot","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{
            R"({"method":"GetApkVersion","args":{}})", R"({"command":"GetVersionName"})",
            R"({"method":"GetApkVersion","retVal":0,"apkVersion":"sim-1.0","errMsg":"操作成功"})"},
        RequestCase{
            R"({"method":"GetDevID","args":{}})", R"({"command":"GetDeviceCode"})",
            R"({"method":"GetDevID","retVal":0,"devID":"SIMDEV-0001","errMsg":"操作成功"})"},
        RequestCase{R"({"method":"SetSerialNo","args":{"serialNo":"SN-42"}})",
                    R"({"command":"SetLocalSN","param":{"sn":"SN-42"}})",
                    R"({"method":"SetSerialNo","retVal":0,"errMsg":"操作成功"})"},
        RequestCase{
            R"({"method":"GetSerialNo","args":{}})", R"({"command":"GetLocalSN"})",
            R"({"method":"GetSerialNo","retVal":0,"serialNo":"SN-42","errMsg":"操作成功"})"},
        RequestCase{
            R"({"method":"InputNumber","args":{}})",
            R"({"command":"InputNumber","param":{"timeout":30,"inputType":2,"minCount":0,"maxCount":0}})",
            R"({"method":"InputNumber","retVal":0,"number":"123456","errMsg":"操作成功"})"},
        RequestCase{
            R"({"method":"InputNumber","args":{"inputType":1,"minCount":4,"maxCount":6,"outTimes":15}})",
            R"({"command":"InputNumber","param":{"timeout":15,"inputType":1,"minCount":4,"maxCount":6}})",
            R"({"method":"InputNumber","retVal":0,"number":"123456","errMsg":"操作成功"})"},
        RequestCase{R"({"method":"CancelOpt","args":{}})", R"({"command":"Cancel"})",
                    R"({"method":"CancelOpt","retVal":0,"errMsg":"操作成功"})"}));

class TerminalRequestFailures : public ServiceTest {};

TEST_F(TerminalRequestFailures, SuccessFalseGivesMinus11) {
    sim::CommandScript refuses;
    refuses.fail = true;
    terminal().Script("GetDeviceCode", refuses);
    EXPECT_EQ(call(R"({"method":"GetDevID","args":{}})"),
              R"({"method":"GetDevID","retVal":-11,"devID":"","errMsg":"设备执行失败"})");
}

TEST_F(TerminalRequestFailures, InputNumberStatusCodesMapToCancelAndTimeout) {
    struct Case {
        int status_code;
        const char* reply;
    } cases[] = {
        {1, R"({"method":"InputNumber","retVal":-9,"number":"","errMsg":"取消当前操作"})"},
        {2, R"({"method":"InputNumber","retVal":-2,"number":"","errMsg":"超时"})"},
    };
    for (const auto& c : cases) {
        sim::CommandScript script;
        script.status_code = c.status_code;
        script.answer = R"({"success":true,"statusCode":)" + std::to_string(c.status_code) +
                        R"(,"data":{}})";
        terminal().Script("InputNumber", script);
        EXPECT_EQ(call(R"({"method":"InputNumber","args":{}})"), c.reply) << c.status_code;
    }
}

// A service whose libHid finds no terminal: every request reports the closed port.
TEST(TerminalRequestWithoutTerminal, PortNotOpenedIsReported) {
    ServiceWithoutTerminal service;
    ASSERT_TRUE(service.started());
    EXPECT_EQ(call_service(service.client(), R"({"method":"GetSerialNo","args":{}})"),
              R"({"method":"GetSerialNo","retVal":-3,"serialNo":"","errMsg":"端口没有打开"})");
    EXPECT_EQ(call_service(service.client(), R"({"method":"PlayVoice","args":{}})"),
              R"({"method":"PlayVoice","retVal":-3,"errMsg":"端口没有打开"})");
}

// The host stops cleanly on SIGINT and on SIGTERM.
TEST(HostProgram, StopsCleanlyOnSignals) {
    for (int signal_number : {SIGINT, SIGTERM}) {
        TemporaryFolder folder;
        HostProcess host;
        ASSERT_TRUE(host.start(free_port(), "", folder.path() + "/host.log"));
        EXPECT_EQ(host.stop(signal_number), 0) << signal_number;
    }
}

}  // namespace
}  // namespace countermate::testing
