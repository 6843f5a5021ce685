#include "AUX_X.h"

#include <dlfcn.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace AUX_X {

namespace {

// Capacity of the value buffer that callers of X_INIKeyString hand over, and of its line buffer.
constexpr size_t kValueCapacity = 1024;

// Copies `text` into a caller's value buffer of kValueCapacity bytes, cutting what does not fit.
void copy_value(char* value, const char* text, size_t length) {
    if (length > kValueCapacity - 1) length = kValueCapacity - 1;
    std::memcpy(value, text, length);
    value[length] = '\0';
}

bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool is_comment(const char* line) { return line[0] == '#' || starts_with(line, "//"); }

// "[section]": the start of a line that opens the section.
std::string section_header(const char* section) { return std::string("[") + section + "]"; }

// The state of one read of X_INIKeyString, fed one complete line (without its "\n") at a time.
class KeyReader {
public:
    KeyReader(const char* section, const char* key) : header_(section_header(section)), key_(key) {}

    // True when `line` holds the key; its value is then in `value`.
    bool take_line(const char* line, char* value) {
        if (!section_found_) {
            section_found_ = starts_with(line, header_.c_str());
            return false;
        }
        const char* equals = std::strchr(line, '=');
        if (equals == nullptr || std::strstr(line, key_) == nullptr || is_comment(line))
            return false;
        const char* start = equals + 1;
        const char* carriage_return = std::strchr(start, '\r');
        const size_t length = carriage_return != nullptr ? size_t(carriage_return - start)
                                                         : std::strlen(start);
        copy_value(value, start, length);
        return true;
    }

private:
    const std::string header_;
    const char* const key_;
    bool section_found_ = false;  // once seen, the section stays open to the end of the file
};

}  // namespace

void GetLocalTime(_sys_time_* now) {
    timeval clock{};
    gettimeofday(&clock, nullptr);
    tm local{};
    localtime_r(&clock.tv_sec, &local);
    now->year = local.tm_year + 1900;
    now->month = local.tm_mon + 1;
    now->day = local.tm_mday;
    now->day_of_week = local.tm_wday;
    now->day_of_year = local.tm_yday + 1;
    now->hour = local.tm_hour;
    now->minute = local.tm_min;
    now->second = local.tm_sec;
    now->millisecond = int(clock.tv_usec / 1000);
}

void GetModuleCurPath(char* path) {
    path[0] = '\0';
    Dl_info info{};
    // The address of this very function lies in the shared object (or program) that holds it.
    if (dladdr(reinterpret_cast<void*>(&GetModuleCurPath), &info) == 0 || info.dli_fname == nullptr)
        return;
    const char* last_slash = std::strrchr(info.dli_fname, '/');
    if (last_slash == nullptr) return;
    const size_t length = size_t(last_slash - info.dli_fname) + 1;
    if (length >= kValueCapacity) return;  // a folder that does not fit is no folder at all
    std::memcpy(path, info.dli_fname, length);
    path[length] = '\0';
}

// A line longer than the line buffer keeps its first 1023 bytes; the rest up to its "\n" is
// dropped, so the next line still starts after that "\n".
bool X_INIKeyString(const char* file, const char* section, const char* key, char* value,
                    const char* default_value) {
    if (file == nullptr || section == nullptr || key == nullptr || value == nullptr) return false;
    FILE* stream = std::fopen(file, "r");
    if (stream == nullptr) return false;

    KeyReader reader(section, key);
    char line[kValueCapacity];
    size_t length = 0;
    bool found = false;
    for (int character; !found && (character = std::fgetc(stream)) != EOF;) {
        if (character != '\n') {
            if (length < sizeof(line) - 1) line[length++] = char(character);
            continue;
        }
        line[length] = '\0';
        length = 0;
        found = reader.take_line(line, value);
    }
    std::fclose(stream);

    if (found) return true;
    if (default_value == nullptr) return false;
    copy_value(value, default_value, std::strlen(default_value));
    return true;
}

// Lines are read whole, however long, so a long line is copied unchanged and never split into
// pieces that could be mistaken for key lines.
int W_INIKeyString(const char* section, const char* key, const char* value, const char* file) {
    if (section == nullptr || key == nullptr || value == nullptr || file == nullptr) return -1;
    FILE* input = std::fopen(file, "r");
    if (input == nullptr) return -1;
    const std::string temporary = std::string(file) + ".tmp";
    FILE* output = std::fopen(temporary.c_str(), "w");
    if (output == nullptr) {
        std::fclose(input);
        return -1;
    }

    const std::string header = section_header(section);
    bool section_found = false;
    bool rewritten = false;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, input)) != -1) {
        const char* equals = std::strchr(line, '=');
        if (section_found && !rewritten && equals != nullptr && starts_with(line, key)) {
            std::fwrite(line, 1, size_t(equals - line) + 1, output);
            std::fprintf(output, " %s\n", value);
            rewritten = true;
            continue;
        }
        if (starts_with(line, header.c_str())) section_found = true;
        std::fwrite(line, 1, size_t(length), output);
    }
    std::free(line);
    std::fclose(input);
    std::fclose(output);
    return std::rename(temporary.c_str(), file);
}

}  // namespace AUX_X
