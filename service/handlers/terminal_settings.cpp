// Terminal settings requests: device and module information, stored key/value data, the
// installation tool.
#include "DEV_HUB.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_replies.h"

using countermate::HandlerArgs;
using countermate::OutputText;
using countermate::PortClosing;
using countermate::format_reply;
using countermate::plain_reply;

namespace {

// The driver's result for a device failure; a value that does not read back as written is one.
constexpr int kDeviceFailed = -11;
// Capacity of the read-back of a written value.
constexpr size_t kReadBackCapacity = 256;

}  // namespace

void CDEV_HUB::GetDevAndModulesInfo(std::string args, std::string& reply) {
    std::string modules = HandlerArgs(args).text("modules");
    OutputText serial(countermate::kDeviceInfoCapacity);
    OutputText app_version(countermate::kDeviceInfoCapacity);
    OutputText firmware_version(countermate::kDeviceInfoCapacity);
    OutputText module_state(countermate::kLongTextCapacity);
    const auto result = countermate::run_on_terminal(PortClosing::UnlessCancelling, [&] {
        return ctm->GetDevAndModulesInfo(&modules[0], serial.data(), app_version.data(),
                                         firmware_version.data(), module_state.data());
    });
    reply = format_reply(
        R"({"method":"GetDevAndModulesInfo","retVal":%d,"serialNo":"%s", "apkVersion":"%s", "firmwareVersion":"%s", "moduleState":"%s","errMsg":"%s"})",
        {result.code, serial.text(), app_version.text(), firmware_version.text(),
         module_state.text(), result.error_text});
}

void CDEV_HUB::WriteDeviceInfo(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    std::string key = reader.text("key");
    std::string value = reader.text("value");
    // Stored only when the terminal gives the same value back.
    reply = plain_reply(R"({"method":"WriteDeviceInfo","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [&] {
                            const int written = ctm->WriteDeviceInfo(&key[0], &value[0]);
                            if (written != 0) return written;
                            OutputText read_back(kReadBackCapacity);
                            const int read = ctm->ReadDeviceInfo(&key[0], read_back.data());
                            if (read != 0) return read;
                            return read_back.text() == value ? 0 : kDeviceFailed;
                        });
}

void CDEV_HUB::ReadDeviceInfo(std::string args, std::string& reply) {
    std::string key = HandlerArgs(args).text("key");
    reply = countermate::text_result_reply(
        R"({"method":"ReadDeviceInfo","retVal":%d,"value":"%s","errMsg":"%s"})",
        PortClosing::UnlessCancelling, countermate::kShortTextCapacity,
        [&](char* value) { return ctm->ReadDeviceInfo(&key[0], value); });
}

void CDEV_HUB::StartInstallTool(std::string, std::string& reply) {
    reply = plain_reply(R"({"method":"StartInstallTool","retVal":%d,"errMsg":"%s"})",
                        PortClosing::UnlessCancelling, [] { return ctm->StartInstallTool(); });
}
