// The card photo: BMP bytes, the decoder's call order and both ways a decoder delivers its
// picture, and the failures on the way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "CardgateTesting.h"
#include "ReaderSimulator.h"
#include "TestPhoto.h"

namespace cardgate::testing {
namespace {

constexpr int kBmpSize = 308 * 126 + 54;

uint32_t LittleEndianAt(const std::string& bytes, size_t offset, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value |= uint32_t((unsigned char)bytes[offset + i]) << (8 * i);
    return value;
}

TEST(CardPhotoBmp, WritesA24BitBottomUpFileWithPaddedRows) {
    ScratchFolder folder;
    std::vector<unsigned char> pixels(102 * 126 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (unsigned char)(i * 7);
    const std::string path = folder / "photo.bmp";
    WriteFile(path, std::string(100000, 'z'));  // replaced, not appended to
    ASSERT_EQ(SaveBmp(pixels.data(), path.c_str(), 102, 126), 0);
    const std::string bmp = ReadFile(path);
    ASSERT_EQ(bmp.size(), size_t(kBmpSize));
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    struct Field {
        size_t offset;
        int bytes;
        uint32_t value;
    } fields[] = {
        {2, 4, kBmpSize}, {6, 4, 0},  {10, 4, 54}, {14, 4, 40}, {18, 4, 102},
        {22, 4, 126},     {26, 2, 1}, {28, 2, 24}, {30, 4, 0},  {34, 4, 308 * 126},
        {38, 4, 0},       {42, 4, 0}, {46, 4, 0},  {50, 4, 0},
    };
    for (const Field& field : fields)
        EXPECT_EQ(LittleEndianAt(bmp, field.offset, field.bytes), field.value) << field.offset;
    // Rows as supplied, each pixel's first and third byte swapped, two zero bytes of padding.
    for (int row : {0, 125}) {
        const size_t file = 54 + size_t(row) * 308;
        const size_t source = size_t(row) * 306;
        EXPECT_EQ((unsigned char)bmp[file], pixels[source + 2]);
        EXPECT_EQ((unsigned char)bmp[file + 1], pixels[source + 1]);
        EXPECT_EQ((unsigned char)bmp[file + 2], pixels[source]);
        EXPECT_EQ(bmp.substr(file + 306, 2), std::string(2, '\0'));
    }
}

TEST(CardPhotoBmp, ReplacesALinkWithoutWritingThroughIt) {
    ScratchFolder folder;
    const std::string victim = folder / "victim.txt";
    WriteFile(victim, "keep");
    const std::string path = folder / "photo.bmp";
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
    std::vector<unsigned char> pixels(102 * 126 * 3, 1);
    ASSERT_EQ(SaveBmp(pixels.data(), path.c_str(), 102, 126), 0);
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_EQ(ReadFile(path).size(), size_t(kBmpSize));
}

// A working folder holding the given decoder as ./libwlt.so (none when `decoder` is empty),
// made the current folder for the test.
class CardPhotoDecoding : public ::testing::Test {
protected:
    void UseDecoder(const std::string& decoder) {
        ASSERT_NE(getcwd(m_previous, sizeof m_previous), nullptr);
        ASSERT_EQ(chdir(m_folder.path().c_str()), 0);
        if (!decoder.empty()) {
            ASSERT_EQ(symlink(decoder.c_str(), "libwlt.so"), 0);
        }
    }
    void TearDown() override {
        if (m_previous[0]) {
            ASSERT_EQ(chdir(m_previous), 0);
        }
    }
    static std::vector<unsigned char> CardPhoto() {
        const auto card = countermate::sim::MakeCard(countermate::sim::CardKind::kResident);
        return std::vector<unsigned char>(card.photo.begin(), card.photo.end());
    }
    int Parse(const std::vector<unsigned char>& photo, int mode, char* out) {
        return _SDT_ParsePhotoInfo(photo.data(), int(photo.size()), mode, out);
    }

    ScratchFolder m_folder;
    char m_previous[PATH_MAX] = {};
};

TEST_F(CardPhotoDecoding, OurDecoderGivesTheTestPhotoAsABmpAtTheGivenPath) {
    UseDecoder(COUNTERMATE_DEPLOY_DIR "/libwlt.so");
    const std::vector<unsigned char> photo = CardPhoto();
    char path[256] = "./Photo.bmp";
    ASSERT_EQ(Parse(photo, 2, path), 0);
    const std::string bmp = ReadFile("Photo.bmp");
    ASSERT_EQ(bmp.size(), size_t(kBmpSize));
    std::vector<unsigned char> pixels(102 * 126 * 3);
    ASSERT_TRUE(countermate::testphoto::Decode(photo.data(), pixels.data()));
    std::string expected = bmp.substr(0, 54);
    for (int row = 0; row < 126; ++row) {
        for (int x = 0; x < 102; ++x) {
            const unsigned char* rgb = &pixels[size_t(row * 306 + 3 * x)];
            expected += {char(rgb[2]), char(rgb[1]), char(rgb[0])};
        }
        expected += std::string(2, '\0');
    }
    EXPECT_TRUE(bmp == expected);
    EXPECT_FALSE(FileExists("/tmp/tempKvx.bmp"));
    EXPECT_FALSE(FileExists("/tmp/tempKvx.wlt"));
    EXPECT_FALSE(FileExists("zp.bmp"));

    std::string base64(60000, '\0');
    ASSERT_EQ(Parse(photo, 1, base64.data()), 0);
    std::vector<unsigned char> decoded(kBmpSize + 3);
    const int length = decode(base64.c_str(), int(std::strlen(base64.c_str())), decoded.data(),
                              int(decoded.size()));
    ASSERT_GE(length, kBmpSize);
    EXPECT_TRUE(std::string(decoded.begin(), decoded.begin() + kBmpSize) == bmp);
}

// The scratch names in /tmp are shared by every process on the machine; photos decoded at the
// same time (threads here, each with a descriptor of its own on the lock as a process has)
// must each arrive whole at their own path.
TEST_F(CardPhotoDecoding, PhotosDecodedAtTheSameTimeStayApart) {
    UseDecoder(COUNTERMATE_DEPLOY_DIR "/libwlt.so");
    const std::vector<unsigned char> photo = CardPhoto();
    std::vector<int> results(4 * 8, 1);
    std::vector<std::thread> decoders;
    for (int t = 0; t < 4; ++t) {
        decoders.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                char path[256];
                std::snprintf(path, sizeof path, "photo-%d-%d.bmp", t, i);
                results[size_t(t * 8 + i)] = Parse(photo, 2, path);
            }
        });
    }
    for (std::thread& decoder : decoders) decoder.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(results[size_t(t * 8 + i)], 0) << t << "," << i;
            const std::string name = "photo-" + std::to_string(t) + "-" + std::to_string(i) +
                                     ".bmp";
            EXPECT_EQ(ReadFile(name).size(), size_t(kBmpSize)) << name;
        }
    }
}

TEST_F(CardPhotoDecoding, APictureTheDecoderLeavesIsMovedToThePath) {
    UseDecoder(WLT_LEAVES_PICTURE_LIBRARY);
    char path[256] = "moved.bmp";
    ASSERT_EQ(Parse(CardPhoto(), 2, path), 0);
    EXPECT_EQ(ReadFile("moved.bmp"), "310,102");  // tried with 310 first, then with 102
    EXPECT_FALSE(FileExists("zp.bmp"));
    EXPECT_FALSE(FileExists("/tmp/tempKvx.bmp"));
}

TEST_F(CardPhotoDecoding, TheCodecEntryServesWhenUnpackIsAbsent) {
    UseDecoder(WLT_CODEC_ONLY_LIBRARY);
    char path[256] = "codec.bmp";
    ASSERT_EQ(Parse(CardPhoto(), 2, path), 0);
    const std::string bmp = ReadFile("codec.bmp");
    ASSERT_EQ(bmp.size(), size_t(kBmpSize));
    EXPECT_EQ(bmp[54], '\x7F');
}

TEST_F(CardPhotoDecoding, Failures) {
    struct Case {
        const char* what;
        std::string decoder;
        int photoLength;
        bool garbage;
        int result;
    } cases[] = {
        {"block of 1023 bytes", WLT_LEAVES_PICTURE_LIBRARY, 1023, false, CARDGATE_BAD_ARGUMENT},
        {"no decoder library", "", 1024, false, CARDGATE_NO_DECODER},
        {"decoder without entries", WLT_WITHOUT_ENTRIES_LIBRARY, 1024, false, CARDGATE_NO_DECODER},
        {"not a test photo", COUNTERMATE_DEPLOY_DIR "/libwlt.so", 1024, true, CARDGATE_CONVERSION},
    };
    UseDecoder("");
    for (const Case& c : cases) {
        unlink("libwlt.so");
        if (!c.decoder.empty()) {
            ASSERT_EQ(symlink(c.decoder.c_str(), "libwlt.so"), 0);
        }
        std::vector<unsigned char> photo = CardPhoto();
        if (c.garbage) photo[100] ^= 0xFF;
        photo.resize(size_t(c.photoLength));
        char path[256] = "out.bmp";
        EXPECT_EQ(Parse(photo, 2, path), c.result) << c.what;
        EXPECT_FALSE(FileExists("out.bmp")) << c.what;
    }
    char untouched[8] = "keep";
    EXPECT_EQ(Parse(CardPhoto(), 0, untouched), 0);
    EXPECT_STREQ(untouched, "keep");
}

}  // namespace
}  // namespace cardgate::testing
