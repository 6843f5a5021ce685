// INI reading and writing as CONFIG.ini has always been read, and the log tracker's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AUX_X.h"
#include "CLogTracker.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kUntouched[] = "untouched";

std::string read_file(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "countermate-log-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// ---------------------------------------------------------------------------------------------
// X_INIKeyString

struct ReadCase {
    const char* name;
    std::string content;
    const char* key;
    const char* default_value;  // null: no default
    bool result;
    std::string value;
};

const std::string kLongValue(1500, 'x');

const ReadCase kReadCases[] = {
    {"plain", "[A]\nKey=v\n", "Key", "d", true, "v"},
    {"carriage return ends the value", "[A]\r\nKey=v\r\n", "Key", "d", true, "v"},
    {"value cut at the first carriage return", "[A]\nKey=a\rb\n", "Key", "d", true, "a"},
    {"blank after = stays in the value", "[A]\nKey = v\n", "Key", "d", true, " v"},
    {"value is everything after the first =", "[A]\nKey=a=b\n", "Key", "d", true, "a=b"},
    {"key matched inside a longer name", "[A]\nMyKeyName=v\n", "Key", "d", true, "v"},
    {"key matched after the =", "[A]\nOther=Key\n", "Key", "d", true, "Key"},
    {"first match wins", "[A]\nKey=1\nKey=2\n", "Key", "d", true, "1"},
    {"hash and slash comments skipped", "[A]\n#Key=1\n//Key=2\nKey=3\n", "Key", "d", true, "3"},
    {"indented hash is no comment", "[A]\n #Key=1\nKey=2\n", "Key", "d", true, "1"},
    {"section never closes", "[A]\n[B]\nKey=b\n", "Key", "d", true, "b"},
    {"indented section header is no header", " [A]\nKey=v\n", "Key", "d", true, "d"},
    {"key before the section ignored", "Key=early\n[A]\nOther=1\n", "Key", "d", true, "d"},
    {"section header line itself not searched", "[A] Key=x\nOther=1\n", "Key", "d", true, "d"},
    {"line without = ignored", "[A]\nKey\n", "Key", "d", true, "d"},
    {"last line without line end not read", "[A]\nKey=v", "Key", "d", true, "d"},
    {"missing section gives the default", "[B]\nKey=v\n", "Key", "d", true, "d"},
    {"missing key without default", "[A]\nOther=v\n", "Key", nullptr, false, kUntouched},
    {"over-long line keeps 1023 bytes", "[A]\nKey=" + kLongValue + "\n", "Key", "d", true,
     std::string(1019, 'x')},
    {"line after an over-long line still read", "[A]\nPad=" + kLongValue + "\nKey=v\n", "Key", "d",
     true, "v"},
};

TEST(IniRead, Cases) {
    TempFolder folder;
    const fs::path file = folder.path() / "CONFIG.ini";
    for (const ReadCase& test : kReadCases) {
        SCOPED_TRACE(test.name);
        write_file(file, test.content);
        char value[1024];
        std::snprintf(value, sizeof(value), "%s", kUntouched);
        EXPECT_EQ(AUX_X::X_INIKeyString(file.c_str(), "A", test.key, value, test.default_value),
                  test.result);
        EXPECT_EQ(std::string(value), test.value);
    }
}

TEST(IniRead, FailuresLeaveTheValueAlone) {
    TempFolder folder;
    const fs::path file = folder.path() / "CONFIG.ini";
    write_file(file, "[A]\nKey=v\n");
    const std::string missing = (folder.path() / "missing.ini").string();
    char value[1024] = "untouched";
    EXPECT_FALSE(AUX_X::X_INIKeyString(missing.c_str(), "A", "Key", value, "d"));
    EXPECT_FALSE(AUX_X::X_INIKeyString(nullptr, "A", "Key", value, "d"));
    EXPECT_FALSE(AUX_X::X_INIKeyString(file.c_str(), nullptr, "Key", value, "d"));
    EXPECT_FALSE(AUX_X::X_INIKeyString(file.c_str(), "A", nullptr, value, "d"));
    EXPECT_FALSE(AUX_X::X_INIKeyString(file.c_str(), "A", "Key", nullptr, "d"));
    EXPECT_STREQ(value, kUntouched);
}

TEST(IniRead, OverLongDefaultIsCutToTheValueBuffer) {
    TempFolder folder;
    const fs::path file = folder.path() / "CONFIG.ini";
    write_file(file, "[A]\n");
    const std::string long_default(3000, 'd');
    std::vector<char> value(1024 + 16, '#');
    EXPECT_TRUE(
        AUX_X::X_INIKeyString(file.c_str(), "A", "Key", value.data(), long_default.c_str()));
    EXPECT_EQ(std::string(value.data()), std::string(1023, 'd'));
    EXPECT_EQ(value[1024], '#');
}

// ---------------------------------------------------------------------------------------------
// W_INIKeyString

struct WriteCase {
    const char* name;
    std::string content;
    std::string expected;
};

// 1023 bytes, so that a reader splitting lines at 1023 bytes would see "URL=inner" as a line.
const std::string kPaddedLine = "Note=" + std::string(1018, 'n') + "URL=inner\n";

const WriteCase kWriteCases[] = {
    {"plain", "[WEB]\nURL=old\n", "[WEB]\nURL= new\n"},
    {"carriage return line", "[WEB]\r\nURL=old\r\nX=1\r\n", "[WEB]\r\nURL= new\nX=1\r\n"},
    {"blank before = kept", "[WEB]\nURL =old\n", "[WEB]\nURL = new\n"},
    {"only the first line", "[WEB]\nURL=a\nURL=b\n", "[WEB]\nURL= new\nURL=b\n"},
    {"key is a prefix test", "[WEB]\nMyURL=a\nURLX=b\n", "[WEB]\nMyURL=a\nURLX= new\n"},
    {"key before the section untouched", "URL=top\n[WEB]\nURL=old\n", "URL=top\n[WEB]\nURL= new\n"},
    {"section never closes", "[WEB]\n[B]\nURL=b\n", "[WEB]\n[B]\nURL= new\n"},
    {"last line without line end", "[WEB]\nURL=old", "[WEB]\nURL= new\n"},
    {"missing key adds nothing", "[WEB]\nOther=1\n", "[WEB]\nOther=1\n"},
    {"missing section changes nothing", "[B]\nURL=1\n", "[B]\nURL=1\n"},
    {"over-long line copied whole", "[WEB]\n" + kPaddedLine + "URL=old\n",
     "[WEB]\n" + kPaddedLine + "URL= new\n"},
};

TEST(IniWrite, Cases) {
    TempFolder folder;
    const fs::path file = folder.path() / "SIReader.ini";
    for (const WriteCase& test : kWriteCases) {
        SCOPED_TRACE(test.name);
        write_file(file, test.content);
        EXPECT_EQ(AUX_X::W_INIKeyString("WEB", "URL", "new", file.c_str()), 0);
        EXPECT_EQ(read_file(file), test.expected);
        EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
    }
}

TEST(IniWrite, MissingFileFailsWithoutCreatingOne) {
    TempFolder folder;
    const fs::path file = folder.path() / "missing.ini";
    EXPECT_EQ(AUX_X::W_INIKeyString("WEB", "URL", "new", file.c_str()), -1);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(IniWrite, UnwritableTemporaryFileFails) {
    TempFolder folder;
    const fs::path file = folder.path() / "SIReader.ini";
    write_file(file, "[WEB]\nURL=old\n");
    fs::create_directory(file.string() + ".tmp");  // cannot be opened for writing
    EXPECT_EQ(AUX_X::W_INIKeyString("WEB", "URL", "new", file.c_str()), -1);
    EXPECT_EQ(read_file(file), "[WEB]\nURL=old\n");
}

// ---------------------------------------------------------------------------------------------
// Time and module folder

TEST(LocalTime, MatchesTheCalendar) {
    const time_t before = time(nullptr);
    _sys_time_ now{};
    AUX_X::GetLocalTime(&now);
    tm expected{};
    localtime_r(&before, &expected);
    if (expected.tm_hour == 23 && expected.tm_min == 59) GTEST_SKIP() << "too close to midnight";
    EXPECT_EQ(now.year, expected.tm_year + 1900);
    EXPECT_EQ(now.month, expected.tm_mon + 1);
    EXPECT_EQ(now.day, expected.tm_mday);
    EXPECT_EQ(now.day_of_week, expected.tm_wday);
    EXPECT_EQ(now.day_of_year, expected.tm_yday + 1);
    EXPECT_EQ(now.hour, expected.tm_hour);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LT(now.millisecond, 1000);
}

TEST(ModulePath, IsTheFolderOfTheFileHoldingTheCode) {
    char path[1024];
    std::memset(path, '#', sizeof(path));
    AUX_X::GetModuleCurPath(path);
    // This program holds the code; its folder is named as the program was started.
    const std::string folder = path;
    if (folder.empty()) GTEST_SKIP() << "started without a folder in its name";
    EXPECT_EQ(folder.back(), '/');
    const fs::path program = fs::read_symlink("/proc/self/exe");
    EXPECT_TRUE(fs::equivalent(folder + program.filename().string(), program));
}

// ---------------------------------------------------------------------------------------------
// Log tracker

// The tracker's clock in these tests: 5 May 2023 unless a test moves it.
_sys_time_ g_fake_now;

void reset_fake_clock() { g_fake_now = {2023, 5, 5, 5, 125, 9, 8, 7, 6}; }

void fake_clock(_sys_time_* now) { *now = g_fake_now; }

// The DEVTRACE section a test writes: logging on, everything written, unless changed.
struct Settings {
    const char* log_switch = "1";
    const char* encrypt = "0";
    const char* file_day = "10";
    const char* level = "DEBUG";
    bool with_path = true;

    Settings& switched(const char* value) { return log_switch = value, *this; }
    Settings& scrambled() { return encrypt = "1", *this; }
    Settings& days(const char* value) { return file_day = value, *this; }
    Settings& lowest(const char* value) { return level = value, *this; }
    Settings& without_path() { return with_path = false, *this; }
};

class LogTrackerTest : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_clock(); }

    void configure(const Settings& settings) {
        std::ostringstream config;
        config << "[DEVTRACE]\nSwitch=" << settings.log_switch << "\nEncrypt=" << settings.encrypt
               << "\nFileDay=" << settings.file_day << "\nLevel=" << settings.level
               << "\nPath=" << (settings.with_path ? root().string() : "") << "\n";
        write_file(folder_.path() / "CONFIG.ini", config.str());
    }

    CLogTracker::TestSetup setup() const { return {config_folder_.c_str(), fake_clock}; }

    fs::path root() const { return folder_.path() / "logs"; }

    // Names of the folders under the log root, sorted.
    std::vector<std::string> day_folders() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempFolder folder_;
    const std::string config_folder_ = folder_.path().string();
};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the file ends inside a line";
    return lines;
}

const char kRule[] = "========================================================";
const char kHeaderTime[] = "09:08:07:006 ";

TEST_F(LogTrackerTest, LinesAreHeadedAndFilteredByLevel) {
    configure(Settings().lowest("WARN"));
    {
        CLogTracker log(setup(), "SUB", "", "SER");
        log.WriteTrace(LOG_LEVEL_DEBUG, "fn", "debug %d", 1);
        log.WriteTrace(LOG_LEVEL_INFO, "fn", "info %d", 2);
        log.WriteTrace(LOG_LEVEL_WARN, "fn", "warn %s", "three");
        log.WriteTrace(LOG_LEVEL_ERROR, nullptr, "error");
        log.WriteTrace(LOG_LEVEL_FATAL, "fn", "fatal");
        log.WriteTrace(7, "fn", "odd level");
        log.WriteTrace("fn", "level-less form ignores the filter");
    }
    const std::string t = kHeaderTime;
    const std::vector<std::string> expected = {
        t + "[SER] [SYSTEM] <INIT_LOAD> " + kRule,
        t + "[SER] [SYSTEM] <INIT_LOAD>               2023-05- 5 09-08-07      ",
        t + "[SER] [SYSTEM] <INIT_LOAD> " + kRule,
        t + "[SER] [WARN] <fn> warn three",
        t + "[SER] [ERROR] <> error",
        t + "[SER] [FATAL] <fn> fatal",
        t + "[SER] [UNKNOWN] <fn> odd level",
        t + "[SER] [INFO] <fn> level-less form ignores the filter",
        t + "[SER] [SYSTEM] <END> " + kRule,
        t + "[SER] [SYSTEM] <END>              2023-05- 5 09-08-07       ",
        t + "[SER] [SYSTEM] <END> " + kRule,
    };
    EXPECT_EQ(day_folders(), std::vector<std::string>{"20230505"});
    EXPECT_EQ(split_lines(read_file(root() / "20230505" / "SUB" / "202355.log")), expected);
}

TEST_F(LogTrackerTest, CameraFormHasNoTagAndAnUnderscoredFileName) {
    configure(Settings().lowest("ERROR"));
    g_fake_now.month = 11;
    g_fake_now.day = 3;
    {
        CLogTracker log(setup(), "DOCSCOPE", "DRV_DOCSCOPE");
        log.WriteTrace(LOG_LEVEL_INFO, "CamOpen", "filtered");
        log.WriteTrace("CamOpen", "Enter-%s", "CamOpen");
    }
    const std::vector<std::string> lines =
        split_lines(read_file(root() / "20231103" / "DOCSCOPE" / "DRV_DOCSCOPE_2023113.log"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], std::string(kHeaderTime) +
                            "[SYSTEM] <INIT_LOAD>               2023-11- 3 09-08-07      ");
    EXPECT_EQ(lines[3], std::string(kHeaderTime) + "[INFO] <CamOpen> Enter-CamOpen");
}

TEST(LogLevels, NamesAndValues) {
    const struct {
        const char* name;
        int level;
    } cases[] = {{"DEBUG", 1}, {"INFO", 2},   {"WARN", 3},  {"ERROR", 4},
                 {"FATAL", 5}, {"SYSTEM", 9}, {"debug", 2}, {"", 2}};
    for (const auto& test : cases) {
        EXPECT_EQ(CLogTracker::l_a2i(test.name), test.level) << test.name;
    }
    char name[16];
    CLogTracker::l_i2a(0, name);
    EXPECT_STREQ(name, "UNKNOWN");
}

TEST_F(LogTrackerTest, LoggingOffWritesNothing) {
    const struct {
        const char* name;
        Settings settings;
        bool config_file;
    } cases[] = {
        {"switch 0", Settings().switched("0"), true},
        {"switch not a number", Settings().switched("on"), true},
        {"no CONFIG.ini", Settings{}, false},
        // Day folders would otherwise be made at the file system's root.
        {"switch on without a path", Settings().without_path(), true},
    };
    g_fake_now.year = 1999;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        fs::remove(folder_.path() / "CONFIG.ini");
        if (test.config_file) configure(test.settings);
        {
            CLogTracker log(setup(), "SUB", "", "SER");
            EXPECT_FALSE(log.enabled());
            log.WriteTrace(LOG_LEVEL_FATAL, "fn", "message");
            log.write_trace(LOG_LEVEL_FATAL, "fn", "message");
        }
        EXPECT_FALSE(fs::exists(root()));
        EXPECT_FALSE(fs::exists("/19990505"));
    }
}

TEST_F(LogTrackerTest, ScrambledLinesComeBackWithXor) {
    configure(Settings().scrambled());
    {
        CLogTracker log(setup(), "", "", "CTM");
        log.WriteTrace(LOG_LEVEL_INFO, "fn", "secret \xB6 text");
    }
    std::string content = read_file(root() / "20230505" / "202355.log");
    EXPECT_EQ(content.find("secret"), std::string::npos);
    for (char& byte : content) byte = char(byte ^ 0xB6);
    const std::vector<std::string> lines = split_lines(content);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], std::string(kHeaderTime) + "[CTM] [INFO] <fn> secret \xB6 text");
}

TEST_F(LogTrackerTest, OverLongTextIsCutAndTheLineStaysWhole) {
    configure(Settings{});
    const std::string huge(20000, 'm');
    {
        CLogTracker log(setup(), "", "", "SER");
        log.WriteTrace(LOG_LEVEL_INFO, "fn", "%s", huge.c_str());
        log.write_trace(LOG_LEVEL_INFO, "fn", huge.c_str());
        log.write_trace(LOG_LEVEL_INFO, "fn", "after");
    }
    const std::vector<std::string> lines =
        split_lines(read_file(root() / "20230505" / "202355.log"));
    ASSERT_EQ(lines.size(), 9u);
    const std::string header = std::string(kHeaderTime) + "[SER] [INFO] <fn> ";
    EXPECT_EQ(lines[3], header + std::string(10239, 'm'));  // the message is cut
    EXPECT_EQ(lines[4].size() + 2, 10339u);                 // the line is cut, its end kept
    EXPECT_EQ(lines[4], header + std::string(10337 - header.size(), 'm'));
    EXPECT_EQ(lines[5], header + "after");
}

TEST_F(LogTrackerTest, NewDayGetsItsFolderAndRetentionRuns) {
    configure(Settings().days("1"));
    CLogTracker log(setup(), "SUB", "", "SER");
    log.WriteTrace(LOG_LEVEL_INFO, "fn", "day one");
    g_fake_now.day = 6;
    log.WriteTrace(LOG_LEVEL_INFO, "fn", "day two");
    EXPECT_EQ(day_folders(), std::vector<std::string>{"20230506"});
    const std::vector<std::string> lines =
        split_lines(read_file(root() / "20230506" / "SUB" / "202356.log"));
    EXPECT_EQ(lines,
              std::vector<std::string>{std::string(kHeaderTime) + "[SER] [INFO] <fn> day two"});
}

TEST_F(LogTrackerTest, RetentionKeepsTheNewestFolders) {
    const struct {
        const char* file_day;
        size_t deleted;  // of the ten older folders, oldest first
    } cases[] = {{"10", 1}, {"3", 8}, {"11", 0}, {"0", 0}, {"-2", 0}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.file_day);
        fs::remove_all(root());
        std::vector<std::string> expected;
        for (int day = 1; day <= 10; ++day) {
            const std::string name = "202301" + std::string(day < 10 ? "0" : "") +
                                     std::to_string(day);
            fs::create_directories(root() / name / "SUB" / "deeper");
            write_file(root() / name / "SUB" / "202311.log", "old");
            write_file(root() / name / "SUB" / "deeper" / "file", "old");
            if (size_t(day) > test.deleted) expected.push_back(name);
        }
        expected.push_back("20230505");
        configure(Settings().days(test.file_day));
        CLogTracker log(setup(), "SUB", "", "SER");
        EXPECT_EQ(day_folders(), expected);
    }
}

TEST_F(LogTrackerTest, DeletingAFolderNeverFollowsLinks) {
    const fs::path outside = folder_.path() / "outside";
    fs::create_directories(outside / "kept");
    write_file(outside / "kept" / "file", "keep");
    const fs::path old = folder_.path() / "old";
    fs::create_directories(old / "nested");
    write_file(old / "nested" / "file", "gone");
    fs::create_directory_symlink(outside, old / "link");
    CLogTracker::DeleteFolder(old.c_str());
    EXPECT_TRUE(fs::exists(outside / "kept" / "file"));
    EXPECT_FALSE(fs::exists(old / "nested"));
    EXPECT_TRUE(fs::is_symlink(old / "link"));
}

TEST_F(LogTrackerTest, ConcurrentWritersLeaveWholeLines) {
    configure(Settings{});
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 1000;
    // Longer than a stdio buffer, so a line takes more than one write to the file.
    const std::string padding(5000, 'p');
    {
        CLogTracker log(setup(), "", "", "SER");
        std::vector<std::thread> writers;
        for (int thread = 0; thread < kThreads; ++thread) {
            writers.emplace_back([&log, &padding, thread] {
                for (int line = 0; line < kLinesPerThread; ++line) {
                    log.WriteTrace(LOG_LEVEL_INFO, "worker", "thread %d line %d %s", thread, line,
                                   padding.c_str());
                }
            });
        }
        for (std::thread& writer : writers) writer.join();
    }
    const std::string header = std::string(kHeaderTime) + "[SER] [INFO] <worker> ";
    auto worker_line = [&](int thread, int line) {
        return header + "thread " + std::to_string(thread) + " line " + std::to_string(line) + " " +
               padding;
    };
    std::set<std::pair<int, int>> seen;
    size_t banner_lines = 0;
    size_t broken_lines = 0;
    for (const std::string& line : split_lines(read_file(root() / "20230505" / "202355.log"))) {
        int thread = -1;
        int index = -1;
        std::sscanf(line.c_str() + std::min(header.size(), line.size()), "thread %d line %d",
                    &thread, &index);
        if (line == worker_line(thread, index)) {
            seen.emplace(thread, index);
        } else if (line.find("[SYSTEM]") != std::string::npos && line.size() < 100) {
            ++banner_lines;
        } else {
            ++broken_lines;
        }
    }
    EXPECT_EQ(broken_lines, 0u);
    EXPECT_EQ(banner_lines, 6u);
    EXPECT_EQ(seen.size(), size_t(kThreads * kLinesPerThread));
}

}  // namespace
