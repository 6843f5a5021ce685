// The exported conversion helpers, the combined identity block, and moving files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CardgateTesting.h"
#include "ReaderSimulator.h"

namespace cardgate::testing {
namespace {

TEST(CardgateHelpers, Base64EncodeCountsCharactersBeforeThePadding) {
    struct Case {
        const char* data;
        const char* text;
        int result;
    } cases[] = {{"", "", 0},
                 {"f", "Zg==", 2},
                 {"fo", "Zm8=", 3},
                 {"foo", "Zm9v", 4},
                 {"\xFB\xFF", "+/8=", 3}};
    for (const Case& c : cases) {
        char text[16] = {};
        EXPECT_EQ(
            encode(reinterpret_cast<const unsigned char*>(c.data), int(std::strlen(c.data)), text),
            c.result);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(CardgateHelpers, Base64DecodeCountsPaddingAsZeroBitsAndStopsAtCapacity) {
    unsigned char out[8] = {};
    EXPECT_EQ(decode("Zm9v", 4, out, 8), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "foo");
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(decode("Zg==", 4, out, 8), 3);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 3), Bytes({'f', 0, 0}));
    EXPECT_EQ(decode("Zm9vYmFy", 8, out, 4), 4);
    EXPECT_EQ(out[4], 0xEE);
}

TEST(CardgateHelpers, FileBase64) {
    ScratchFolder folder;
    WriteFile(folder / "f", "foobar");
    char text[16] = {};
    EXPECT_EQ(GetFileBase64((folder / "f").c_str(), text), 8);
    EXPECT_STREQ(text, "Zm9vYmFy");
    EXPECT_EQ(GetFileBase64((folder / "missing").c_str(), text), CARDGATE_FILE);
}

TEST(CardgateHelpers, HexAndDecimalDigitPairs) {
    char hex[8] = {};
    HexToAsc(Bytes({0x0A, 0xFF, 0x00}).data(), hex, 3);
    EXPECT_STREQ(hex, "0AFF00");
    unsigned char bytes[4] = {};
    AscToHex("1a2B3", bytes, 3);  // short text is padded with '0' on the right
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 3), Bytes({0x1A, 0x2B, 0x30}));
    EXPECT_EQ(AsciiToDec("0199", bytes, 4), 0);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 2), Bytes({1, 99}));
    std::memset(bytes, 0, sizeof bytes);
    EXPECT_EQ(AsciiToDec("123", bytes, 3), 1);
    EXPECT_EQ(bytes[0], 0);
}

TEST(CardgateHelpers, CommandPaste) {
    unsigned char out[8] = {};
    int length = 0;
    CmdPaste(0x2001, Bytes({0xAB}).data(), 1, out, &length);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 3), Bytes({0x20, 0x01, 0xAB}));
    CmdPaste(0x1234, nullptr, 0, out, &length);
    EXPECT_EQ(length, 2);
}

TEST(CardgateHelpers, MagneticStripeSentinels) {
    struct Case {
        const char* stripe;
        const char* data;
    } cases[] = {{";6222021234567890?", "6222021234567890"},
                 {"%:ABC:%", "ABC"},
                 {";;12;;", "12"},
                 {"6222", "6222"},
                 {";?", ""}};
    for (const Case& c : cases) {
        char out[32] = {};
        int length = -1;
        ParseMagData(c.stripe, int(std::strlen(c.stripe)), out, &length);
        EXPECT_EQ(std::string(out, size_t(length)), c.data) << c.stripe;
    }
}

TEST(CardgateHelpers, CodePointsToUtf8) {
    const uint64_t codes[] = {0x41, 0x7FF, 0x6C49, 0x1F600, 0x110000};
    char out[16] = {};
    EXPECT_EQ(UnicodeToUTF_8(codes, 5, out), 1 + 2 + 3 + 4);
    EXPECT_EQ(std::string(out), "A\xDF\xBF汉\xF0\x9F\x98\x80");
}

// Bytes 5-6 text length, 7-8 photo length (9-10 fingerprint length in mode 1), then the blocks.
std::vector<unsigned char> CombinedBlock(int mode, int fingerprintLength) {
    const auto card = countermate::sim::MakeCard(countermate::sim::CardKind::kResident);
    std::vector<unsigned char> block = Bytes({0, 0, 0, 0, 0, 0x01, 0x00, 0x04, 0x00});
    if (mode == 1) block.insert(block.end(), {0x00, (unsigned char)fingerprintLength});
    block.insert(block.end(), card.text.begin(), card.text.end());
    block.insert(block.end(), card.photo.begin(), card.photo.end());
    block.insert(block.end(), size_t(fingerprintLength), 0xAB);
    return block;
}

TEST(CardgateHelpers, CombinedIdentityBlock) {
    const auto card = countermate::sim::MakeCard(countermate::sim::CardKind::kResident);
    int kind = -1;
    char text[1024] = {};
    unsigned int photoLength = 0;
    std::vector<unsigned char> photo(2048);
    std::vector<unsigned char> block = CombinedBlock(0, 0);
    EXPECT_EQ(ParseIDCardString(0, block.data(), int(block.size()), &kind, text, nullptr,
                                &photoLength, photo.data()),
              0);
    EXPECT_EQ(std::string(text).substr(0, 7), "张伟|");
    EXPECT_EQ(photoLength, 1024u);
    EXPECT_TRUE(std::equal(card.photo.begin(), card.photo.end(), photo.begin()));

    // Mode 1 takes the photo after 11 + text length and gives the fingerprints as hexadecimal.
    block = CombinedBlock(1, 16);
    char fingerprints[64] = {};
    std::fill(photo.begin(), photo.end(), 0);
    ParseIDCardString(1, block.data(), int(block.size()), &kind, text, fingerprints, &photoLength,
                      photo.data());
    EXPECT_TRUE(std::equal(card.photo.begin(), card.photo.end(), photo.begin()));
    EXPECT_STREQ(fingerprints, "ABABABABABABABABABABABABABABABAB");

    std::vector<unsigned char> lying(20, 0);
    lying[7] = 0x40;  // declares a photo far beyond the block
    EXPECT_EQ(
        ParseIDCardString(0, lying.data(), 20, nullptr, text, nullptr, &photoLength, photo.data()),
        CARDGATE_BAD_ARGUMENT);
}

TEST(CardgateMoveFile, NamesAreNeverGivenToAShell) {
    ScratchFolder folder;
    const std::string from = folder / "a b;touch injected";
    const std::string to = folder / "$(touch injected2) c";
    WriteFile(from, "photo");
    ASSERT_EQ(MoveFile(from.c_str(), to.c_str()), 0);
    EXPECT_EQ(ReadFile(to), "photo");
    EXPECT_FALSE(FileExists(from));
    EXPECT_FALSE(FileExists(folder / "injected"));
    EXPECT_FALSE(FileExists(folder / "injected2"));
    EXPECT_FALSE(FileExists("injected"));
    EXPECT_EQ(MoveFile((folder / "missing").c_str(), to.c_str()), CARDGATE_FILE);
}

TEST(CardgateMoveFile, AcrossFileSystemsCopiesAndDeletes) {
    struct stat shm {
    }, tmp{};
    if (stat("/dev/shm", &shm) != 0 || stat("/tmp", &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "/dev/shm and /tmp are one file system here";
    ScratchFolder folder;
    const std::string from = "/dev/shm/cardgate-move-" + std::to_string(getpid());
    WriteFile(from, std::string(200000, 'p'));
    const std::string to = folder / "moved";
    WriteFile(to, "old");
    ASSERT_EQ(MoveFile(from.c_str(), to.c_str()), 0);
    EXPECT_EQ(ReadFile(to), std::string(200000, 'p'));
    EXPECT_FALSE(FileExists(from));
}

}  // namespace
}  // namespace cardgate::testing
