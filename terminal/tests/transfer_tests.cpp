// File push and pull through the simulated terminal's storage, and the Base64 helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

std::string Pattern(size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 31 + i / 251);
    return content;
}

std::vector<std::pair<int, int>> g_progress;
void RecordProgress(int total, int sent) { g_progress.emplace_back(total, sent); }

size_t CountKind(const std::vector<std::vector<unsigned char>>& reports, unsigned char kind) {
    size_t count = 0;
    for (const auto& report : reports) count += !report.empty() && report[0] == kind;
    return count;
}

using TerminalFileTransfer = SimulatedTerminal;

// A push hands the link blocks of 16336 bytes, each 32 segments of 509 and one of 48.
TEST_F(TerminalFileTransfer, PushSendsBlocksAndReportsProgress) {
    struct Case {
        size_t size;
        size_t data_segments;
        std::vector<std::pair<int, int>> progress;
    } cases[] = {
        {16336, 33, {{1, 0}, {1, 1}}},
        {16337, 34, {{2, 0}, {2, 1}, {2, 2}}},
        {0, 0, {{0, 0}}},
    };
    for (const Case& c : cases) {
        const std::string content = Pattern(c.size);
        std::string local = LocalFile("push.bin", content);
        const std::string terminal = "/sdcard/ZR/CounterMate/temp/" + std::to_string(c.size);
        const size_t before = m_simulator->Reports().size();
        g_progress.clear();
        ASSERT_EQ(m_driver->PushFiles(&local[0], terminal.c_str(), RecordProgress), 0) << c.size;
        EXPECT_EQ(g_progress, c.progress) << c.size;
        // The announcement's answer comes before any data, so the last block is in flight.
        const auto reports = ReportsAfter(before + 1 + c.data_segments);
        const std::vector<std::vector<unsigned char>> mine(reports.begin() + before, reports.end());
        EXPECT_EQ(CountKind(mine, 1), c.data_segments) << c.size;
        const std::string announcement(mine[0].begin() + 3, mine[0].end());
        EXPECT_EQ(announcement, "{\"fileName\":\"" + terminal + "\",\"fileSize\":" +
                                    std::to_string(c.size) + ",\"fileMD5\":\"\"}");
    }
    Settle();
    EXPECT_EQ(ReadFile(m_simulator->StoragePath("/sdcard/ZR/CounterMate/temp/16337")),
              Pattern(16337));
    EXPECT_EQ(ReadFile(m_simulator->StoragePath("/sdcard/ZR/CounterMate/temp/16336")),
              Pattern(16336));
}

TEST_F(TerminalFileTransfer, PushFailures) {
    char missing[] = "/nonexistent/file";
    EXPECT_EQ(m_driver->PushFile(missing, "/sdcard/x"), -6);
    std::string local = LocalFile("a.txt", "abc");
    EXPECT_EQ(m_driver->PushFile(&local[0], "/system/outside"), -11);  // refused by the terminal
}

// 25 data reports of 509 bytes: acknowledged after the 10th and the 20th.
TEST_F(TerminalFileTransfer, PullAcknowledgesEveryTenthReport) {
    const std::string content = Pattern(24 * 509 + 100);
    const std::string terminal = "/mnt/sdcard/ZR/CounterMate/out/doc.pdf";
    std::string stored = m_simulator->StoragePath(terminal);
    std::system(("mkdir -p \"$(dirname '" + stored + "')\"").c_str());
    {
        FILE* file = std::fopen(stored.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    std::string local = m_folder + "/pulled.pdf";
    ASSERT_EQ(m_driver->PullFile(terminal.c_str(), &local[0]), 0);
    EXPECT_EQ(ReadFile(local), content);
    const std::string pull_file_ack("REQUESTPULLFILE{\"recvStatus\":\"OK\"}", 35);
    EXPECT_EQ(m_simulator->Acknowledgements(),
              (std::vector<std::string>{pull_file_ack, pull_file_ack}));

    // The other pulls announce without a line feed and acknowledge with the underscore text.
    std::vector<char> base64(content.size() * 2);
    ASSERT_EQ(m_driver->PullFileAndBase64(&std::string(terminal)[0], nullptr, base64.data(),
                                          static_cast<int>(base64.size())),
              0);
    const std::string ack("REQUEST_PULLFILE{\"recvStatus\":\"OK\"}");
    EXPECT_EQ(m_simulator->Acknowledgements(),
              (std::vector<std::string>{pull_file_ack, pull_file_ack, ack, ack}));
    const std::string request = "{\"fileName\":\"" + terminal +
                                "\",\"fileSize\":0,\"fileMD5\":\"\"}";
    EXPECT_EQ(m_simulator->PullRequests(), (std::vector<std::string>{request + "\n", request}));
    EXPECT_TRUE(m_simulator->ProtocolErrors().empty());
    std::vector<unsigned char> decoded(content.size() + 3);
    int length = 0;
    ASSERT_EQ(m_driver->Base64Decode(base64.data(), &length, decoded.data()),
              static_cast<int>(content.size()));
    EXPECT_EQ(std::string(decoded.begin(), decoded.begin() + length), content);
}

// A 300-byte file needs (300 / 3 + 25) * 4 = 500 bytes of Base64 output.
TEST_F(TerminalFileTransfer, PullIntoBase64NeedsItsCapacity) {
    const std::string content = Pattern(300);
    std::string local = LocalFile("p.bin", content);
    ASSERT_EQ(m_driver->PushFile(&local[0], "/sdcard/p.bin"), 0);
    char terminal[] = "/sdcard/p.bin";
    std::string copy = m_folder + "/copy.bin";
    std::vector<char> base64(600, 'x');
    EXPECT_EQ(m_driver->PullFileAndBase64(terminal, &copy[0], base64.data(), 499), 0);
    EXPECT_EQ(base64[0], '\0');
    EXPECT_EQ(ReadFile(copy), content);  // the local copy is written all the same
    ASSERT_EQ(m_driver->PullFileAndBase64(terminal, nullptr, base64.data(), 500), 0);
    EXPECT_EQ(std::string(base64.data()).size(), 400u);
}

TEST_F(TerminalFileTransfer, PullIntoMemoryAndAllocatedBase64) {
    const std::string content = Pattern(5000);
    std::string local = LocalFile("m.bin", content);
    ASSERT_EQ(m_driver->PushFile(&local[0], "/sdcard/m.bin"), 0);

    std::vector<unsigned char> buffer(8000);
    int length = 0;
    const std::string copy = m_folder + "/m-copy.bin";
    ASSERT_EQ(m_driver->PullFileData("/sdcard/m.bin", copy.c_str(), buffer.data(), &length, 8000),
              0);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), content);
    EXPECT_EQ(ReadFile(copy), content);

    char* allocated = nullptr;
    ASSERT_EQ(m_driver->PullFile_Base64_Calloc("/sdcard/m.bin", &allocated), 0);
    std::vector<unsigned char> decoded(content.size() + 3);
    EXPECT_EQ(m_driver->Base64Decode(allocated, &length, decoded.data()), 5000);
    std::free(allocated);
    EXPECT_EQ(std::string(decoded.begin(), decoded.begin() + length), content);

    // A file larger than the buffer is received to its end and refused; the link stays in step.
    std::vector<unsigned char> small(1000, 0xEE);
    EXPECT_EQ(m_driver->PullFileData("/sdcard/m.bin", nullptr, small.data(), &length, 999), -10);
    EXPECT_EQ(small[999], 0xEE);
    Settle();
    EXPECT_TRUE(m_simulator->ProtocolErrors().empty());
}

TEST_F(TerminalFileTransfer, PullFailures) {
    std::string empty = LocalFile("empty", "");
    ASSERT_EQ(m_driver->PushFile(&empty[0], "/sdcard/empty"), 0);
    char empty_path[] = "/sdcard/empty";
    std::vector<char> base64(64);
    EXPECT_EQ(m_driver->PullFileAndBase64(empty_path, nullptr, base64.data(), 64), -16);
    std::string local = m_folder + "/never";
    EXPECT_EQ(m_driver->PullFile("/sdcard/missing", &local[0]), -11);
    char* allocated = nullptr;
    EXPECT_EQ(m_driver->PullFile_Base64_Calloc("/sdcard/missing", &allocated), -11);
    EXPECT_EQ(allocated, nullptr);
}

// A FIFO, a directory or a device named as a local file is refused at once by every push, pull
// and Base64 helper: nothing is announced for a push, and a pull that cannot keep its copy still
// takes the terminal's data, so the next answer on the link is read in step. A regular file
// written over keeps none of its longer old content.
TEST_F(TerminalFileTransfer, OnlyRegularLocalFilesAreReadOrWritten) {
    const std::string content = Pattern(6000);  // 12 data reports: one acknowledgement
    std::string source = LocalFile("source.bin", content);
    ASSERT_EQ(m_driver->PushFile(&source[0], "/sdcard/pulled.bin"), 0);
    char terminal_path[] = "/sdcard/pulled.bin";

    const std::string fifo = m_folder + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = m_folder + "/folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    for (std::string special : {fifo, folder, std::string("/dev/null")}) {
        SCOPED_TRACE(special);
        Settle();
        const size_t before = m_simulator->Reports().size();
        EXPECT_EQ(m_driver->PushFile(&special[0], "/sdcard/special"), -6);
        char* text = nullptr;
        EXPECT_EQ(m_driver->FileBase64Encode(&special[0], &text), -8);
        char valid[] = "YWJj";
        EXPECT_EQ(m_driver->FileBase64Decode(valid, &special[0]), -8);
        EXPECT_EQ(m_driver->PullFile(terminal_path, &special[0]), -8);
        Settle();
        std::vector<unsigned char> buffer(content.size());
        int length = 0;
        EXPECT_EQ(m_driver->PullFileData(terminal_path, special.c_str(), buffer.data(), &length,
                                         static_cast<int>(buffer.size())),
                  -8);
        Settle();
        std::vector<char> base64(content.size() * 2);
        EXPECT_EQ(m_driver->PullFileAndBase64(terminal_path, &special[0], base64.data(),
                                              static_cast<int>(base64.size())),
                  -8);
        Settle();
        const auto reports = m_simulator->Reports();
        const std::vector<std::vector<unsigned char>> mine(reports.begin() + before, reports.end());
        EXPECT_EQ(CountKind(mine, 0), 0u);  // no push was announced
    }
    EXPECT_TRUE(m_simulator->ProtocolErrors().empty());
    struct stat status {};
    EXPECT_TRUE(stat(fifo.c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    EXPECT_TRUE(stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode));

    std::string longer = LocalFile("longer.bin", Pattern(9000));
    ASSERT_EQ(m_driver->PullFile(terminal_path, &longer[0]), 0);
    EXPECT_EQ(ReadFile(longer), content);
    char valid[] = "YWJj";
    ASSERT_EQ(m_driver->FileBase64Decode(valid, &longer[0]), 0);
    EXPECT_EQ(ReadFile(longer), "abc");
}

TEST_F(TerminalFileTransfer, TransFileCountPushesToTheTerminalsPaths) {
    const std::string first = LocalFile("one.txt", "first");
    const std::string second = LocalFile("two.txt", "second");
    ASSERT_EQ(m_driver->TransFileCount(2, (first + "|" + second).c_str()), 0);
    EXPECT_EQ(m_simulator->Commands()[0],
              "{\"command\":\"TransFileCount\",\"param\":{\"fileCount\":2}}");
    Settle();
    EXPECT_EQ(ReadFile(m_simulator->StoragePath("/sdcard/ZR/CounterMate/trans/file1")), "first");
    EXPECT_EQ(ReadFile(m_simulator->StoragePath("/sdcard/ZR/CounterMate/trans/file2")), "second");

    // The terminal names two paths, the caller gave one file: the second is never read.
    EXPECT_EQ(m_driver->TransFileCount(2, first.c_str()), -1);

    sim::CommandScript refused;
    refused.fail = true;
    m_simulator->Script("TransFileCount", refused);
    EXPECT_EQ(m_driver->TransFileCount(1, first.c_str()), -2);
}

TEST(TerminalSplitString, KeepsEmptyPieces) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {}}, {"a", {"a"}}, {"a|b", {"a", "b"}}, {"a||b|", {"a", "", "b", ""}}, {"|", {"", ""}},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<std::string> pieces{"stale"};
        EXPECT_EQ(SplitString(text, pieces, '|'), static_cast<int>(expected.size())) << text;
        EXPECT_EQ(pieces, expected) << text;
    }
}

using TerminalBase64 = SimulatedTerminal;

TEST_F(TerminalBase64, EncodeAndDecode) {
    unsigned char abc[] = {'a', 'b', 'c'};
    char text[16] = {};
    EXPECT_EQ(m_driver->Base64Encode(abc, 3, text), 4);
    EXPECT_STREQ(text, "YWJj");
    unsigned char one[] = {'a'};
    EXPECT_EQ(m_driver->Base64Encode(one, 1, text), 4);
    EXPECT_STREQ(text, "YQ==");

    const std::pair<const char*, std::string> decodes[] = {
        {"YW Jj\n", "abc"}, {"YQ==", "a"},
        {"YWI=", "ab"},     {"YWJjZA", "abc"},  // a last group short of 4 characters is dropped
        {"\r\n", ""},
    };
    for (const auto& [input, bytes] : decodes) {
        unsigned char data[16] = {};
        int length = -1;
        EXPECT_EQ(m_driver->Base64Decode(const_cast<char*>(input), &length, data),
                  static_cast<int>(bytes.size()))
            << input;
        EXPECT_EQ(std::string(data, data + length), bytes) << input;
    }
    unsigned char data[16];
    int length = 0;
    char bad[] = "YW*j";
    EXPECT_EQ(m_driver->Base64Decode(bad, &length, data), -1);
}

TEST_F(TerminalBase64, FileHelpers) {
    std::string path = LocalFile("image.bin", Pattern(1000));
    EXPECT_EQ(m_driver->FileBase64Encode_GetLength(&path[0]), 1000);
    char* text = nullptr;
    ASSERT_EQ(m_driver->FileBase64Encode(&path[0], &text), 0);
    std::string copy = m_folder + "/copy.bin";
    EXPECT_EQ(m_driver->FileBase64Decode(text, &copy[0]), 0);
    std::free(text);
    EXPECT_EQ(ReadFile(copy), Pattern(1000));

    char missing[] = "/nonexistent/file";
    EXPECT_EQ(m_driver->FileBase64Encode_GetLength(missing), 0);
    EXPECT_EQ(m_driver->FileBase64Encode(missing, &text), -8);
    std::string empty = LocalFile("empty", "");
    EXPECT_EQ(m_driver->FileBase64Encode(&empty[0], &text), -8);
    char nothing[] = "";
    EXPECT_EQ(m_driver->FileBase64Decode(nothing, &copy[0]), -8);
    char undecodable[] = "Y*==";
    EXPECT_EQ(m_driver->FileBase64Decode(undecodable, &copy[0]), -8);
    char valid[] = "YWJj";
    EXPECT_EQ(m_driver->FileBase64Decode(valid, missing), -8);
}

}  // namespace
}  // namespace countermate::terminal::testing
