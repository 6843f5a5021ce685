// Helpers shared by every CounterMate library: local time, the folder of the calling library,
// and reading and writing keys of INI-style files such as CONFIG.ini.
#pragma once

struct _sys_time_ {
    int year;         // four digits
    int month;        // 1-12
    int day;          // day of month
    int day_of_week;  // 0 = Sunday
    int day_of_year;  // 1-based
    int hour;
    int minute;
    int second;
    int millisecond;
};

namespace AUX_X {

// Fills `now` from the wall clock, in local time.
void GetLocalTime(_sys_time_* now);

// Writes the folder of the shared object (or program) holding this code, with its trailing
// "/", into `path` (1024 bytes). Writes the empty text when the file name holds no "/".
void GetModuleCurPath(char* path);

// Reads `key` of `section` in the INI file at `file` into `value`.
// The rules are those of CONFIG.ini as deployed counters have always read it:
//  - lines are handled only when their "\n" is read (a last line without one is ignored),
//    and a "\r" before the "\n" stays in the line until the value is cut at it;
//  - the section, once its "[section]" line is seen, never closes: later sections are searched;
//  - a line matches when it holds "=" and holds `key` anywhere (substring), unless it begins with
//    "#" or "//"; the value is everything after the first "=", up to a "\r", untrimmed.
// Returns false and leaves `value` untouched when an argument is null or the file cannot be read.
// Without a match, copies `default_value` (when not null) and returns true; else false.
// `value` must hold 1024 bytes.
bool X_INIKeyString(const char* file, const char* section, const char* key, char* value,
                    const char* default_value);

// Rewrites the first line of `section` that holds "=" and begins with `key` as
// "<text up to and including the first '='> <value>\n", through "<file>.tmp" and a rename.
// A key that is not found leaves the content unchanged (no key is added).
// Returns 0 on success, -1 when a file cannot be opened, else the result of the rename.
int W_INIKeyString(const char* section, const char* key, const char* value, const char* file);

}  // namespace AUX_X
