// countermate-terminal-sim --socket PATH --storage DIR [--scenario FILE] [--fps N]
//
// Plays the customer terminal for libHid's simulator transport until SIGINT or SIGTERM.
// --fps sets the camera video's frames per second (25 when absent; 0: as fast as the driver
// acknowledges them).
// A scenario file is a JSON object mapping command names to how they are answered:
//   {"Voice": {"statusCode": 1}, "ReadQR": {"delayMs": 3000},
//    "Reboot": {"fault": "drop"}, "TakePhoto": {"success": false}, "X": {"answer": "{...}"},
//    "ShowPdfSignOrFinger": {"data": {"statusCode": 4, "signImgCount": 3}}}
// "data" sets integer members of the answer's `data` (a refusal, a time-out, image counts).
// Faults: "drop" (close the connection), "short" (a segment declaring more bytes than it
// carries), "never" (no answer until "Cancel"), "stall" (stop reading the connection).
#include <cjson/cJSON.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "TerminalSimulator.h"

using countermate::sim::CommandScript;
using countermate::sim::Fault;
using countermate::sim::TerminalSimulator;

namespace {

bool ParseFault(const char* name, Fault& fault) {
    if (std::strcmp(name, "drop") == 0) fault = Fault::kDropConnection;
    else if (std::strcmp(name, "short") == 0) fault = Fault::kShortSegment;
    else if (std::strcmp(name, "never") == 0) fault = Fault::kNeverAnswer;
    else if (std::strcmp(name, "stall") == 0) fault = Fault::kStall;
    else return false;
    return true;
}

// A frame rate: a whole number from 0 to 1000.
bool ParseFramesPerSecond(const char* text, int& frames_per_second) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 1000) return false;
    frames_per_second = static_cast<int>(value);
    return true;
}

bool LoadScenario(const char* file_name, TerminalSimulator& simulator) {
    std::ifstream file(file_name);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    cJSON* scenario = cJSON_Parse(text.c_str());
    if (!cJSON_IsObject(scenario)) {
        std::fprintf(stderr, "scenario %s: not a JSON object\n", file_name);
        cJSON_Delete(scenario);
        return false;
    }
    bool valid = true;
    const cJSON* entry = nullptr;
    cJSON_ArrayForEach(entry, scenario) {
        CommandScript script;
        const cJSON* answer = cJSON_GetObjectItemCaseSensitive(entry, "answer");
        const cJSON* status = cJSON_GetObjectItemCaseSensitive(entry, "statusCode");
        const cJSON* success = cJSON_GetObjectItemCaseSensitive(entry, "success");
        const cJSON* delay = cJSON_GetObjectItemCaseSensitive(entry, "delayMs");
        const cJSON* fault = cJSON_GetObjectItemCaseSensitive(entry, "fault");
        if (cJSON_IsString(answer)) script.answer = answer->valuestring;
        if (cJSON_IsNumber(status)) script.status_code = status->valueint;
        script.fail = cJSON_IsFalse(success);
        if (cJSON_IsNumber(delay)) script.delay_ms = delay->valueint;
        const cJSON* member = nullptr;
        cJSON_ArrayForEach(member, cJSON_GetObjectItemCaseSensitive(entry, "data")) {
            if (cJSON_IsNumber(member)) script.data_members[member->string] = member->valueint;
        }
        if (cJSON_IsString(fault) && !ParseFault(fault->valuestring, script.fault)) {
            std::fprintf(stderr, "scenario %s: unknown fault \"%s\"\n", file_name,
                         fault->valuestring);
            valid = false;
        }
        simulator.Script(entry->string, script);
    }
    cJSON_Delete(scenario);
    return valid;
}

}  // namespace

int main(int argc, char** argv) {
    TerminalSimulator::Options options;
    const char* scenario = nullptr;
    bool valid = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--socket") == 0) options.socket_path = argv[i + 1];
        else if (std::strcmp(argv[i], "--storage") == 0) options.storage_dir = argv[i + 1];
        else if (std::strcmp(argv[i], "--scenario") == 0) scenario = argv[i + 1];
        else if (std::strcmp(argv[i], "--fps") == 0)
            valid &= ParseFramesPerSecond(argv[i + 1], options.frames_per_second);
    }
    if (!valid || options.socket_path.empty() || options.storage_dir.empty()) {
        std::fprintf(stderr, "usage: %s --socket PATH --storage DIR [--scenario FILE] [--fps N]\n",
                     argv[0]);
        return 2;
    }
    // A long-running simulator keeps no history of what it was sent.
    options.record_reports = false;
    options.record_history = false;

    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // before the serving thread starts

    TerminalSimulator simulator(options);
    countermate::sim::AddStandardVocabulary(simulator);
    if (scenario != nullptr && !LoadScenario(scenario, simulator)) return 2;
    if (!simulator.Start()) {
        std::fprintf(stderr, "cannot listen on %s\n", options.socket_path.c_str());
        return 1;
    }
    std::printf("terminal simulator listening on %s\n", options.socket_path.c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop_signals, &received);
    simulator.Stop();
    return 0;
}
