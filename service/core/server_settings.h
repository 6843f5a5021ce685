// The [SERVER] section of CONFIG.ini: who may reach the service and which local files a page may
// name. Read once when the service starts; every reader sees the same copy afterwards.
//
//   BindAddress=127.0.0.1              the address to listen on (absent: 127.0.0.1; 0.0.0.0
//                                      listens on every address and exposes the terminal to the
//                                      network, so it must be written to get it)
//   AllowedOrigins=http://a,null       origins whose pages may connect (absent: every origin,
//                                      with a warning at start; "null" stands for file:// pages)
//   MaxConnectionsPerAddress=64        simultaneous connections from one peer address
//   FileRoots=/srv/counter,/tmp/x      folders that every local path a page names must lie in
//                                      (absent: no confinement)
// Lists are separated by commas, blanks or semicolons.
#pragma once

#include <string>
#include <vector>

namespace countermate {

struct ServerSettings {
    std::string bind_address = "127.0.0.1";
    bool origins_restricted = false;  // AllowedOrigins was given
    std::vector<std::string> allowed_origins;
    int max_connections_per_address = 64;
    std::vector<std::string> file_roots;  // empty: every path is allowed
};

// Reads the [SERVER] keys of the INI file at `config_path`; absent keys keep their defaults.
ServerSettings read_server_settings(const std::string& config_path);

// Reads CONFIG.ini next to the service library and makes it the current settings.
void load_server_settings();

// The settings in force (the defaults until load_server_settings or set_server_settings ran).
ServerSettings current_server_settings();
void set_server_settings(const ServerSettings& settings);

// Splits a configured list at commas, blanks and semicolons, dropping empty items.
std::vector<std::string> split_setting_list(const std::string& text);

}  // namespace countermate
