// A running service for end-to-end tests: the terminal simulator in this process, and
// countermate-host in a child process with libHid pointed at the simulator.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TerminalSimulator.h"
#include "ws_client_connection.h"

namespace countermate::testing {

// A temporary folder removed with everything in it when the object goes away.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A deploy folder of its own: the host program copied, every other file of the build's deploy
// folder linked, and CONFIG.ini written anew: the shipped one without the lines of the keys in
// `server_keys` and `removed_keys`, followed by a [SERVER] section holding `server_keys`. The
// host changes into its own folder, so a service started from here reads this CONFIG.ini.
class DeployCopy {
public:
    explicit DeployCopy(const std::vector<std::pair<std::string, std::string>>& server_keys,
                        const std::vector<std::string>& removed_keys = {});
    const std::string& path() const { return folder_.path(); }

private:
    TemporaryFolder folder_;
};

// A TCP port on the loopback that nothing listens on right now.
int free_port();

// Sends `request` on `client` and returns the reply (empty when none came within `timeout_ms`).
// The service is free again before its reply leaves, so a request sent right after a reply is
// taken, never refused as busy.
std::string call_service(WsClientConnection& client, const std::string& request,
                         int timeout_ms = 10000);

// countermate-host from the deploy folder, run as a child process.
class HostProcess {
public:
    // Starts the host on `port` with COUNTERMATE_HID_SIM=`hid_socket` (empty: unset) and waits
    // until it accepts WebSocket clients. Output goes to `log_path`. `deploy_dir` is the folder
    // whose host is run (the build's deploy folder when empty).
    bool start(int port, const std::string& hid_socket, const std::string& log_path,
               const std::string& deploy_dir = std::string());
    // Sends `signal_number` and waits for the exit; returns the exit status (-1 when killed).
    int stop(int signal_number);
    pid_t pid() const { return pid_; }
    ~HostProcess();

private:
    pid_t pid_ = 0;
};

// countermate-host with nothing behind libHid, and one client connected to it.
class ServiceWithoutTerminal {
public:
    ServiceWithoutTerminal();
    bool started() const { return started_; }
    WsClientConnection& client() { return client_; }

private:
    TemporaryFolder folder_;
    HostProcess host_;
    WsClientConnection client_;
    bool started_ = false;
};

// What a test or benchmark chooses of the simulated terminal.
struct SimulatorChoices {
    int frames_per_second = 25;  // of the terminal camera; 0: as fast as the driver takes them
    bool record_reports = true;  // keep every report for Reports() (a benchmark keeps none)
};

// The service on a simulated terminal, shared by the tests of one program.
class ServiceOnSimulator {
public:
    ServiceOnSimulator();
    // The host of `deploy_dir` (a DeployCopy's folder, which must outlive this object; empty for
    // the build's deploy folder), so that the service runs with that folder's CONFIG.ini.
    explicit ServiceOnSimulator(const std::string& deploy_dir,
                                const SimulatorChoices& choices = SimulatorChoices());
    ~ServiceOnSimulator();

    sim::TerminalSimulator& simulator() { return *simulator_; }
    int port() const { return port_; }
    bool started() const { return started_; }
    // A new client connection to the service.
    std::unique_ptr<WsClientConnection> connect();
    // The host process's id (for benchmarks that read its memory).
    pid_t host_pid() const { return host_.pid(); }

private:
    TemporaryFolder folder_;
    std::unique_ptr<sim::TerminalSimulator> simulator_;
    HostProcess host_;
    int port_ = 0;
    bool started_ = false;
};

}  // namespace countermate::testing
