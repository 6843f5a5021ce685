// The commands the simulated terminal app answers. Each entry fills the answer's `data` from
// the command's `param`; a command missing here answers `success` false.
#include <cjson/cJSON.h>

#include <mutex>
#include <string>

#include "TerminalSimulator.h"

namespace countermate::sim {
namespace {

int IntegerParam(const cJSON* param, const char* name) {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(param, name);
    return cJSON_IsNumber(member) ? member->valueint : 0;
}

// Terminal paths the app chooses for files sent with "TransFileCount".
bool TransFileCount(const cJSON* param, cJSON* data) {
    const int count = IntegerParam(param, "fileCount");
    if (count < 1) return false;
    for (int index = 1; index <= count; ++index) {
        const std::string key = "file" + std::to_string(index) + "Path";
        const std::string path = "/sdcard/ZR/CounterMate/trans/file" + std::to_string(index);
        cJSON_AddStringToObject(data, key.c_str(), path.c_str());
    }
    return true;
}

bool Acknowledge(const cJSON*, cJSON*) { return true; }

const char* TextParam(const cJSON* param, const char* name) {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(param, name);
    return cJSON_IsString(member) ? member->valuestring : nullptr;
}

// The serial number the terminal keeps: "GetLocalSN" answers what "SetLocalSN" stored.
Behaviour SerialNumberStore(bool store) {
    static std::mutex lock;
    static std::string serial = "SIM0000001";
    return [store](const cJSON* param, cJSON* data) {
        std::lock_guard<std::mutex> guard(lock);
        if (!store) {
            cJSON_AddStringToObject(data, "sn", serial.c_str());
            return true;
        }
        const char* sn = TextParam(param, "sn");
        if (sn == nullptr) return false;
        serial = sn;
        return true;
    };
}

bool DeviceCode(const cJSON*, cJSON* data) {
    cJSON_AddStringToObject(data, "deviceId", "SIMDEV-0001");
    return true;
}

// The customer types a number on the keypad.
bool TypedNumber(const cJSON* param, cJSON* data) {
    if (cJSON_GetObjectItemCaseSensitive(param, "timeout") == nullptr) return false;
    cJSON_AddStringToObject(data, "number", "123456");
    return true;
}

bool VersionName(const cJSON*, cJSON* data) {
    cJSON_AddStringToObject(data, "versionname", "sim-1.0");
    return true;
}

}  // namespace

void AddStandardVocabulary(TerminalSimulator& simulator) {
    simulator.AddBehaviour("TransFileCount", TransFileCount);
    simulator.AddBehaviour("Cancel", Acknowledge);  // on kind 4: leave the paused service
    simulator.AddBehaviour("Voice", Acknowledge);
    simulator.AddBehaviour("Reboot", Acknowledge);
    simulator.AddBehaviour("GetLocalSN", SerialNumberStore(false));
    simulator.AddBehaviour("SetLocalSN", SerialNumberStore(true));
    simulator.AddBehaviour("GetDeviceCode", DeviceCode);
    simulator.AddBehaviour("VolumeSetting", Acknowledge);
    simulator.AddBehaviour("Notice", Acknowledge);
    simulator.AddBehaviour("InputNumber", TypedNumber);
    simulator.AddBehaviour("GetVersionName", VersionName);
}

}  // namespace countermate::sim
