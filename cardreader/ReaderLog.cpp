// The reader's own trace: one file per hour in one folder per day, under
// "<root>/<module>", emptied when it grows past the size cap, with old files and folders removed
// on the first write of each day. Every write opens, appends and closes the file, so a trace
// survives a crash of the host up to its last line.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "cardgate.h"

namespace {

struct LogSettings {
    int writeFlag;
    char rootPath[260];
    char moduleName[256];
    int keepDays;
    int configured;
    int maxFileSize;
    int lastDay;
    int lastMonth;
};

LogSettings g_settings;

bool IsDirectory(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

void RunCleanupOnNewDate(const char* moduleFolder, const tm& now) {
    if (g_settings.lastDay == now.tm_mday && g_settings.lastMonth == now.tm_mon + 1) return;
    DeleteExpiredFile(moduleFolder, g_settings.keepDays);
    g_settings.lastDay = now.tm_mday;
    g_settings.lastMonth = now.tm_mon + 1;
}

}  // namespace

__attribute__((constructor)) void InitLogLib(void) {
    std::memset(&g_settings, 0, sizeof g_settings);
    g_settings.writeFlag = 1;
    std::snprintf(g_settings.rootPath, sizeof g_settings.rootPath, "%s", "/tmp");
    std::snprintf(g_settings.moduleName, sizeof g_settings.moduleName, "%s", "kvxlog");
    g_settings.keepDays = 7;
    g_settings.maxFileSize = 104857600;
}

__attribute__((destructor)) void RealseLogLib(void) {
    std::memset(&g_settings, 0, sizeof g_settings);
}

void SetLogInfo(const char* rootPath, const char* moduleName, int maxFileSize, int keepDays) {
    if (!rootPath && !moduleName) return;
    g_settings.configured = 1;
    if (rootPath) std::snprintf(g_settings.rootPath, sizeof g_settings.rootPath, "%s", rootPath);
    if (moduleName)
        std::snprintf(g_settings.moduleName, sizeof g_settings.moduleName, "%s", moduleName);
    g_settings.maxFileSize = maxFileSize;
    g_settings.keepDays = keepDays;
}

void SetlogWriteflag(int on) { g_settings.writeFlag = on; }

int CreatDir(const char* path) {
    if (!path || !*path) return -1;
    std::string partial;
    const std::string whole = path;
    size_t position = 0;
    while (position != std::string::npos) {
        position = whole.find('/', position + 1);
        partial = whole.substr(0, position);
        if (partial.empty() || IsDirectory(partial.c_str())) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return -1;
    }
    return IsDirectory(path) ? 0 : -1;
}

int DeleteExpiredFile(const char* folder, int days) {
    DIR* directory = opendir(folder);
    if (!directory) return -1;
    const time_t now = time(nullptr);
    const double limit = double(days) * 86400.0;
    int result = 1;
    while (dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        const std::string path = std::string(folder) + "/" + entry->d_name;
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0) {
            result = -2;
            break;
        }
        const double age = difftime(now, status.st_mtime);
        if ((age < 0 ? -age : age) <= limit) continue;
        if (S_ISDIR(status.st_mode)) {
            DeleteExpiredFile(path.c_str(), days);
            rmdir(path.c_str());  // fails, and the folder stays, while younger files remain
        } else {
            unlink(path.c_str());
        }
    }
    closedir(directory);
    return result;
}

int Writelog(const char* text) {
    if (g_settings.writeFlag == 0) return CARDGATE_LOG_OFF;
    const std::string moduleFolder = std::string(g_settings.rootPath) + "/" + g_settings.moduleName;
    if (!IsDirectory(moduleFolder.c_str())) CreatDir(moduleFolder.c_str());

    timeval clock{};
    gettimeofday(&clock, nullptr);
    tm now{};
    localtime_r(&clock.tv_sec, &now);
    char dayFolder[600];
    std::snprintf(dayFolder, sizeof dayFolder, "%s/%04d%02d%02d", moduleFolder.c_str(),
                  now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
    if (!IsDirectory(dayFolder)) CreatDir(dayFolder);
    char fileName[640];
    std::snprintf(fileName, sizeof fileName, "%s/log_%02d.txt", dayFolder, now.tm_hour);

    FILE* file = std::fopen(fileName, "a");
    if (!file) return CARDGATE_LOG_NOT_OPENED;
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && status.st_size > g_settings.maxFileSize) {
        std::fclose(file);
        file = std::fopen(fileName, "w+");
        if (!file) return CARDGATE_LOG_NOT_OPENED;
    }
    std::fprintf(file, "[%02d:%02d:%02d:%04ld]\t%s\n", now.tm_hour, now.tm_min, now.tm_sec,
                 long(clock.tv_usec), text ? text : "");
    std::fclose(file);
    RunCleanupOnNewDate(moduleFolder.c_str(), now);
    return 0;
}

int Writelog_Arg(const char* format, ...) {
    if (g_settings.writeFlag == 0) return CARDGATE_LOG_OFF;
    char* line = static_cast<char*>(std::malloc(4096));
    if (!line) return CARDGATE_LOG_NO_MEMORY;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, 4096, format, arguments);
    va_end(arguments);
    const int result = Writelog(line);
    std::free(line);
    return result;
}

int Writelog_Hex(const unsigned char* data, int len) {
    if (g_settings.writeFlag == 0) return CARDGATE_LOG_OFF;
    if (len < 0 || (len > 0 && !data)) len = 0;
    char* line = static_cast<char*>(std::malloc(size_t(len) * 2 + 128));
    if (!line) return CARDGATE_LOG_NO_MEMORY;
    HexToAsc(data, line, len);
    line[len * 2] = '\0';
    const int result = Writelog(line);
    std::free(line);
    return result;
}
