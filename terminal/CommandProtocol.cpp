// JSON commands and answers over the segment link, the cancel path and the error texts.
#include <cstring>
#include <string>
#include <vector>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "ModuleLog.h"
#include "OperationSteps.h"
#include "ResultCodes.h"
#include "SegmentFraming.h"

using namespace countermate::terminal;
namespace segment = countermate::segment;

namespace {

constexpr int kCommandSendTimeout = 5;
constexpr int kDefaultCommandTimeout = 10;
// The answer's travel, on top of the time the terminal is given for the interaction.
constexpr int kAnswerTravelSeconds = 2;
constexpr int kCancelTimeout = 5;
constexpr char kCarriageReturn = 13;

struct ErrorText {
    int code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {kSuccess, "操作成功"},
    {kBadArgument, "参数错误"},
    {kTimedOut, "超时"},
    {kPortNotOpen, "端口没有打开"},
    {kSendFailed, "发送数据失败"},
    {kReceiveFailed, "接收数据错误"},
    {kFileMissing, "文件不存在"},
    {kIllegalData, "非法数据"},
    {kFileOperationFailed, "操作文件失败"},
    {kCancelled, "取消当前操作"},
    {kMessageTooLong, "消息数据过长"},
    {kDeviceFailed, "设备执行失败"},
    {kSignatureImageFailed, "获取签名图片失败"},
    {kNotSupported, "功能不支持"},
    {kAlreadyLatest, "已是最新版本"},
    {kLibraryLoadFailed, "加载动态库失败"},
    {kSignatureRefused, "拒绝签字"},
};
constexpr const char* kOtherError = "其它错误";

int MapStatusCode(int status_code, StatusRule rule) {
    switch (status_code) {
        case 1: return kCancelled;
        case 2: return kTimedOut;
        case -1: return rule == StatusRule::kCommon ? kTerminalFailed : kSuccess;
        default: return kSuccess;
    }
}

}  // namespace

int CDEV_CounterMate::BuildCommand(char* buffer, int capacity, const char* command,
                                   const char* param_text) {
    CJsonObject object;
    object.Add("command", command);
    if (param_text != nullptr) object.Add("param", CJsonObject(std::string(param_text)));
    const std::string text = object.ToString();
    if (static_cast<int>(text.size()) + 1 > capacity) return kMessageTooLong;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = kCarriageReturn;
    return kSuccess;
}

int CDEV_CounterMate::SendCommandOfKind(int kind, const char* command, char* answer, int timeout,
                                        int answer_capacity) {
    if (timeout <= 0) timeout = kDefaultCommandTimeout;
    const int sent = HidWriteN(kind, reinterpret_cast<const unsigned char*>(command),
                               static_cast<int>(std::strlen(command)), kCommandSendTimeout);
    if (sent != kSuccess) return sent;
    std::vector<unsigned char> received(static_cast<size_t>(answer_capacity));
    int length = 0;
    const int result =
        HidReadN(kind, received.data(), &length, timeout + kAnswerTravelSeconds, answer_capacity);
    if (result == kSuccess && length > 0) std::memcpy(answer, received.data(), length);
    return result;
}

int CDEV_CounterMate::SendCommand(const char* command, char* answer, int timeout,
                                  int answer_capacity) {
    return SendCommandOfKind(segment::kCommand, command, answer, timeout, answer_capacity);
}

int CDEV_CounterMate::ParseCommandResponse(const char* answer, CJsonObject& parsed) {
    parsed = CJsonObject(std::string(answer));
    bool success = false;
    if (!parsed.Get("success", success)) return kDeviceFailed;
    return success ? kSuccess : kDeviceFailed;
}

int CDEV_CounterMate::ExchangeCommand(int kind, const char* command, const char* param_text,
                                      int wait, CJsonObject& answer, std::string* answer_text,
                                      int answer_capacity) {
    // One byte past each capacity stays zero, so the texts are terminated.
    std::vector<char> text(kCommandBytes + 1, 0);
    int result = BuildCommand(text.data(), kCommandBytes, command, param_text);
    if (result != kSuccess) return result;
    std::vector<char> reply(static_cast<size_t>(answer_capacity) + 1, 0);
    result = SendCommandOfKind(kind, text.data(), reply.data(), wait, answer_capacity);
    if (result != kSuccess) return result;
    if (answer_text != nullptr) *answer_text = reply.data();
    return ParseCommandResponse(reply.data(), answer);
}

int CDEV_CounterMate::RunCommand(const char* command, const CJsonObject* param, int wait,
                                 StatusRule rule, CJsonObject& answer) {
    return RunCommandKeepingText(command, param, wait, rule, answer, nullptr, kAnswerBytes);
}

int CDEV_CounterMate::RunCommandKeepingText(const char* command, const CJsonObject* param, int wait,
                                            StatusRule rule, CJsonObject& answer,
                                            std::string* answer_text, int answer_capacity) {
    const std::string param_text = param != nullptr ? param->ToString() : std::string();
    const int result = ExchangeCommand(segment::kCommand, command,
                                       param != nullptr ? param_text.c_str() : nullptr, wait,
                                       answer, answer_text, answer_capacity);
    if (result != kSuccess || rule == StatusRule::kNotRead) return result;
    int status_code = 0;
    answer.Get("statusCode", status_code);
    return MapStatusCode(status_code, rule);
}

void CDEV_CounterMate::GetErrMsg(int code, char* text) {
    const char* message = kOtherError;
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == code) message = entry.text;
    }
    std::strcpy(text, message);
}

void CDEV_CounterMate::SetForcedReturn(bool force) {
    CTM_TRACE(LOG_LEVEL_DEBUG, "SetForcedReturn", "force=%d", force ? 1 : 0);
    m_forced_return.store(force);
}

int CDEV_CounterMate::CancelOpt() {
    const TerminalOperation operation(*this, "CancelOpt");
    CJsonObject answer;
    return operation.Return(
        ExchangeCommand(segment::kCancel, "Cancel", nullptr, kCancelTimeout, answer));
}
