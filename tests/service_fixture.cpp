#include "service_fixture.h"

#include "loopback_port.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace countermate::testing {

TemporaryFolder::TemporaryFolder() {
    char pattern[] = "/tmp/countermate-test.XXXXXX";
    path_ = mkdtemp(pattern);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

DeployCopy::DeployCopy(const std::vector<std::pair<std::string, std::string>>& server_keys,
                       const std::vector<std::string>& removed_keys) {
    namespace fs = std::filesystem;
    const fs::path source(COUNTERMATE_DEPLOY_DIR);
    for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
        const fs::path target = fs::path(path()) / entry.path().filename();
        const std::string name = entry.path().filename().string();
        if (name == "CONFIG.ini") continue;
        if (name == "countermate-host") {
            fs::copy_file(entry.path(), target);
        } else if (entry.is_directory()) {
            fs::create_directory(target);
        } else {
            fs::create_symlink(entry.path(), target);
        }
    }
    std::ifstream shipped(source / "CONFIG.ini");
    std::ofstream config(fs::path(path()) / "CONFIG.ini");
    for (std::string line; std::getline(shipped, line);) {
        bool overridden = false;
        for (const auto& key : server_keys) overridden |= line.rfind(key.first + "=", 0) == 0;
        for (const auto& key : removed_keys) overridden |= line.rfind(key + "=", 0) == 0;
        if (!overridden) config << line << "\n";
    }
    config << "[SERVER]\n";
    for (const auto& key : server_keys) config << key.first << "=" << key.second << "\n";
}

int free_port() { return free_loopback_port(); }

std::string call_service(WsClientConnection& client, const std::string& request, int timeout_ms) {
    std::string reply;
    if (client.send_text(request)) client.receive(reply, timeout_ms);
    return reply;
}

bool HostProcess::start(int port, const std::string& hid_socket, const std::string& log_path,
                        const std::string& deploy_dir) {
    const std::string host =
        (deploy_dir.empty() ? std::string(COUNTERMATE_DEPLOY_DIR) : deploy_dir) +
        "/countermate-host";
    pid_ = fork();
    if (pid_ == 0) {
        if (hid_socket.empty()) {
            unsetenv("COUNTERMATE_HID_SIM");
        } else {
            setenv("COUNTERMATE_HID_SIM", hid_socket.c_str(), 1);
        }
        if (!freopen(log_path.c_str(), "w", stdout)) _exit(126);
        dup2(fileno(stdout), STDERR_FILENO);
        const std::string port_text = std::to_string(port);
        execl(host.c_str(), host.c_str(), "--port", port_text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) return false;
    // The service accepts clients once its start-up wait is over.
    WsClientConnection probe;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (probe.open("127.0.0.1", port, "/", 100)) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int HostProcess::stop(int signal_number) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal_number);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

HostProcess::~HostProcess() {
    if (pid_ > 0) stop(SIGKILL);
}

ServiceWithoutTerminal::ServiceWithoutTerminal() {
    const int port = free_port();
    started_ = host_.start(port, folder_.path() + "/nobody.sock", folder_.path() + "/host.log") &&
               client_.open("127.0.0.1", port, "/", 2000);
}

ServiceOnSimulator::ServiceOnSimulator() : ServiceOnSimulator(std::string()) {}

ServiceOnSimulator::ServiceOnSimulator(const std::string& deploy_dir,
                                       const SimulatorChoices& choices) {
    sim::TerminalSimulator::Options options;
    options.socket_path = folder_.path() + "/terminal.sock";
    options.storage_dir = folder_.path() + "/storage";
    options.frames_per_second = choices.frames_per_second;
    options.record_reports = choices.record_reports;
    std::filesystem::create_directories(options.storage_dir);
    simulator_ = std::make_unique<sim::TerminalSimulator>(options);
    sim::AddStandardVocabulary(*simulator_);
    port_ = free_port();
    started_ = simulator_->Start() &&
               host_.start(port_, options.socket_path, folder_.path() + "/host.log", deploy_dir);
}

ServiceOnSimulator::~ServiceOnSimulator() {
    host_.stop(SIGTERM);
    simulator_->Stop();
}

std::unique_ptr<WsClientConnection> ServiceOnSimulator::connect() {
    auto connection = std::make_unique<WsClientConnection>();
    connection->open("127.0.0.1", port_, "/", 2000);
    return connection;
}

}  // namespace countermate::testing
