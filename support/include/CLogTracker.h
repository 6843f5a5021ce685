// The log writer of every CounterMate library: one line per call into daily folders under the
// configured root, filtered by level, optionally scrambled, old days deleted.
// Settings come from section DEVTRACE of CONFIG.ini in the folder of the library holding this code.
//
// Thread-safety: one tracker writes one line at a time; any number of threads may call it.
#pragma once

#include <mutex>

#define LOG_LEVEL_DEBUG 1
#define LOG_LEVEL_INFO 2
#define LOG_LEVEL_WARN 3
#define LOG_LEVEL_ERROR 4
#define LOG_LEVEL_FATAL 5
#define LOG_LEVEL_SYSTEM 9

class CLogTracker {
public:
    // The form of the service and the terminal driver: lines carry `module_tag`
    // ("%02d:%02d:%02d:%03d [tag] [level] <function> "); files are "<prefix>%d%d%d.log".
    CLogTracker(const char* unused, const char* sub_folder, const char* file_prefix,
                const char* module_tag);
    // The form of the camera driver: no module tag ("%02d:%02d:%02d:%03d [level] <function> "),
    // files are "<prefix>_%d%d%d.log".
    CLogTracker(const char* unused, const char* sub_folder, const char* file_prefix);
    virtual ~CLogTracker();

    CLogTracker(const CLogTracker&) = delete;
    CLogTracker& operator=(const CLogTracker&) = delete;

    // Formats the message (printf rules, at most 10239 bytes) and writes one line when logging
    // is on and `level` is at least the configured level.
    void WriteTrace(int level, const char* function, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    // Writes at INFO whenever logging is on, without the level test.
    void WriteTrace(const char* function, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // Writes one line unconditionally (the caller has applied the switch and level).
    void write_trace(int level, const char* function, const char* message);

    static int l_a2i(const char* level_name);
    static void l_i2a(int level, char* level_name);

    // Retention: keeps the `FileDay` day folders with the greatest names under the root.
    void delete_redun_files();
    void REMOVE_FILES(const char* folder);
    static void DeleteFolder(const char* folder);
    static int cmpfile_names(const void* first, const void* second);

    bool enabled() const { return m_enabled; }
    int level() const { return m_level; }

private:
    void load_settings(const char* sub_folder, const char* file_prefix, const char* module_tag);
    void write_banner(bool at_start);
    void write_line_locked(int level, const char* function, const char* message);

    char m_current_folder[1030] = {};
    char m_file_prefix[200] = {};
    char m_sub_folder[100] = {};
    char m_open_mode[100] = {};
    int m_days_to_keep = 0;
    bool m_enabled = false;
    bool m_scrambled = false;
    int m_level = LOG_LEVEL_INFO;
    char m_module_tag[200] = {};
    int m_last_day = 0;
    int m_last_month = 0;
    int m_last_year = 0;

    bool m_camera_form = false;   // header without tag, file name "<prefix>_%d%d%d.log"
    char m_root[1024] = {};       // the `Path` root
    char m_config_path[1100] = {};
    std::mutex m_line_lock;       // guards the folder, the last date and the file
};
