#include "server_settings.h"

#include <cstdlib>
#include <mutex>

#include "AUX_X.h"

namespace countermate {

namespace {

std::mutex settings_lock;  // guards settings_in_force
ServerSettings settings_in_force;

// Reads `key` of [SERVER] into `value` (trailing blanks dropped). False when the key is absent.
bool read_key(const std::string& config_path, const char* key, std::string& value) {
    char text[1024] = {};
    if (!AUX_X::X_INIKeyString(config_path.c_str(), "SERVER", key, text, nullptr)) return false;
    value = text;
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    return true;
}

}  // namespace

std::vector<std::string> split_setting_list(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    for (const char character : text) {
        if (character == ',' || character == ' ' || character == '\t' || character == ';') {
            if (!item.empty()) items.push_back(item);
            item.clear();
        } else {
            item += character;
        }
    }
    if (!item.empty()) items.push_back(item);
    return items;
}

ServerSettings read_server_settings(const std::string& config_path) {
    ServerSettings settings;
    std::string value;
    if (read_key(config_path, "BindAddress", value) && !value.empty())
        settings.bind_address = value;
    if (read_key(config_path, "AllowedOrigins", value)) {
        settings.origins_restricted = true;
        settings.allowed_origins = split_setting_list(value);
    }
    if (read_key(config_path, "MaxConnectionsPerAddress", value)) {
        const int limit = std::atoi(value.c_str());
        if (limit > 0) settings.max_connections_per_address = limit;
    }
    if (read_key(config_path, "FileRoots", value)) settings.file_roots = split_setting_list(value);
    return settings;
}

void load_server_settings() {
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    set_server_settings(read_server_settings(std::string(folder) + "CONFIG.ini"));
}

ServerSettings current_server_settings() {
    std::lock_guard<std::mutex> guard(settings_lock);
    return settings_in_force;
}

void set_server_settings(const ServerSettings& settings) {
    std::lock_guard<std::mutex> guard(settings_lock);
    settings_in_force = settings;
}

}  // namespace countermate
