// The reader log: where lines go, their form, the size cap, switching off, and old files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <string>

#include "CardgateTesting.h"

namespace cardgate::testing {
namespace {

class ReaderLog : public ::testing::Test {
protected:
    void SetUp() override { SetLogInfo(m_folder.path().c_str(), "kvxlog", 104857600, 7); }
    void TearDown() override {
        SetlogWriteflag(1);
        SetLogInfo(m_quiet.path().c_str(), "kvxlog", 104857600, 7);
    }
    // The hour file a write made now goes to.
    std::string HourFile() const {
        const time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        char name[128];
        std::snprintf(name, sizeof name, "/kvxlog/%04d%02d%02d/log_%02d.txt", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour);
        return m_folder.path() + name;
    }
    ScratchFolder m_folder;
    ScratchFolder m_quiet;
};

TEST_F(ReaderLog, LinesGoToTheHourFileOfTheDayFolder) {
    const std::string before = HourFile();
    ASSERT_EQ(Writelog("first"), 0);
    ASSERT_EQ(Writelog_Arg("%s ,FD = [%d]", "ComRecvData", 7), 0);
    ASSERT_EQ(Writelog_Hex(Bytes({0x0A, 0xFF}).data(), 2), 0);
    if (HourFile() != before) GTEST_SKIP() << "the hour changed during the test";
    std::string content = ReadFile(before);
    for (const char* text : {"first", "ComRecvData ,FD = [7]", "0AFF"}) {
        const size_t end = content.find('\n');
        ASSERT_NE(end, std::string::npos) << content;
        const std::string line = content.substr(0, end);
        content.erase(0, end + 1);
        // "[HH:MM:SS:micro]", the microseconds in at least four digits, then a tab and the text.
        ASSERT_GE(line.size(), 15u) << line;
        EXPECT_EQ(line.substr(0, 1) + line.substr(3, 1) + line.substr(6, 1) + line.substr(9, 1),
                  "[:::")
            << line;
        const size_t close = line.find("]\t");
        ASSERT_NE(close, std::string::npos) << line;
        EXPECT_GE(close - 10, 4u) << line;
        EXPECT_LE(close - 10, 6u) << line;
        EXPECT_EQ(line.find_first_not_of("0123456789", 10), close) << line;
        EXPECT_EQ(line.substr(close + 2), text);
    }
    EXPECT_EQ(content, "");
}

TEST_F(ReaderLog, LongFormattedLinesAreCutAt4096Bytes) {
    const std::string file = HourFile();
    ASSERT_EQ(Writelog_Arg("%s", std::string(5000, 'x').c_str()), 0);
    const std::string content = ReadFile(file);
    EXPECT_NE(content.find(std::string(4095, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(content.find(std::string(4096, 'x')), std::string::npos);
}

TEST_F(ReaderLog, AFileBeyondTheCapIsEmptiedByTheNextWrite) {
    SetLogInfo(m_folder.path().c_str(), "kvxlog", 100, 7);
    const std::string file = HourFile();
    ASSERT_EQ(Writelog(std::string(200, 'a').c_str()), 0);
    ASSERT_EQ(Writelog("after"), 0);
    const std::string content = ReadFile(file);
    EXPECT_EQ(content.find(std::string(200, 'a')), std::string::npos);
    EXPECT_NE(content.find("\tafter\n"), std::string::npos);
}

TEST_F(ReaderLog, SwitchedOffOrReleasedNothingIsWritten) {
    SetlogWriteflag(0);
    EXPECT_EQ(Writelog("hidden"), CARDGATE_LOG_OFF);
    EXPECT_EQ(Writelog_Arg("%d", 1), CARDGATE_LOG_OFF);
    EXPECT_EQ(Writelog_Hex(Bytes({1}).data(), 1), CARDGATE_LOG_OFF);
    EXPECT_FALSE(FileExists(HourFile()));
    SetlogWriteflag(1);
    RealseLogLib();
    EXPECT_EQ(Writelog("hidden"), CARDGATE_LOG_OFF);
    InitLogLib();
    SetLogInfo(m_folder.path().c_str(), nullptr, 104857600, 7);  // the module name stays
    EXPECT_EQ(Writelog("back"), 0);
    EXPECT_NE(ReadFile(HourFile()).find("\tback\n"), std::string::npos);
}

void MakeOld(const std::string& path, int days) {
    const timeval old[2] = {{time(nullptr) - days * 86400L, 0}, {time(nullptr) - days * 86400L, 0}};
    utimes(path.c_str(), old);
}

TEST_F(ReaderLog, ExpiredFilesAndEmptiedFoldersAreRemoved) {
    const std::string module = m_folder / "module";
    ASSERT_EQ(CreatDir((module + "/20000101").c_str()), 0);
    ASSERT_EQ(CreatDir((module + "/20000102").c_str()), 0);
    WriteFile(module + "/20000101/log_09.txt", "old");
    WriteFile(module + "/20000102/log_09.txt", "young");
    WriteFile(module + "/recent.txt", "young");
    MakeOld(module + "/20000101/log_09.txt", 8);
    MakeOld(module + "/20000101", 8);
    MakeOld(module + "/20000102", 8);  // an old folder still holding a young file stays
    EXPECT_EQ(DeleteExpiredFile(module.c_str(), 7), 1);
    EXPECT_FALSE(FileExists(module + "/20000101"));
    EXPECT_TRUE(FileExists(module + "/20000102/log_09.txt"));
    EXPECT_TRUE(FileExists(module + "/recent.txt"));
    EXPECT_EQ(DeleteExpiredFile((m_folder / "missing").c_str(), 7), -1);
}

}  // namespace
}  // namespace cardgate::testing
