// liblibsnapdesk under Xvfb: what was drawn on the screen is what the JPEG file shows, through
// shared memory and through XGetImage, call after call; and false, never a crash, without a
// display, after losing it, or for a path that cannot be written.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "JpegFile.h"
#include "ScreenGrab.h"
#include "SharedLibrary.h"
#include "VirtualDisplay.h"

namespace snapdesk::testing {
namespace {

namespace fs = std::filesystem;

constexpr unsigned long kRed = 0xE01010;
constexpr unsigned long kBlue = 0x1020D0;

struct Rgb {
    int red, green, blue;
};

using Rectangle = FilledRectangle;

// A decoded picture as RGB rows.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    Rgb at(int x, int y) const {
        const unsigned char* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return {pixel[0], pixel[1], pixel[2]};
    }
};

// The JPEG file at `path` decoded; an empty picture when it is not a whole JPEG.
Picture decode_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> jpeg((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    Picture picture;
    tjhandle decoder = tjInitDecompress();
    int subsampling = 0, colours = 0;
    if (jpeg.empty() || tjDecompressHeader3(decoder, jpeg.data(), jpeg.size(), &picture.width,
                                            &picture.height, &subsampling, &colours) != 0) {
        tjDestroy(decoder);
        return {};
    }
    picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    const int decoded = tjDecompress2(decoder, jpeg.data(), jpeg.size(), picture.rgb.data(),
                                      picture.width, 0, picture.height, TJPF_RGB,
                                      TJFLAG_STOPONWARNING);
    tjDestroy(decoder);
    return decoded == 0 ? picture : Picture{};
}

bool near(const Rgb& seen, unsigned long colour) {
    const Rgb wanted{static_cast<int>(colour >> 16 & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
                     static_cast<int>(colour & 0xFF)};
    return std::abs(seen.red - wanted.red) <= 24 && std::abs(seen.green - wanted.green) <= 24 &&
           std::abs(seen.blue - wanted.blue) <= 24;
}

// Checks that `picture` is the whole 1024 x 768 screen with the rectangles where they were drawn
// (their centres in their colours) on the black root window.
void expect_shows(const Picture& picture, const std::vector<Rectangle>& rectangles) {
    ASSERT_EQ(picture.width, 1024);
    ASSERT_EQ(picture.height, 768);
    for (const Rectangle& rectangle : rectangles) {
        const Rgb centre =
            picture.at(rectangle.x + rectangle.width / 2, rectangle.y + rectangle.height / 2);
        EXPECT_TRUE(near(centre, rectangle.colour))
            << std::hex << rectangle.colour << " drawn, seen " << std::dec << centre.red << ","
            << centre.green << "," << centre.blue;
    }
    EXPECT_TRUE(near(picture.at(1000, 750), 0x000000)) << "the black root window";
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        SNAPDESK_SKIP_WITHOUT_XVFB();
        ASSERT_TRUE(display_.start()) << "Xvfb did not start";
        setenv("DISPLAY", display_.name().c_str(), 1);
        folder_ = fs::temp_directory_path() / ("snapdesk-test-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    VirtualDisplay display_;
    fs::path folder_;
};

const std::vector<Rectangle> kFirstDrawing = {{100, 80, 240, 160, kRed},
                                              {600, 400, 200, 120, kBlue}};
const std::vector<Rectangle> kSecondDrawing = {{100, 80, 240, 160, kBlue},
                                               {600, 400, 200, 120, kRed}};

// ---- the grabber and the writer, by transfer ----

class ScreenTransfers : public ScreenTest, public ::testing::WithParamInterface<Transfer> {};

TEST_P(ScreenTransfers, EachPictureShowsTheScreenAsItIsThen) {
    ScreenGrabber grabber(GetParam());
    JpegFileWriter writer;
    const fs::path picture = folder_ / "screen.jpg";
    for (const auto& drawing : {kFirstDrawing, kSecondDrawing}) {
        ASSERT_TRUE(display_.draw(drawing));
        const auto pixels = grabber.grab();
        ASSERT_TRUE(pixels.has_value());
        EXPECT_EQ(grabber.used_shared_memory(), GetParam() == Transfer::SharedMemoryWhereOffered)
            << "Xvfb offers MIT-SHM";
        ASSERT_TRUE(writer.write(*pixels, picture.c_str()));
        expect_shows(decode_file(picture), drawing);
    }
}

INSTANTIATE_TEST_SUITE_P(Both, ScreenTransfers,
                         ::testing::Values(Transfer::SharedMemoryWhereOffered,
                                           Transfer::ImageRequest),
                         [](const ::testing::TestParamInfo<Transfer>& info) {
                             return info.param == Transfer::ImageRequest ? "ImageRequest"
                                                                         : "SharedMemory";
                         });

// ---- the library's entry ----

using SnapDeskFunction = bool (*)(const char*);

class SnapDeskTest : public ScreenTest {
protected:
    SharedLibrary library_{"liblibsnapdesk.so"};
    SnapDeskFunction snap_ = library_.entry<SnapDeskFunction>("SnapDesk");
};

TEST_F(SnapDeskTest, WritesTheScreenAndLeavesNoTemporaryBehind) {
    ASSERT_TRUE(display_.draw(kFirstDrawing));
    const fs::path picture = folder_ / "1.jpg";
    ASSERT_TRUE(snap_(picture.c_str()));
    expect_shows(decode_file(picture), kFirstDrawing);
    ASSERT_TRUE(display_.draw(kSecondDrawing));
    ASSERT_TRUE(snap_(picture.c_str()));
    expect_shows(decode_file(picture), kSecondDrawing);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(SnapDeskTest, FalseForPathsItMayNotWrite) {
    const fs::path folder_as_path = folder_ / "a-folder";
    fs::create_directory(folder_as_path);
    for (const fs::path& path :
         {folder_ / "missing-folder" / "1.jpg", folder_as_path, fs::path()}) {
        EXPECT_FALSE(snap_(path.c_str())) << path;
    }
    EXPECT_FALSE(snap_(nullptr));
    EXPECT_TRUE(fs::is_directory(folder_as_path)) << "the folder in the path's place is left alone";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(SnapDeskTest, ALostDisplayAnswersFalseAndTheNextOneIsUsed) {
    const fs::path picture = folder_ / "1.jpg";
    ASSERT_TRUE(snap_(picture.c_str()));
    display_.stop();
    EXPECT_FALSE(snap_(picture.c_str()));
    EXPECT_FALSE(snap_(picture.c_str()));

    ASSERT_TRUE(display_.start());
    setenv("DISPLAY", display_.name().c_str(), 1);
    ASSERT_TRUE(display_.draw(kSecondDrawing));
    ASSERT_TRUE(snap_(picture.c_str()));
    expect_shows(decode_file(picture), kSecondDrawing);
}

TEST_F(SnapDeskTest, CallersOnSeveralThreadsEachGetWholePictures) {
    ASSERT_TRUE(display_.draw(kFirstDrawing));
    std::vector<std::thread> callers;
    std::vector<int> failures(3, 0);
    for (size_t caller = 0; caller < failures.size(); ++caller) {
        callers.emplace_back([&, caller] {
            const fs::path picture = folder_ / (std::to_string(caller) + ".jpg");
            for (int round = 0; round < 5; ++round) {
                if (!snap_(picture.c_str()) || decode_file(picture).width != 1024)
                    ++failures[caller];
            }
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(failures, std::vector<int>(failures.size(), 0));
}

// ---- without a display ----

TEST(SnapDeskWithoutDisplay, AnswersFalseAndWritesNothing) {
    SharedLibrary library("liblibsnapdesk.so");
    const auto snap = library.entry<SnapDeskFunction>("SnapDesk");
    const fs::path picture = fs::temp_directory_path() /
                             ("snapdesk-none-" + std::to_string(getpid()) + ".jpg");
    unsetenv("DISPLAY");
    EXPECT_FALSE(snap(picture.c_str()));
    setenv("DISPLAY", ":32767", 1);  // a display nobody serves
    EXPECT_FALSE(snap(picture.c_str()));
    EXPECT_FALSE(fs::exists(picture));
}

}  // namespace
}  // namespace snapdesk::testing
