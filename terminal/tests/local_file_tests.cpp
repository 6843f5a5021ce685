// The two ways the driver opens a caller's file: only regular files are read or written, and
// nothing else ever blocks the open or gets replaced. A FIFO without a writer would hold a
// blocking open for good, so a regression there hangs the test until CTest ends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "LocalFile.h"
#include "TestFiles.h"

namespace countermate::terminal::testing {
namespace {

// The file type of `path` itself (a symbolic link is not followed); 0 when nothing is there.
mode_t Kind(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// A stream handed over waits like any other (O_NONBLOCK was only for the open) and does not
// leak into programs the process starts.
void ExpectBlockingAndClosedOnExec(FILE* file) {
    EXPECT_EQ(fcntl(fileno(file), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fileno(file), F_GETFD) & FD_CLOEXEC, 0);
}

class TerminalLocalFile : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/countermate-localfile-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override { EXPECT_EQ(std::system(("rm -rf '" + m_folder + "'").c_str()), 0); }

    std::string m_folder;
};

// What a path names before the open, and what must hold of it afterwards.
struct Target {
    const char* name;
    std::function<std::string(const std::string& folder)> make;  // returns the path
    bool readable;      // OpenRegularFileToRead hands back a stream
    bool writable;      // OpenRegularFileToWrite hands back a stream
    mode_t kind_after;  // lstat's file type after a write attempt
};

TEST_F(TerminalLocalFile, OnlyRegularFilesAreOpened) {
    const Target targets[] = {
        {"regular file",
         [](const std::string& folder) {
             return WriteTestFile(folder + "/plain.txt", "old content");
         },
         true, true, S_IFREG},
        {"FIFO without a writer",
         [](const std::string& folder) {
             const std::string path = folder + "/pipe";
             EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
             return path;
         },
         false, false, S_IFIFO},
        {"directory",
         [](const std::string& folder) {
             const std::string path = folder + "/sub";
             EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
             return path;
         },
         false, false, S_IFDIR},
        {"character device", [](const std::string&) { return std::string("/dev/null"); }, false,
         false, S_IFCHR},
        {"missing file", [](const std::string& folder) { return folder + "/absent.txt"; }, false,
         true, S_IFREG},
        {"symbolic link to a regular file",
         [](const std::string& folder) {
             const std::string target = WriteTestFile(folder + "/target.txt", "old content");
             const std::string link = folder + "/link.txt";
             EXPECT_EQ(symlink(target.c_str(), link.c_str()), 0);
             return link;
         },
         true, true, S_IFLNK},
    };
    for (const Target& target : targets) {
        SCOPED_TRACE(target.name);
        const std::string path = target.make(m_folder);
        {
            LocalFile file = OpenRegularFileToRead(path.c_str());
            EXPECT_EQ(file != nullptr, target.readable);
            if (file) {
                ExpectBlockingAndClosedOnExec(file.get());
                char start[4] = {};
                EXPECT_EQ(std::fread(start, 1, 3, file.get()), 3u);
                EXPECT_STREQ(start, "old");
            }
        }
        {
            LocalFile file = OpenRegularFileToWrite(path.c_str());
            EXPECT_EQ(file != nullptr, target.writable);
            if (file) {
                ExpectBlockingAndClosedOnExec(file.get());
                EXPECT_GE(std::fputs("new", file.get()), 0);
            }
        }
        // Nothing was replaced; a written file was emptied first, so no rest of the longer old
        // content follows the new one.
        EXPECT_EQ(Kind(path), target.kind_after);
        if (target.writable) {
            EXPECT_EQ(ReadTestFile(path), "new");
        }
    }
}

TEST_F(TerminalLocalFile, NullPathOpensNothing) {
    EXPECT_EQ(OpenRegularFileToRead(nullptr), nullptr);
    EXPECT_EQ(OpenRegularFileToWrite(nullptr), nullptr);
}

}  // namespace
}  // namespace countermate::terminal::testing
