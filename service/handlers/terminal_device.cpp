// Terminal device requests: voice, volume, service mode, identity and serial data, keypad input.
#include <cstring>

#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_call.h"

using countermate::HandlerArgs;
using countermate::PortClosing;
using countermate::format_reply;

namespace {

// Capacity of the short result texts (device id, versions, serial and typed numbers).
constexpr size_t kShortResultSize = 200;

countermate::TerminalResult run(PortClosing closing, const std::function<int()>& operation) {
    return countermate::call_terminal(*ctm, closing, [] { return m_Dev_Hub.m_isCancelOpt.load(); },
                                      operation);
}

// A request whose reply carries only the result: {"method":NAME,"retVal":%d,"errMsg":"%s"}.
std::string plain_reply(const char* reply_template, PortClosing closing,
                        const std::function<int()>& operation) {
    const auto result = run(closing, operation);
    return format_reply(reply_template, {result.code, result.error_text});
}

// A request with one short text result between retVal and errMsg.
std::string text_result_reply(const char* reply_template, PortClosing closing,
                              const std::function<int(char*)>& operation) {
    char text[kShortResultSize] = {};
    const auto result = run(closing, [&] { return operation(text); });
    text[kShortResultSize - 1] = '\0';
    return format_reply(reply_template, {result.code, text, result.error_text});
}

}  // namespace

void CDEV_HUB::PlayVoice(std::string args, std::string& reply) {
    const int voice = HandlerArgs(args).integer("voiceNo", 0);
    reply = plain_reply(R"({"method":"PlayVoice","retVal":%d,"errMsg":"%s"})", PortClosing::Always,
                        [&] { return ctm->PlayVoice(voice); });
}

void CDEV_HUB::SetVolume(std::string args, std::string& reply) {
    const int volume = HandlerArgs(args).integer("volume", 50);
    reply = plain_reply(R"({"method":"SetVolume","retVal":%d,"errMsg":"%s"})", PortClosing::Always,
                        [&] { return ctm->SetVolume(volume); });
}

void CDEV_HUB::StopService(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"StopService","retVal":%d,"errMsg":"%s"})",
                        PortClosing::Always, [] { return ctm->StopService(); });
}

void CDEV_HUB::RestoreService(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"RestoreService","retVal":%d,"errMsg":"%s"})",
                        PortClosing::Always, [] { return ctm->RestoreService(); });
}

void CDEV_HUB::Reboot(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"Reboot","retVal":%d,"errMsg":"%s"})", PortClosing::Always,
                        [] { return ctm->Reboot(); });
}

void CDEV_HUB::GetApkVersion(std::string, std::string& reply) {
    // Closed at the end unless a cancel is using the port, as for every interaction.
    reply = text_result_reply(
        R"({"method":"GetApkVersion","retVal":%d,"apkVersion":"%s","errMsg":"%s"})",
        PortClosing::UnlessCancelling, [](char* out) { return ctm->GetApkVersion(out); });
}

void CDEV_HUB::GetDevID(std::string, std::string& reply) {
    reply = text_result_reply(R"({"method":"GetDevID","retVal":%d,"devID":"%s","errMsg":"%s"})",
                              PortClosing::Always, [](char* out) { return ctm->GetDevID(out); });
}

void CDEV_HUB::SetSerialNo(std::string args, std::string& reply) {
    // The serial number travels in a 200-byte field: longer input is cut to 199 bytes.
    char serial[kShortResultSize] = {};
    std::strncpy(serial, HandlerArgs(args).text("serialNo").c_str(), sizeof serial - 1);
    reply = plain_reply(R"({"method":"SetSerialNo","retVal":%d,"errMsg":"%s"})",
                        PortClosing::Always, [&] { return ctm->SetSerialNo(serial); });
}

void CDEV_HUB::GetSerialNo(std::string, std::string& reply) {
    reply = text_result_reply(
        R"({"method":"GetSerialNo","retVal":%d,"serialNo":"%s","errMsg":"%s"})",
        PortClosing::Always, [](char* out) { return ctm->GetSerialNo(out); });
}

void CDEV_HUB::InputNumber(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int input_type = reader.integer("inputType", 2);
    const int min_count = reader.integer("minCount", 0);
    const int max_count = reader.integer("maxCount", 0);
    const int timeout = reader.integer("outTimes", 30);
    reply = text_result_reply(
        R"({"method":"InputNumber","retVal":%d,"number":"%s","errMsg":"%s"})", PortClosing::Always,
        [&](char* out) { return ctm->InputNumber(input_type, min_count, max_count, timeout, out); });
}

void CDEV_HUB::CancelOpt(std::string, std::string& reply) {
    m_isCancelOpt = true;
    reply = plain_reply(R"({"method":"CancelOpt","retVal":%d,"errMsg":"%s"})", PortClosing::Always,
                        [] { return ctm->CancelOpt(); });
    m_isCancelOpt = false;
}
