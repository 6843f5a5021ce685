// Test helper: an Xvfb server of a test's own, and the skip of tests that need one.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace snapdesk::testing {

// A rectangle to fill with a 0xRRGGBB colour.
struct FilledRectangle {
    int x, y, width, height;
    unsigned long colour;
};

// An Xvfb server with one 24-bit screen and a black root window, kept as drawn when its last
// client leaves (-noreset). The server picks a free display
// number itself (-displayfd), so tests running side by side never take each other's.
class VirtualDisplay {
public:
    // Whether Xvfb is installed (on PATH).
    static bool installed();

    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Starts the server; true once it accepts clients (within 10 seconds).
    bool start(int width = 1024, int height = 768);
    // Ends the server and waits for it.
    void stop();
    // The display's name, ":N" (empty until started).
    const std::string& name() const { return name_; }
    // Fills the rectangles on the root window and waits until the server has drawn them. False
    // when the display cannot be reached.
    bool draw(const std::vector<FilledRectangle>& rectangles) const;

private:
    pid_t pid_ = 0;
    std::string name_;
};

// Exits the program with 77, which CTest reports as skipped, when it runs no test outside
// `suite` (as when CTest runs one of its tests alone); returns otherwise.
void exit_skipped_if_only_suite(const char* suite, const char* reason);

}  // namespace snapdesk::testing

// Ends a test that needs Xvfb when it is not installed: the program exits as skipped when it runs
// only this suite, otherwise the test is skipped in place.
#define SNAPDESK_SKIP_WITHOUT_XVFB()                                              \
    do {                                                                          \
        if (!::snapdesk::testing::VirtualDisplay::installed()) {                  \
            ::snapdesk::testing::exit_skipped_if_only_suite(                      \
                ::testing::UnitTest::GetInstance()->current_test_suite()->name(), \
                "Xvfb is not installed (scripts/setup installs it)");             \
            GTEST_SKIP() << "Xvfb is not installed (scripts/setup installs it)";  \
        }                                                                         \
    } while (0)
