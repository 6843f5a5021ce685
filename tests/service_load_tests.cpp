// Loading the service: which libraries it binds by configuration, the settings it reads, and
// the failures that end the process. Each case loads the service in a child process, in a
// folder laid out like the deploy folder.
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "service_fixture.h"

namespace countermate::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exit_status = -1;
    std::string output;  // standard output and standard error of the child
};

struct Layout {
    std::optional<std::string> config;             // CONFIG.ini, absent when empty optional
    bool camera_driver = false;                    // a libDRV_DOCSCOPE.so is present
    bool terminal_driver_without_destroy = false;  // libCounterMate.so lacks DestroyCounterMate
};

void link_into(const fs::path& folder, const std::string& name, const fs::path& target) {
    fs::create_symlink(target, folder / name);
}

void lay_out(const fs::path& folder, const Layout& layout) {
    const fs::path deploy = COUNTERMATE_DEPLOY_DIR;
    link_into(folder, "libCounterMateServer.so", deploy / "libCounterMateServer.so");
    link_into(folder, "libHid.so", deploy / "libHid.so");
    link_into(folder, "libpixelwork.so", deploy / "libpixelwork.so");
    link_into(folder, "libCounterMate.so",
              layout.terminal_driver_without_destroy ? fs::path(TERMINAL_DRIVER_WITHOUT_DESTROY)
                                                     : deploy / "libCounterMate.so");
    if (layout.camera_driver) link_into(folder, "libDRV_DOCSCOPE.so", CAMERA_DRIVER_DOUBLE);
    if (layout.config) std::ofstream(folder / "CONFIG.ini") << *layout.config;
}

// Loads the service in a child process inside a folder laid out as `layout`, then runs
// `after_load` there with the library handle; returns the child's status and output.
Outcome load_service(const Layout& layout, const std::function<void(void*)>& after_load = {}) {
    TemporaryFolder folder;
    lay_out(folder.path(), layout);
    const fs::path output_path = fs::path(folder.path()) / "output.txt";
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        if (chdir(folder.path().c_str()) != 0 || !freopen(output_path.c_str(), "w", stdout))
            _exit(126);
        dup2(fileno(stdout), STDERR_FILENO);
        unsetenv("COUNTERMATE_HID_SIM");
        void* service = dlopen("./libCounterMateServer.so", RTLD_NOW);
        if (!service) {
            std::printf("not loaded: %s\n", dlerror());
            std::fflush(stdout);
            _exit(3);
        }
        if (after_load) after_load(service);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome;
    outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream output(output_path);
    outcome.output.assign(std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>());
    return outcome;
}

// Prints which optional library was loaded and the settings the service read.
void print_configuration(void*) {
    const bool camera = dlopen("./libDRV_DOCSCOPE.so", RTLD_NOW | RTLD_NOLOAD) != nullptr;
    const bool pixelwork = dlopen("./libpixelwork.so", RTLD_NOW | RTLD_NOLOAD) != nullptr;
    void* service = dlopen("./libCounterMateServer.so", RTLD_NOW | RTLD_NOLOAD);
    const float scale = *static_cast<float*>(dlsym(service, "m_scale"));
    const bool uvc = *static_cast<bool*>(dlsym(service, "m_isUVCCamera"));
    std::printf("camera=%d pixelwork=%d uvc=%d scale=%.2f\n", camera, pixelwork, uvc, scale);
}

std::string config_with_modules(const std::string& modules_lines) {
    return "[DEVTRACE]\nSwitch=0\n[MODULES]\n" + modules_lines +
           "[DEVICE]\nHID_DATAPACKET_SIZE=512\n";
}

TEST(ServiceLoad, CameraTypeChoosesTheCameraDriverOrTheJpegLibrary) {
    struct Case {
        std::optional<std::string> config;
        const char* expected;
    } cases[] = {
        {config_with_modules("scale=30\n"), "camera=0 pixelwork=1 uvc=0 scale=0.30\n"},
        {config_with_modules("CameraType=\nscale=30\n"), "camera=0 pixelwork=1 uvc=0 scale=0.30\n"},
        {config_with_modules("CameraType=0\nscale=30\n"),
         "camera=0 pixelwork=1 uvc=0 scale=0.30\n"},
        {config_with_modules("CameraType=2\nscale=30\n"),
         "camera=0 pixelwork=1 uvc=0 scale=0.30\n"},
        {config_with_modules("CameraType=1\nscale=30\n"),
         "camera=1 pixelwork=0 uvc=1 scale=0.30\n"},
        {config_with_modules("CameraType=0\nscale=50\n"),
         "camera=0 pixelwork=1 uvc=0 scale=0.50\n"},
        {config_with_modules("CameraType=0\nscale=big\n"),
         "camera=0 pixelwork=1 uvc=0 scale=0.00\n"},
        {config_with_modules("CameraType=0\n"), "camera=0 pixelwork=1 uvc=0 scale=0.30\n"},
        {std::nullopt, "camera=0 pixelwork=1 uvc=0 scale=0.00\n"},  // no file: no defaults
    };
    for (const auto& c : cases) {
        Layout layout;
        layout.config = c.config;
        layout.camera_driver = true;
        const Outcome outcome = load_service(layout, print_configuration);
        EXPECT_EQ(outcome.exit_status, 0) << outcome.output;
        EXPECT_NE(outcome.output.find(c.expected), std::string::npos)
            << (c.config ? *c.config : "no CONFIG.ini") << "\n"
            << outcome.output;
    }
}

TEST(ServiceLoad, MissingLibrariesAndEntriesEndTheProcessWithStatus1) {
    Layout without_destroy;
    without_destroy.config = config_with_modules("CameraType=0\n");
    without_destroy.terminal_driver_without_destroy = true;
    Outcome outcome = load_service(without_destroy);
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.output, "dlsym error!\n");

    Layout without_camera;
    without_camera.config = config_with_modules("CameraType=1\n");
    outcome = load_service(without_camera);
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_NE(outcome.output.find("libDRV_DOCSCOPE.so"), std::string::npos) << outcome.output;
}

// Every file under `folder`, one after another.
std::string contents_of_files_under(const fs::path& folder) {
    std::string contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path());
        contents.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    return contents;
}

// A counter that cannot start says why in its service log, not only on a console nobody reads.
TEST(ServiceLoad, AFailureWhileLoadingIsWrittenToTheServiceLog) {
    TemporaryFolder logs;
    Layout without_camera;
    without_camera.config = "[DEVTRACE]\nSwitch=1\nLevel=INFO\nPath=" + logs.path() +
                            "\n[MODULES]\nCameraType=1\n[DEVICE]\nHID_DATAPACKET_SIZE=512\n";
    const Outcome outcome = load_service(without_camera);
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_NE(contents_of_files_under(logs.path()).find("libDRV_DOCSCOPE.so"), std::string::npos)
        << outcome.output;
}

TEST(ServiceEntryPoints, SoftInfoWritesExactlyTheTitleAndVersion) {
    Layout layout;
    layout.config = config_with_modules("CameraType=0\n");
    const Outcome outcome = load_service(layout, [](void* service) {
        auto soft_info = reinterpret_cast<void (*)(char*, char*)>(dlsym(service, "GetSoftInfo"));
        char title[80];
        char version[32];
        std::memset(title, 0x7F, sizeof title);
        std::memset(version, 0x7F, sizeof version);
        soft_info(title, version);
        for (char byte : title) std::printf("%02x", static_cast<unsigned char>(byte));
        std::printf("\n");
        for (char byte : version) std::printf("%02x", static_cast<unsigned char>(byte));
        std::printf("\n");
    });
    auto hex = [](const std::string& bytes, size_t size) {
        std::string text;
        char pair[3];
        for (unsigned char byte : bytes) {
            std::snprintf(pair, sizeof pair, "%02x", byte);
            text += pair;
        }
        for (size_t index = bytes.size(); index < size; ++index) text += "7f";
        return text;
    };
    const std::string title = std::string("青禾柜台伴智能交互终端服务程序（通用版）") + '\0';
    const std::string version = std::string("0.2023.0530.1600") + '\0';
    ASSERT_EQ(title.size(), 61u);
    EXPECT_EQ(outcome.output, hex(title, 80) + "\n" + hex(version, 32) + "\n");
}

using RunFn = void (*)(int);
using ExitFn = void (*)();

TEST(ServiceEntryPoints, ExitDuringStartUpIsForgottenAndALaterOneIsHonoured) {
    Layout layout;
    layout.config = config_with_modules("CameraType=0\n");
    const int port = free_port();
    const Outcome outcome = load_service(layout, [port](void* service) {
        auto run = reinterpret_cast<RunFn>(dlsym(service, "RunCounterMateServer"));
        auto exit_service = reinterpret_cast<ExitFn>(dlsym(service, "ExitCounterMateServer"));
        std::atomic<bool> returned{false};
        std::thread server([&] {
            run(port);
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        exit_service();  // inside the start-up wait
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        std::printf("\nafter start-up: %s\n", returned ? "returned" : "running");
        exit_service();
        server.join();
        std::printf("after exit: %s\n", returned ? "returned" : "running");
    });
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_NE(outcome.output.find("after start-up: running\n"), std::string::npos)
        << outcome.output;
    EXPECT_NE(outcome.output.find("after exit: returned\n"), std::string::npos) << outcome.output;
}

TEST(ServiceEntryPoints, PortInUseMakesRunReturnByItself) {
    const int busy = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(busy, 1), 0);
    socklen_t length = sizeof address;
    getsockname(busy, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);

    Layout layout;
    layout.config = config_with_modules("CameraType=0\n");
    const Outcome outcome = load_service(layout, [port](void* service) {
        reinterpret_cast<RunFn>(dlsym(service, "RunCounterMateServer"))(port);
        std::printf("\nreturned by itself\n");
    });
    close(busy);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_NE(outcome.output.find("服务器端口占用中"), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("returned by itself"), std::string::npos) << outcome.output;
}

}  // namespace
}  // namespace countermate::testing
