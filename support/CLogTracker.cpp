#include "CLogTracker.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AUX_X.h"

namespace {

constexpr const char kSection[] = "DEVTRACE";
constexpr size_t kMessageCapacity = 10240;  // a formatted message keeps at most 10239 bytes
constexpr size_t kLineCapacity = 10340;     // header, message, "\r\n" and the terminator
constexpr size_t kMaxRetentionFolders = 1025;
constexpr unsigned char kScrambleKey = 0xB6;

constexpr const char kBannerRule[] = "========================================================";
constexpr const char kStartBanner[] = "              %04d-%02d-%2d %02d-%02d-%02d      ";
constexpr const char kEndBanner[] = "             %04d-%02d-%2d %02d-%02d-%02d       ";

struct LevelName {
    int level;
    const char* name;
};
constexpr LevelName kLevelNames[] = {
    {LOG_LEVEL_DEBUG, "DEBUG"}, {LOG_LEVEL_INFO, "INFO"},   {LOG_LEVEL_WARN, "WARN"},
    {LOG_LEVEL_ERROR, "ERROR"}, {LOG_LEVEL_FATAL, "FATAL"}, {LOG_LEVEL_SYSTEM, "SYSTEM"},
};

// Copies `text` (null reads as empty) into `buffer`, cutting what does not fit.
template <size_t N>
void copy_text(char (&buffer)[N], const char* text) {
    std::snprintf(buffer, N, "%s", text != nullptr ? text : "");
}

// The value of a DEVTRACE key, or `fallback` when the key is missing. A missing or unreadable
// file leaves the empty text (no fallback), which keeps logging off.
std::string read_setting(const char* config_path, const char* key, const char* fallback) {
    char value[1024] = "";
    AUX_X::X_INIKeyString(config_path, kSection, key, value, fallback);
    return value;
}

bool is_directory_entry(const char* path) {
    struct stat status {};
    return lstat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool is_regular_file(const char* path) {
    struct stat status {};
    return lstat(path, &status) == 0 && S_ISREG(status.st_mode);
}

// Full paths of the entries of `folder`, "." and ".." left out.
std::vector<std::string> folder_entries(const char* folder) {
    std::vector<std::string> entries;
    DIR* directory = opendir(folder);
    if (directory == nullptr) return entries;
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        entries.push_back(std::string(folder) + "/" + entry->d_name);
    }
    closedir(directory);
    return entries;
}

}  // namespace

CLogTracker::CLogTracker(const char* unused, const char* sub_folder, const char* file_prefix,
                         const char* module_tag) {
    char module_folder[1024];
    AUX_X::GetModuleCurPath(module_folder);
    load_settings(module_folder, sub_folder, file_prefix, module_tag != nullptr ? module_tag : "");
}

CLogTracker::CLogTracker(const char* unused, const char* sub_folder, const char* file_prefix) {
    char module_folder[1024];
    AUX_X::GetModuleCurPath(module_folder);
    load_settings(module_folder, sub_folder, file_prefix, nullptr);
}

CLogTracker::CLogTracker(const TestSetup& setup, const char* sub_folder, const char* file_prefix,
                         const char* module_tag)
    : m_clock(setup.clock) {
    load_settings(setup.config_folder, sub_folder, file_prefix,
                  module_tag != nullptr ? module_tag : "");
}

CLogTracker::CLogTracker(const TestSetup& setup, const char* sub_folder, const char* file_prefix)
    : m_clock(setup.clock) {
    load_settings(setup.config_folder, sub_folder, file_prefix, nullptr);
}

CLogTracker::~CLogTracker() { write_banner(false); }

void CLogTracker::load_settings(const char* config_folder, const char* sub_folder,
                                const char* file_prefix, const char* module_tag) {
    if (m_clock == nullptr) m_clock = AUX_X::GetLocalTime;
    m_camera_form = module_tag == nullptr;
    const char* folder = config_folder != nullptr ? config_folder : "";
    const size_t folder_length = std::strlen(folder);
    const bool needs_slash = folder_length > 0 && folder[folder_length - 1] != '/';
    std::snprintf(m_config_path, sizeof(m_config_path), "%s%sCONFIG.ini", folder,
                  needs_slash ? "/" : "");

    m_enabled = std::atoi(read_setting(m_config_path, "Switch", "0").c_str()) != 0;
    m_scrambled = std::atoi(read_setting(m_config_path, "Encrypt", "0").c_str()) != 0;
    m_days_to_keep = std::atoi(read_setting(m_config_path, "FileDay", "10").c_str());
    m_level = l_a2i(read_setting(m_config_path, "Level", "INFO").c_str());
    copy_text(m_open_mode, "a+");
    copy_text(m_file_prefix, file_prefix);
    if (!m_enabled) return;

    copy_text(m_root, read_setting(m_config_path, "Path", "").c_str());
    // Without a root the day folders would land in the file system's root: log nothing instead.
    if (m_root[0] == '\0') {
        m_enabled = false;
        return;
    }
    mkdir(m_root, 0777);
    copy_text(m_current_folder, m_root);
    copy_text(m_sub_folder, sub_folder);
    copy_text(m_module_tag, module_tag);
    write_banner(true);
}

void CLogTracker::write_banner(bool at_start) {
    _sys_time_ now{};
    m_clock(&now);
    const char* function = at_start ? "INIT_LOAD" : "END";
    WriteTrace(LOG_LEVEL_SYSTEM, function, "%s", kBannerRule);
    WriteTrace(LOG_LEVEL_SYSTEM, function, at_start ? kStartBanner : kEndBanner, now.year,
               now.month, now.day, now.hour, now.minute, now.second);
    WriteTrace(LOG_LEVEL_SYSTEM, function, "%s", kBannerRule);
}

void CLogTracker::WriteTrace(int level, const char* function, const char* format, ...) {
    if (!m_enabled || level < m_level) return;
    va_list arguments;
    va_start(arguments, format);
    format_and_write(level, function, format, arguments);
    va_end(arguments);
}

void CLogTracker::WriteTrace(const char* function, const char* format, ...) {
    if (!m_enabled) return;
    va_list arguments;
    va_start(arguments, format);
    format_and_write(LOG_LEVEL_INFO, function, format, arguments);
    va_end(arguments);
}

void CLogTracker::format_and_write(int level, const char* function, const char* format,
                                   va_list arguments) {
    char message[kMessageCapacity];
    std::vsnprintf(message, sizeof(message), format != nullptr ? format : "", arguments);
    write_trace(level, function, message);
}

void CLogTracker::write_trace(int level, const char* function, const char* message) {
    if (!m_enabled) return;
    std::lock_guard<std::mutex> hold(m_line_lock);
    write_line_locked(level, function, message);
}

void CLogTracker::write_line_locked(int level, const char* function, const char* message) {
    _sys_time_ now{};
    m_clock(&now);
    char level_name[16];
    l_i2a(level, level_name);
    if (function == nullptr) function = "";
    if (message == nullptr) message = "";

    // Room is kept for "\r\n" and the terminator, so a cut line still ends as a line.
    char line[kLineCapacity];
    const size_t text_capacity = sizeof(line) - 3;
    const int header =
        m_camera_form
            ? std::snprintf(line, text_capacity + 1, "%02d:%02d:%02d:%03d [%s] <%s> ", now.hour,
                            now.minute, now.second, now.millisecond, level_name, function)
            : std::snprintf(line, text_capacity + 1, "%02d:%02d:%02d:%03d [%s] [%s] <%s> ",
                            now.hour, now.minute, now.second, now.millisecond, m_module_tag,
                            level_name, function);
    size_t length = std::min(size_t(std::max(header, 0)), text_capacity);
    const size_t message_length = std::min(std::strlen(message), text_capacity - length);
    std::memcpy(line + length, message, message_length);
    length += message_length;
    line[length++] = '\r';
    line[length++] = '\n';
    line[length] = '\0';

    const bool new_day = now.day != m_last_day || now.month != m_last_month ||
                         now.year != m_last_year;
    if (new_day) enter_day_folder(now);

    if (m_scrambled) {
        for (size_t index = 0; index < length; ++index) line[index] ^= char(kScrambleKey);
    }

    char file_path[1300];
    const int path_length = std::snprintf(
        file_path, sizeof(file_path), m_camera_form ? "%s/%s_%d%d%d.log" : "%s/%s%d%d%d.log",
        m_current_folder, m_file_prefix, now.year, now.month, now.day);
    if (m_current_folder[0] != '\0' && path_length > 0 && size_t(path_length) < sizeof(file_path)) {
        if (FILE* file = std::fopen(file_path, m_open_mode)) {
            std::fseek(file, 0, SEEK_END);
            std::fwrite(line, 1, length, file);
            std::fclose(file);
        }
    }

    if (new_day) {
        delete_redun_files_locked();
        m_last_day = now.day;
        m_last_month = now.month;
        m_last_year = now.year;
    }
}

void CLogTracker::enter_day_folder(const _sys_time_& now) {
    char day_folder[1100];
    std::snprintf(day_folder, sizeof(day_folder), "%s/%04d%02d%02d", m_root, now.year, now.month,
                  now.day);
    mkdir(day_folder, 0777);
    const int length = std::snprintf(m_current_folder, sizeof(m_current_folder), "%s/%s",
                                     day_folder, m_sub_folder);
    // A folder path that does not fit would name some other folder: lose the lines instead.
    if (length < 0 || size_t(length) >= sizeof(m_current_folder)) {
        m_current_folder[0] = '\0';
        return;
    }
    mkdir(m_current_folder, 0777);
}

int CLogTracker::l_a2i(const char* level_name) {
    if (level_name == nullptr) return LOG_LEVEL_INFO;
    for (const LevelName& entry : kLevelNames) {
        if (std::strcmp(level_name, entry.name) == 0) return entry.level;
    }
    return LOG_LEVEL_INFO;
}

void CLogTracker::l_i2a(int level, char* level_name) {
    const char* name = "UNKNOWN";
    for (const LevelName& entry : kLevelNames) {
        if (entry.level == level) name = entry.name;
    }
    std::strcpy(level_name, name);
}

void CLogTracker::delete_redun_files() {
    std::lock_guard<std::mutex> hold(m_line_lock);
    delete_redun_files_locked();
}

void CLogTracker::delete_redun_files_locked() {
    if (!m_enabled) return;
    const std::string root = read_setting(m_config_path, "Path", "");
    if (root.empty() || !is_directory_entry(root.c_str())) return;
    REMOVE_FILES(root.c_str());
}

void CLogTracker::REMOVE_FILES(const char* folder) {
    const std::vector<std::string> entries = folder_entries(folder);
    std::vector<const char*> names;
    for (const std::string& path : entries) {
        if (names.size() == kMaxRetentionFolders) break;
        if (is_directory_entry(path.c_str())) names.push_back(path.c_str());
    }
    if (names.empty()) return;
    std::qsort(names.data(), names.size(), sizeof(const char*), cmpfile_names);

    size_t remaining = names.size();
    while (m_days_to_keep > 0 && size_t(m_days_to_keep) < remaining) {
        const char* oldest = names[--remaining];
        DeleteFolder(oldest);
        rmdir(oldest);
    }
}

void CLogTracker::DeleteFolder(const char* folder) {
    for (const std::string& path : folder_entries(folder)) {
        if (is_regular_file(path.c_str())) {
            unlink(path.c_str());
        } else if (is_directory_entry(path.c_str())) {
            DeleteFolder(path.c_str());
            rmdir(path.c_str());
        }
    }
}

int CLogTracker::cmpfile_names(const void* first, const void* second) {
    return std::strcmp(*static_cast<const char* const*>(second),
                       *static_cast<const char* const*>(first));
}
