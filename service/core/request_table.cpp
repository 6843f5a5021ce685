#include "request_table.h"

#include <unordered_map>

#include "DEV_HUB.h"

namespace countermate {

namespace {

const std::unordered_map<std::string, RequestHandler>& request_handlers() {
    static const std::unordered_map<std::string, RequestHandler> handlers = {
        {"PlayVoice", &CDEV_HUB::PlayVoice},
        {"StopService", &CDEV_HUB::StopService},
        {"RestoreService", &CDEV_HUB::RestoreService},
        {"Reboot", &CDEV_HUB::Reboot},
        {"GetApkVersion", &CDEV_HUB::GetApkVersion},
        {"GetDevID", &CDEV_HUB::GetDevID},
        {"SetSerialNo", &CDEV_HUB::SetSerialNo},
        {"GetSerialNo", &CDEV_HUB::GetSerialNo},
        {"InputNumber", &CDEV_HUB::InputNumber},
        {"SetVolume", &CDEV_HUB::SetVolume},
    };
    return handlers;
}

}  // namespace

RequestHandler find_request_handler(const std::string& method) {
    const auto& handlers = request_handlers();
    const auto found = handlers.find(method);
    return found == handlers.end() ? nullptr : found->second;
}

}  // namespace countermate
