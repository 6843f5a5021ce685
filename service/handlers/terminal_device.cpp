// Terminal device requests: voice and sound, volume, service mode, identity and serial data,
// keypad input, cancel.
#include <cstring>

#include "DEV_HUB.h"
#include "handler_args.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::PortClosing;
using countermate::kShortTextCapacity;
using countermate::plain_reply;

namespace {

// A request with one short text result between retVal and errMsg.
std::string short_text_reply(const char* reply_template, PortClosing closing,
                             const std::function<int(char*)>& operation) {
    return countermate::text_result_reply(reply_template, closing, kShortTextCapacity, operation);
}

}  // namespace

void CDEV_HUB::PlayVoice(std::string args, std::string& reply) {
    const int voice = HandlerArgs(args).integer("voiceNo", 0);
    reply = plain_reply(R"({"method":"PlayVoice","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [&] { return ctm->PlayVoice(voice); });
}

void CDEV_HUB::PlaySound(std::string args, std::string& reply) {
    std::string sound_file = HandlerArgs(args).text("soundFileName");
    reply = plain_reply(R"({"method":"PlaySound","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling,
                        [&] { return ctm->PlaySound(&sound_file[0]); });
}

void CDEV_HUB::SetVolume(std::string args, std::string& reply) {
    const int volume = HandlerArgs(args).integer("volume", 50);
    reply = plain_reply(R"({"method":"SetVolume","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [&] { return ctm->SetVolume(volume); });
}

void CDEV_HUB::StopService(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"StopService","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->StopService(); });
}

void CDEV_HUB::RestoreService(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"RestoreService","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->RestoreService(); });
}

void CDEV_HUB::Reboot(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"Reboot","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->Reboot(); });
}

void CDEV_HUB::GetApkVersion(std::string, std::string& reply) {
    // Closed at the end unless a cancel is using the port, as for every interaction.
    reply = short_text_reply(
        R"({"method":"GetApkVersion","retVal":%d,"apkVersion":"%s","errMsg":"%s"})",
        PortClosing::UnlessCancelling, [](char* out) { return ctm->GetApkVersion(out); });
}

void CDEV_HUB::GetDevID(std::string, std::string& reply) {
    reply = short_text_reply(R"({"method":"GetDevID","retVal":%d,"devID":"%s","errMsg":"%s"})",
                             PortClosing::UnlessCancelling,
                             [](char* out) { return ctm->GetDevID(out); });
}

void CDEV_HUB::SetSerialNo(std::string args, std::string& reply) {
    // The serial number travels in a 200-byte field: longer input is cut to 199 bytes.
    char serial[kShortTextCapacity] = {};
    std::strncpy(serial, HandlerArgs(args).text("serialNo").c_str(), sizeof serial - 1);
    reply = plain_reply(R"({"method":"SetSerialNo","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [&] { return ctm->SetSerialNo(serial); });
}

void CDEV_HUB::GetSerialNo(std::string, std::string& reply) {
    reply = short_text_reply(
        R"({"method":"GetSerialNo","retVal":%d,"serialNo":"%s","errMsg":"%s"})",
        PortClosing::UnlessCancelling, [](char* out) { return ctm->GetSerialNo(out); });
}

void CDEV_HUB::InputNumber(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int input_type = reader.integer("inputType", 2);
    const int min_count = reader.integer("minCount", 0);
    const int max_count = reader.integer("maxCount", 0);
    const int timeout = reader.integer("outTimes", 30);
    reply = short_text_reply(R"({"method":"InputNumber","retVal":%d,"number":"%s","errMsg":"%s"})",
                             PortClosing::UnlessCancelling, [&](char* out) {
                                 return ctm->InputNumber(input_type, min_count, max_count, timeout,
                                                         out);
                             });
}

void CDEV_HUB::CancelOpt(std::string, std::string& reply) {
    m_isCancelOpt = true;
    reply = plain_reply(R"({"method":"CancelOpt","retVal":%d,"errMsg":"%s"})",
                        PortClosing::Unconditionally, [] { return ctm->CancelOpt(); });
    m_isCancelOpt = false;
}
