#include "VirtualDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace snapdesk::testing {
namespace {

std::string xvfb_path() {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/Xvfb";
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::string();
}

// Reads the display number Xvfb writes when it is ready; empty when it ends first or is late.
std::string read_display_number(int fd) {
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (number.empty() || number.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return {};
        char bytes[16];
        const ssize_t count = read(fd, bytes, sizeof bytes);
        if (count <= 0) return {};
        number.append(bytes, static_cast<size_t>(count));
    }
    number.pop_back();
    return number;
}

}  // namespace

bool VirtualDisplay::installed() { return !xvfb_path().empty(); }

VirtualDisplay::~VirtualDisplay() { stop(); }

bool VirtualDisplay::start(int width, int height) {
    stop();
    const std::string program = xvfb_path();
    int ready[2];
    if (program.empty() || pipe2(ready, O_CLOEXEC) != 0) return false;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = fork();
    if (pid_ == 0) {
        // The write end as descriptor 3, left open across exec (dup2 onto itself would keep
        // its close-on-exec flag).
        if (ready[1] == 3) {
            fcntl(3, F_SETFD, 0);
        } else {
            dup2(ready[1], 3);
        }
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "-displayfd", "3", "-screen", "0", screen.c_str(),
              "-nolisten", "tcp", "-br", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    const std::string number = pid_ > 0 ? read_display_number(ready[0]) : std::string();
    close(ready[0]);
    if (number.empty()) {
        stop();
        return false;
    }
    name_ = ":" + number;
    return true;
}

void VirtualDisplay::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = 0;
    name_.clear();
}

bool VirtualDisplay::draw(const std::vector<FilledRectangle>& rectangles) const {
    Display* display = XOpenDisplay(name_.c_str());
    if (!display) return false;
    const Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    for (const FilledRectangle& rectangle : rectangles) {
        XSetForeground(display, gc, rectangle.colour);
        XFillRectangle(display, root, gc, rectangle.x, rectangle.y,
                       static_cast<unsigned>(rectangle.width),
                       static_cast<unsigned>(rectangle.height));
    }
    XFreeGC(display, gc);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

void exit_skipped_if_only_suite(const char* suite, const char* reason) {
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    for (int index = 0; index < unit.total_test_suite_count(); ++index) {
        const ::testing::TestSuite& other = *unit.GetTestSuite(index);
        if (other.test_to_run_count() > 0 && std::strcmp(other.name(), suite) != 0) return;
    }
    std::printf("skipped: %s\n", reason);
    std::fflush(stdout);
    std::_Exit(77);
}

}  // namespace snapdesk::testing
