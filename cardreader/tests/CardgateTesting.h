// Helpers of the card reader's tests: scratch folders, whole files, and the reader log sent
// to a scratch folder instead of /tmp/kvxlog.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cardgate.h"

namespace cardgate::testing {

// A folder under /tmp, removed with everything in it at the end of the test.
class ScratchFolder {
public:
    ScratchFolder() {
        char name[] = "/tmp/cardgate-test-XXXXXX";
        if (mkdtemp(name)) m_path = name;
    }
    ~ScratchFolder() {
        if (!m_path.empty()) std::system(("rm -rf '" + m_path + "'").c_str());
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string ReadFile(const std::string& path) {
    std::string content;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            content.append(buffer, count);
        std::fclose(file);
    }
    return content;
}

inline void WriteFile(const std::string& path, const std::string& content) {
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline std::vector<unsigned char> Bytes(std::initializer_list<int> values) {
    std::vector<unsigned char> bytes;
    for (int value : values) bytes.push_back((unsigned char)value);
    return bytes;
}

// Keeps the log of the library under test in a scratch folder for the whole test binary.
class QuietLog : public ::testing::Environment {
public:
    void SetUp() override { SetLogInfo(m_folder.path().c_str(), "kvxlog", 104857600, 7); }

private:
    ScratchFolder m_folder;
};

// Ends a test that needs hardware this machine lacks. Run alone (as CTest runs each test) it
// exits with 77, which CTest reports as skipped; within a whole run it is skipped in place.
#define CARDGATE_SKIP_WITHOUT_HARDWARE(reason)                             \
    do {                                                                   \
        const ::testing::TestInfo* test_ =                                 \
            ::testing::UnitTest::GetInstance()->current_test_info();       \
        if (::testing::GTEST_FLAG(filter) ==                               \
            std::string(test_->test_suite_name()) + "." + test_->name()) { \
            std::printf("skipped: %s\n", reason);                          \
            std::fflush(stdout);                                           \
            std::_Exit(77);                                                \
        }                                                                  \
        GTEST_SKIP() << reason;                                            \
    } while (0)

}  // namespace cardgate::testing
