// libwlt.so decodes exactly our test photo format and refuses everything else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "TestPhoto.h"

namespace {

using countermate::testphoto::Picture;

Picture Striped() {
    Picture picture;
    for (int i = 0; i < 16; ++i) {
        picture.palette[i][0] = uint8_t(i * 16);
        picture.palette[i][1] = uint8_t(255 - i);
        picture.palette[i][2] = uint8_t(i);
    }
    for (int row = 0; row < 21; ++row)
        for (int column = 0; column < 17; ++column)
            picture.cells[row][column] = uint8_t((row + column) % 16);
    return picture;
}

class WltDecoder : public ::testing::Test {
protected:
    void SetUp() override {
        m_library = dlopen(COUNTERMATE_DEPLOY_DIR "/libwlt.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << dlerror();
        m_unpack = reinterpret_cast<int (*)(const unsigned char*, unsigned char*, int)>(
            dlsym(m_library, "unpack"));
        ASSERT_NE(m_unpack, nullptr);
    }
    void TearDown() override {
        if (m_library) dlclose(m_library);
    }
    void* m_library = nullptr;
    int (*m_unpack)(const unsigned char*, unsigned char*, int) = nullptr;
};

TEST_F(WltDecoder, UnpacksATestPhotoInto102By126PixelsBottomRowFirst) {
    const auto block = countermate::testphoto::Encode(Striped());
    std::vector<unsigned char> pixels(38809, 0);
    ASSERT_EQ(m_unpack(block.data(), pixels.data(), 310), 1);
    // The top-left cell (index 0) is the last row delivered; the bottom-left cell (row 20,
    // index 4) the first.
    const unsigned char* topLeft = &pixels[size_t(125 * 102 * 3)];
    EXPECT_EQ(topLeft[0], 0);
    EXPECT_EQ(topLeft[1], 255);
    const unsigned char* bottomLeft = &pixels[0];
    EXPECT_EQ(bottomLeft[0], 4 * 16);
    EXPECT_EQ(bottomLeft[1], 255 - 4);
    EXPECT_EQ(bottomLeft[2], 4);
    // Cells are 6 x 6: pixel 6 of the bottom row is the next cell (index 5).
    EXPECT_EQ(pixels[6 * 3], 5 * 16);
    EXPECT_EQ(pixels[5 * 3], 4 * 16);
    EXPECT_EQ(pixels[38556], 0);  // nothing beyond the picture
}

TEST_F(WltDecoder, RefusesAnythingElse) {
    const auto good = countermate::testphoto::Encode(Striped());
    std::vector<std::vector<unsigned char>> blocks;
    blocks.emplace_back(1024, 0);  // zeros
    blocks.emplace_back(good.begin(), good.end());
    blocks.back()[300] ^= 0x01;  // one bit changed past the cells
    blocks.emplace_back(good.begin(), good.end());
    blocks.back()[60] ^= 0x10;  // a cell changed
    blocks.emplace_back(good.begin(), good.end());
    blocks.back()[5] = 7;  // another cell size
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::vector<unsigned char> pixels(38809, 0xEE);
        EXPECT_EQ(m_unpack(blocks[i].data(), pixels.data(), 310), 0) << i;
        EXPECT_EQ(m_unpack(blocks[i].data(), pixels.data(), 102), 0) << i;
        EXPECT_EQ(pixels[0], 0xEE) << i;
    }
}

}  // namespace
