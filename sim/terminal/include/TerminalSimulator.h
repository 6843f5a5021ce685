// The terminal simulator: plays the customer terminal's app on the far side of libHid's
// simulator transport (a Unix SOCK_SEQPACKET socket, one packet per report payload).
//
// It reassembles kind-tagged segments as the terminal does, answers JSON commands from a table
// of behaviours (unknown commands answer `success` false), keeps pushed files in a storage
// folder that stands for "/sdcard" and "/mnt/sdcard", serves pulls from it with the
// acknowledgement every 10th report checked, and ends a waiting interaction with
// `statusCode` 1 when "Cancel" arrives on kind 3 (a signing also with `data` saying cancelled:
// `statusCode` 1, `confirmResult` 4). Every report it sends is padded with zeros to
// the packet size, as a HID device sends them.
//
// It also plays the terminal's raw streams (StreamFraming.h): a start message starts the camera
// video (JPEG frames of a moving scene with a document on it, paced by `frames_per_second`) or,
// with the signing-screen argument, the signing screen (PNG frames of a customer signing,
// ended by the signing-end report). Frames go out as a start, parts and an end, flow-controlled
// by the driver's acknowledgements: after a frame start, after every 6th part and after a frame
// end it sends nothing more of the stream until that acknowledgement arrives, so a driver that
// stops acknowledging stalls the stream at a few reports. A pause stops the frames and leaves the
// captured image in storage; keep resumes them; stop ends the stream; "Cancel" on kind 3 ends a
// signing screen as cancelled (no signature). StreamScript sets how pauses are answered and how a signing ends.
// Commands and control messages are served while a stream runs.
//
// Tests can tell it, per command, to answer differently or to fail (CommandScript), and read back
// what it received. All public functions are thread-safe; the simulator serves one connection
// at a time on its own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct cJSON;

namespace countermate::sim {

enum class Fault {
    kNone,
    kDropConnection,  // close the connection instead of answering
    kShortSegment,    // answer with a segment that declares more bytes than it carries
    kNeverAnswer,     // keep the command waiting until "Cancel" (kind 3) or the end
    kStall,           // stop reading the connection, so the driver's writes fill it, until Stop
};

// How the simulator answers one command name. Unset members keep the behaviour's answer.
struct CommandScript {
    std::optional<std::string> answer;  // the whole answer text, sent as it is
    std::optional<int> status_code;     // `statusCode` of the answer
    // Integer members of the answer's `data`, set before the behaviour runs; behaviours keep a
    // member already there (a signing answers `confirmResult` 3, or makes 3 signature images).
    std::map<std::string, int> data_members;
    bool fail = false;  // `success` false
    int delay_ms = 0;   // answer this much later (a waiting interaction)
    Fault fault = Fault::kNone;
};

// How the terminal answers the pause message.
enum class PauseAnswer {
    kAtOnce,          // with the pause answer (marker, pause function)
    kUnrelatedFirst,  // with one report the pause does not expect, then the pause answer
    kSilentOnce,      // not at all, so the driver sends it again; the pause sent again is answered
};

// How the raw streams behave. The defaults are a customer who signs in about two seconds.
struct StreamScript {
    PauseAnswer pause_answer = PauseAnswer::kAtOnce;
    // The signing end's status: 0 signed, 1 cancelled, 2 timed out; any other value is sent as
    // it is. Only a signing that ends with 0 leaves its signature in storage.
    int signing_status = 0;
    int signing_frames = 10;  // signing-screen frames before the signing end (at least 1)
    int signing_frame_interval_ms = 200;
    // Whether "Cancel" on kind 3 during the signing screen also sends the signing end with
    // status 1, as the terminal does; off, the signing just stops.
    bool signing_end_on_cancel = true;
};

// What the streams have sent, counted from the simulator's start.
struct StreamCounters {
    uint64_t frames = 0;       // frames whose end the driver acknowledged (video and signing)
    uint64_t frame_bytes = 0;  // the bytes of those frames
    uint64_t pauses = 0;       // pause messages received
};

// A command's behaviour: fills the answer's `data` object from the command's `param` (null
// when the command has none); `data` may already hold the script's members. Returns false to
// answer `success` false.
using Behaviour = std::function<bool(const cJSON* param, cJSON* data)>;

class TerminalSimulator {
public:
    struct Options {
        std::string socket_path;
        std::string storage_dir;  // stands for "/sdcard" and "/mnt/sdcard"
        int packet_size = 512;
        bool record_reports = true;  // keep every received packet for Reports()
        // Keep the command texts, acknowledgements and pull requests for Commands(),
        // Acknowledgements() and PullRequests(). A simulator left running (the program) keeps
        // none: it would grow by every command it is sent.
        bool record_history = true;
        // Camera frames per second; 0 sends each frame as soon as the last one is acknowledged.
        int frames_per_second = 25;
    };

    explicit TerminalSimulator(Options options);
    ~TerminalSimulator();  // stops and joins the serving thread
    TerminalSimulator(const TerminalSimulator&) = delete;
    TerminalSimulator& operator=(const TerminalSimulator&) = delete;

    // Listens on the socket (replacing a stale socket file) and starts serving. False when the
    // socket cannot be made.
    bool Start();
    void Stop();

    void AddBehaviour(const std::string& command, Behaviour behaviour);
    void Script(const std::string& command, const CommandScript& script);
    // Drops every script: each command answers as its behaviour does, and the streams behave as
    // a default StreamScript says.
    void ClearScripts();

    // Sets how the raw streams behave from the next message on.
    void ScriptStreams(const StreamScript& script);
    StreamCounters StreamCounts() const;

    // Sends one report to the connected driver, padded to the packet size unless `pad` is false.
    // False when no driver is connected.
    bool SendReport(const std::vector<unsigned char>& payload, bool pad = true);

    // What arrived, in order: command texts of kinds 3 and 4 (without the carriage return),
    // pull acknowledgements, pull announcements, and every packet as received.
    std::vector<std::string> Commands() const;
    std::vector<std::string> Acknowledgements() const;
    std::vector<std::string> PullRequests() const;
    std::vector<std::vector<unsigned char>> Reports() const;
    // Waits until `count` commands have arrived (counted with or without record_history); false
    // after `timeout_ms`.
    bool WaitForCommands(size_t count, int timeout_ms) const;
    // Waits until a driver is connected; false after `timeout_ms`.
    bool WaitForConnection(int timeout_ms) const;
    // Waits until `count` packets have arrived (with record_reports); false after `timeout_ms`.
    bool WaitForReports(size_t count, int timeout_ms) const;
    // Problems in what the driver sent (a wrong acknowledgement, a bad announcement).
    std::vector<std::string> ProtocolErrors() const;

    // The storage file that stands for a terminal path; empty for paths outside the storage.
    std::string StoragePath(const std::string& terminal_path) const;

    int packet_size() const { return m_options.packet_size; }

private:
    class Connection;
    friend class Connection;
    class Streams;  // the raw streams of one connection (TerminalStreams.h)

    void Serve();
    void Record(std::vector<std::string>& list, const std::string& text);
    std::optional<CommandScript> ScriptFor(const std::string& command) const;
    Behaviour BehaviourFor(const std::string& command) const;

    Options m_options;
    int m_listen_fd = -1;
    int m_wake_fds[2] = {-1, -1};
    std::thread m_thread;

    mutable std::mutex m_lock;  // guards everything below
    mutable std::condition_variable m_arrived;
    bool m_running = false;
    int m_connection_fd = -1;
    std::map<std::string, Behaviour> m_behaviours;
    std::map<std::string, CommandScript> m_scripts;
    std::vector<std::string> m_commands;
    size_t m_command_count = 0;
    std::vector<std::string> m_acknowledgements;
    std::vector<std::string> m_pull_requests;
    std::vector<std::string> m_protocol_errors;
    std::vector<std::vector<unsigned char>> m_reports;
    StreamScript m_stream_script;
    StreamCounters m_stream_counters;
};

// The commands the simulated terminal app knows. Adding a command is one entry in its table.
void AddStandardVocabulary(TerminalSimulator& simulator);

}  // namespace countermate::sim
