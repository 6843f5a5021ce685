// The log writer of every CounterMate library: one line per call into daily folders under the
// configured root, filtered by level, optionally scrambled, old days deleted.
// Settings come from section DEVTRACE of CONFIG.ini in the folder of the library holding this code.
//
// Thread-safety: one tracker writes one line at a time; any number of threads may call it.
#pragma once

#include <cstdarg>
#include <mutex>

struct _sys_time_;

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

    // For tests only: the two forms above, reading CONFIG.ini from `config_folder` (a trailing
    // "/" is optional) in place of the folder of the library holding this code, and stamping
    // lines and naming day folders with `clock` (null: the wall clock).
    struct TestSetup {
        const char* config_folder;
        void (*clock)(_sys_time_* now) = nullptr;
    };
    CLogTracker(const TestSetup& setup, const char* sub_folder, const char* file_prefix,
                const char* module_tag);
    CLogTracker(const TestSetup& setup, const char* sub_folder, const char* file_prefix);

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

    // Writes one line whatever its level (the caller has applied the level). Writes nothing
    // while logging is off: there is no log root to write under then.
    void write_trace(int level, const char* function, const char* message);

    static int l_a2i(const char* level_name);
    static void l_i2a(int level, char* level_name);

    // Retention: keeps the `FileDay` day folders with the greatest names under the root.
    void delete_redun_files();
    // Deletes the sub-folders of `folder` with the smallest names until `FileDay` remain.
    void REMOVE_FILES(const char* folder);
    // Empties `folder` (regular files, and sub-folders recursively; symbolic links and other
    // entries stay, and are never followed) and removes the sub-folders it empties.
    static void DeleteFolder(const char* folder);
    // qsort comparator over an array of `const char*` names: greatest name first.
    static int cmpfile_names(const void* first, const void* second);

    bool enabled() const { return m_enabled; }
    int level() const { return m_level; }

private:
    // Reads the settings from "<config_folder>CONFIG.ini"; a null `module_tag` is the camera form.
    void load_settings(const char* config_folder, const char* sub_folder, const char* file_prefix,
                       const char* module_tag);
    void write_banner(bool at_start);
    void format_and_write(int level, const char* function, const char* format, va_list arguments);
    void delete_redun_files_locked();
    void write_line_locked(int level, const char* function, const char* message);
    // Creates today's day folder and sub-folder and makes the latter the current folder.
    void enter_day_folder(const _sys_time_& now);

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

    bool m_camera_form = false;  // header without tag, file name "<prefix>_%d%d%d.log"
    char m_root[1024] = {};      // the `Path` root
    char m_config_path[1100] = {};
    void (*m_clock)(_sys_time_* now) = nullptr;
    std::mutex m_line_lock;  // guards the folder, the last date and the file
};
