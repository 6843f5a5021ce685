// The commands the simulated terminal app answers. Each entry fills the answer's `data` from
// the command's `param`; a command missing here answers `success` false.
#include <cjson/cJSON.h>

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

bool LocalSerialNumber(const cJSON*, cJSON* data) {
    cJSON_AddStringToObject(data, "sn", "SIM0000001");
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
    simulator.AddBehaviour("GetLocalSN", LocalSerialNumber);
    simulator.AddBehaviour("GetVersionName", VersionName);
}

}  // namespace countermate::sim
