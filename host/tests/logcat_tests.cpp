// countermate-logcat against logs written by the log tracker itself, scrambled and plain.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AUX_X.h"
#include "CLogTracker.h"

namespace fs = std::filesystem;

namespace {

const std::string kLogcat = std::string(COUNTERMATE_DEPLOY_DIR) + "/countermate-logcat";

std::string read_file(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string scramble(std::string text) {
    for (char& byte : text) byte = char(byte ^ 0xB6);
    return text;
}

void fixed_clock(_sys_time_* now) { *now = {2023, 5, 5, 5, 125, 9, 8, 7, 6}; }

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "countermate-logcat-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Writes a day's log through the tracker, in both line forms, and returns the file's bytes.
// The messages hold what a line-by-line reader can trip over: line breaks inside a message
// (one of them right at a line start), UTF-8 text and a text that looks like a header.
std::string tracker_log(const fs::path& folder, bool scrambled) {
    fs::create_directories(folder);
    const fs::path root = folder / "logs";
    write_file(folder / "CONFIG.ini",
               "[DEVTRACE]\nSwitch=1\nEncrypt=" + std::string(scrambled ? "1" : "0") +
                   "\nLevel=DEBUG\nPath=" + root.string() + "\n");
    const std::string config_folder = folder.string();
    {
        CLogTracker service({config_folder.c_str(), fixed_clock}, "", "", "SER");
        service.WriteTrace(LOG_LEVEL_INFO, "GetDevID", "retVal = %d", 0);
        service.WriteTrace(LOG_LEVEL_ERROR, "Sign", "first\nsecond\n\n12:34:56:789 [not a header");
        service.WriteTrace(LOG_LEVEL_WARN, "Prompt", "请签名 \xB6 done");
    }
    {
        CLogTracker camera({config_folder.c_str(), fixed_clock}, "", "cam");
        camera.WriteTrace("Open", "camera %s", "ready");
    }
    const fs::path day = root / "20230505";
    return read_file(day / "202355.log") + read_file(day / "cam_202355.log");
}

struct LogcatRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with `arguments`, standard input read from `input`.
LogcatRun run_logcat(const TempFolder& folder, const std::vector<std::string>& arguments,
                     const std::string& input) {
    const fs::path in = folder.path() / "stdin", out = folder.path() / "stdout",
                   err = folder.path() / "stderr";
    write_file(in, input);
    const pid_t child = fork();
    if (child == 0) {
        const int in_fd = open(in.c_str(), O_RDONLY);
        const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(126);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        std::vector<char*> argv{const_cast<char*>(kLogcat.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    LogcatRun run;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = read_file(out);
    run.err = read_file(err);
    return run;
}

TEST(Logcat, Cases) {
    TempFolder folder;
    const std::string plain = tracker_log(folder.path() / "plain", false);
    const std::string scrambled = tracker_log(folder.path() / "scrambled", true);
    ASSERT_NE(plain.find("[SER] [ERROR] <Sign> first\nsecond\n\n12:34:56:789"), std::string::npos);
    ASSERT_EQ(scrambled, scramble(plain)) << "the tracker scrambles otherwise than expected";

    const std::string plain_file = (folder.path() / "plain.log").string();
    const std::string scrambled_file = (folder.path() / "scrambled.log").string();
    const std::string mixed_file = (folder.path() / "mixed.log").string();
    const std::string missing_file = (folder.path() / "missing.log").string();
    write_file(plain_file, plain);
    write_file(scrambled_file, scrambled);
    // One day's file after Encrypt was switched on between two runs, and off again.
    write_file(mixed_file, plain + scrambled + plain);

    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string input;
        int status;
        std::string out;
        std::string err_part;  // expected inside standard error; empty: nothing written there
    };
    const Case cases[] = {
        {"scrambled file", {scrambled_file}, "", 0, plain, ""},
        {"plain file copied unchanged", {plain_file}, "", 0, plain, ""},
        {"plain and scrambled lines in one file", {mixed_file}, "", 0, plain + plain + plain, ""},
        {"no argument reads standard input", {}, scrambled, 0, plain, ""},
        {"dash reads standard input in its place",
         {plain_file, "-", scrambled_file},
         scrambled,
         0,
         plain + plain + plain,
         ""},
        {"bytes without a header are unscrambled", {}, scramble("x\r\ny\r\n"), 0, "x\r\ny\r\n", ""},
        {"empty input", {}, "", 0, "", ""},
        {"missing file: the others written, exit 1",
         {scrambled_file, missing_file, plain_file},
         "",
         1,
         plain + plain,
         missing_file},
        {"double dash ends the options", {"--", scrambled_file}, "", 0, plain, ""},
        {"unknown option", {"--raw"}, "", 2, "", "usage: countermate-logcat"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const LogcatRun run = run_logcat(folder, test.arguments, test.input);
        EXPECT_EQ(run.status, test.status);
        EXPECT_EQ(run.out, test.out);
        if (test.err_part.empty()) EXPECT_EQ(run.err, "");
        else EXPECT_NE(run.err.find(test.err_part), std::string::npos) << run.err;
    }
}

TEST(Logcat, HelpExplainsTheUseAndReadsNothing) {
    TempFolder folder;
    const LogcatRun run =
        run_logcat(folder, {"--help", (folder.path() / "missing.log").string()}, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: countermate-logcat [FILE...]\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("XOR 0xB6"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

// A log larger than one read of the program: line starts fall across read boundaries.
TEST(Logcat, LargeScrambledLogComesBackWhole) {
    TempFolder folder;
    std::string plain;
    for (int line = 0; plain.size() < 300 * 1024; ++line)
        plain += "09:08:07:006 [SER] [INFO] <fn> line " + std::to_string(line) +
                 std::string(size_t(line % 37), 'x') + "\r\n";
    const fs::path file = folder.path() / "large.log";
    write_file(file, scramble(plain));
    const LogcatRun run = run_logcat(folder, {file.string()}, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out == plain) << "output of " << run.out.size() << " bytes differs";
}

}  // namespace
