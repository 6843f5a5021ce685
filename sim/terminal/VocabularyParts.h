// What the simulated terminal app's command tables share: reading a command's parameters, the
// storage folder that stands for the terminal's "/sdcard", the pictures and data the terminal
// makes, and the signing commands' table.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <utility>

#include "TerminalSimulator.h"

namespace countermate::sim {

inline int IntegerParam(const cJSON* param, const char* name) {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(param, name);
    return cJSON_IsNumber(member) ? member->valueint : 0;
}

inline const char* TextParam(const cJSON* param, const char* name) {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(param, name);
    return cJSON_IsString(member) ? member->valuestring : nullptr;
}

inline bool HasParam(const cJSON* param, const char* name) {
    return cJSON_GetObjectItemCaseSensitive(param, name) != nullptr;
}

// The terminal's storage: terminal paths mapped into the simulator's storage folder.
class Storage {
public:
    explicit Storage(TerminalSimulator& simulator) : m_simulator(simulator) {}

    bool Write(const std::string& terminal_path, const std::string& bytes) const {
        const std::string path = m_simulator.StoragePath(terminal_path);
        if (path.empty()) return false;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(file);
    }

    bool Exists(const std::string& terminal_path) const {
        const std::string path = m_simulator.StoragePath(terminal_path);
        std::error_code ignored;
        return !path.empty() && std::filesystem::is_regular_file(path, ignored);
    }

    // The bytes of a stored file; empty when it is missing.
    std::string Read(const std::string& terminal_path) const {
        std::ifstream file(m_simulator.StoragePath(terminal_path), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    }

    std::string Local(const std::string& terminal_path) const {
        return m_simulator.StoragePath(terminal_path);
    }

private:
    TerminalSimulator& m_simulator;
};

constexpr const char* kTemp = "/sdcard/ZR/CounterMate/temp/";
constexpr const char* kTempOtherCase = "/sdcard/ZR/Countermate/temp/";

inline std::string TempPath(const char* name) { return std::string(kTemp) + name; }

// A behaviour that needs the file the driver pushed to `terminal_path`.
inline Behaviour Pushed(const Storage& storage, std::string terminal_path, Behaviour behaviour) {
    return [storage, terminal_path = std::move(terminal_path), behaviour = std::move(behaviour)](
               const cJSON* param, cJSON* data) {
        return storage.Exists(terminal_path) && behaviour(param, data);
    };
}

// Pictures and data the terminal makes (Vocabulary.cpp).
uint8_t RidgeShade(int x, int y, int width, int height);
std::string FingerprintPng(int width, int height);
std::string SignaturePng();
std::string GreyJpeg(int width, int height, const std::function<uint8_t(int x, int y)>& shade);
// The signing track: one "x,y,pressure,milliseconds" point per line along the signature.
std::string SignatureTrack();
std::string Base64(const std::string& bytes);

// The document signing commands (SigningVocabulary.cpp).
void AddSigningVocabulary(TerminalSimulator& simulator);

}  // namespace countermate::sim
