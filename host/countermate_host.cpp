// countermate-host: runs the CounterMate service.
//
//   countermate-host [--port N]
//
// Changes into its own folder (the deploy folder, which holds every library and CONFIG.ini),
// loads libCounterMateServer.so, prints the product title and version, and serves WebSocket
// clients on port N (default 9600) until SIGINT or SIGTERM. Exits 0 after a clean stop, 1 when
// the service cannot start or stops by itself (for example when the port is in use).
#include <dlfcn.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr int kDefaultPort = 9600;

using RunFn = void (*)(int);
using ExitFn = void (*)();
using SoftInfoFn = void (*)(char*, char*);

void print_usage() { std::fprintf(stderr, "usage: countermate-host [--port N]\n"); }

bool parse_port(int argc, char** argv, int& port) {
    port = kDefaultPort;
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--port") == 0 && index + 1 < argc) {
            char* end = nullptr;
            const long value = std::strtol(argv[++index], &end, 10);
            if (*end != '\0' || value < 1 || value > 65535) return false;
            port = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return true;
}

bool change_into_own_folder() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return false;
    std::string folder(path, static_cast<size_t>(length));
    folder.erase(folder.find_last_of('/'));
    return chdir(folder.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    if (!parse_port(argc, argv, port)) {
        print_usage();
        return 2;
    }
    if (!change_into_own_folder()) {
        std::perror("countermate-host: cannot change into its folder");
        return 1;
    }

    // The signals are taken by sigwait below; every thread the service starts inherits the mask.
    // A signal that the parent left ignored would never reach sigwait, so take them back first.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGUSR1, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    void* service = dlopen("./libCounterMateServer.so", RTLD_NOW);
    if (!service) {
        std::fprintf(stderr, "countermate-host: %s\n", dlerror());
        return 1;
    }
    auto run = reinterpret_cast<RunFn>(dlsym(service, "RunCounterMateServer"));
    auto exit_service = reinterpret_cast<ExitFn>(dlsym(service, "ExitCounterMateServer"));
    auto soft_info = reinterpret_cast<SoftInfoFn>(dlsym(service, "GetSoftInfo"));
    if (!run || !exit_service || !soft_info) {
        std::fprintf(stderr, "countermate-host: libCounterMateServer.so lacks an entry point\n");
        return 1;
    }

    char title[128] = {};
    char version[64] = {};
    soft_info(title, version);
    std::printf("%s %s\nport %d\n", title, version, port);
    std::fflush(stdout);

    const pthread_t main_thread = pthread_self();
    std::mutex stopped_lock;
    std::condition_variable stopped_changed;
    bool stopped = false;
    std::thread server([&] {
        run(port);
        {
            std::lock_guard<std::mutex> guard(stopped_lock);
            stopped = true;
        }
        stopped_changed.notify_all();
        pthread_kill(main_thread, SIGUSR1);  // the service stopped by itself: wake sigwait
    });

    int signal_number = 0;
    sigwait(&signals, &signal_number);
    const bool stopped_by_request = signal_number != SIGUSR1;
    // The service forgets a stop asked for during its start-up, so ask until it has stopped.
    std::unique_lock<std::mutex> guard(stopped_lock);
    while (stopped_by_request && !stopped) {
        exit_service();
        stopped_changed.wait_for(guard, std::chrono::milliseconds(100));
    }
    guard.unlock();
    server.join();

    std::printf("countermate-host: %s\n",
                stopped_by_request ? "stopped" : "the service stopped by itself");
    std::fflush(stdout);
    return stopped_by_request ? 0 : 1;
}
