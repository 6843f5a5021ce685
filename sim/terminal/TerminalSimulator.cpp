#include "TerminalSimulator.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "SegmentFraming.h"
#include "StreamFraming.h"
#include "TerminalStreams.h"

namespace countermate::sim {

namespace segment = countermate::segment;
namespace stream = countermate::stream;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAcknowledgementInterval = 10;
constexpr int kAcknowledgementWaitMs = 30000;

const std::string kAcknowledgementTexts[] = {
    std::string("REQUESTPULLFILE{\"recvStatus\":\"OK\"}", 35),
    std::string("REQUEST_PULLFILE{\"recvStatus\":\"OK\"}"),
};

struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

std::string Print(const cJSON* json) {
    char* text = cJSON_PrintUnformatted(json);
    std::string printed = text != nullptr ? text : "";
    cJSON_free(text);
    return printed;
}

std::string StringMember(const cJSON* object, const char* name) {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsString(member) ? member->valuestring : "";
}

std::string SimpleAnswer(bool success, std::optional<int> status_code = std::nullopt) {
    Json answer(cJSON_CreateObject());
    cJSON_AddBoolToObject(answer.get(), "success", success);
    if (status_code) cJSON_AddNumberToObject(answer.get(), "statusCode", *status_code);
    return Print(answer.get());
}

// The answer of an interaction ended by "Cancel": `statusCode` 1 and, where the answer's `data`
// reports the outcome, its cancelled values.
std::string CancelledAnswer(const std::string& waiting_answer) {
    Json answer(cJSON_Parse(waiting_answer.c_str()));
    if (!cJSON_IsObject(answer.get())) return SimpleAnswer(true, 1);
    cJSON_DeleteItemFromObjectCaseSensitive(answer.get(), "statusCode");
    cJSON_AddNumberToObject(answer.get(), "statusCode", 1);
    cJSON* data = cJSON_GetObjectItemCaseSensitive(answer.get(), "data");
    const std::pair<const char*, int> cancelled[] = {{"statusCode", 1}, {"confirmResult", 4}};
    for (const auto& [member, value] : cancelled) {
        if (cJSON_GetObjectItemCaseSensitive(data, member) == nullptr) continue;
        cJSON_ReplaceItemInObjectCaseSensitive(data, member, cJSON_CreateNumber(value));
    }
    return Print(answer.get());
}

}  // namespace

// One driver connection: segment reassembly per kind, the push in progress, the answer of a
// waiting interaction, and the raw streams.
class TerminalSimulator::Connection {
public:
    Connection(TerminalSimulator& simulator, int fd)
        : m_simulator(simulator),
          m_fd(fd),
          m_streams(simulator,
                    [this](const std::vector<unsigned char>& report) { SendPacket(report); }) {
        const timeval send_limit{2, 0};  // a driver that stopped reading must not stall us
        setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
    }
    ~Connection() { close(m_fd); }

    int fd() const { return m_fd; }
    bool dropped() const { return m_dropped; }
    bool stalled() const { return m_stalled; }

    // Milliseconds until a delayed answer or a stream's frame is due; -1 when none is.
    int MillisecondsToNextEvent() const {
        const int frame = m_streams.MillisecondsToNextFrame();
        if (!m_pending || !m_pending->due) return frame;
        const int answer = MillisecondsUntil(*m_pending->due);
        return frame < 0 ? answer : std::min(answer, frame);
    }

    // Sends a delayed answer and a stream's frame that are due.
    void SendDue() {
        m_streams.SendDueFrame();
        if (!m_pending || !m_pending->due || Clock::now() < *m_pending->due) return;
        const Pending pending = *m_pending;
        m_pending.reset();
        SendMessage(pending.kind, pending.answer);
    }

    // Reads one packet from the driver; false when the driver has gone.
    bool ReceivePacket() {
        std::vector<unsigned char> packet(m_simulator.packet_size() + 1);
        const ssize_t count = recv(m_fd, packet.data(), packet.size(), 0);
        if (count <= 0) return false;
        packet.resize(static_cast<size_t>(count));
        HandlePacket(packet);
        return true;
    }

private:
    struct Pending {
        int kind;
        std::string answer;
        std::optional<Clock::time_point> due;  // none: waits until cancelled
    };
    struct Reassembly {
        std::string text;
        segment::MessageEnd end;
    };

    void HandlePacket(const std::vector<unsigned char>& packet) {
        const int packet_size = m_simulator.packet_size();
        if (m_simulator.m_options.record_reports) {
            std::lock_guard<std::mutex> guard(m_simulator.m_lock);
            m_simulator.m_reports.push_back(packet);
            m_simulator.m_arrived.notify_all();
        }
        std::vector<unsigned char> report(packet);
        report.resize(static_cast<size_t>(packet_size), 0);  // as padded by a HID device
        const int kind = report[0];
        const int length = segment::DeclaredLength(report.data());
        if (packet.size() < 3 || length > static_cast<int>(packet.size()) - segment::kHeaderBytes ||
            kind > segment::kPullAcknowledgement) {
            // A raw report: the streams' control messages and acknowledgements.
            if (kind == stream::kMarker) m_streams.OnControl(packet.data(), packet.size());
            return;
        }
        const char* data = reinterpret_cast<const char*>(report.data() + segment::kHeaderBytes);
        if (kind == segment::kPushData) return OnPushData(data, length);
        if (kind == segment::kPullAcknowledgement) {
            return m_simulator.Record(m_simulator.m_acknowledgements, std::string(data, length));
        }
        Reassembly& message = m_messages[kind];
        message.text.append(data, static_cast<size_t>(length));
        const bool complete = message.end.Feed(report.data(), length, packet_size) ||
                              EndsWithLineEnd(message, length, report);
        if (!complete) return;
        const std::string finished = std::move(message.text);
        message = Reassembly();
        OnMessage(kind, finished);
    }

    // Commands end with a carriage return and a pull announcement may end with a line feed,
    // right after the closing brace.
    bool EndsWithLineEnd(const Reassembly& message, int length,
                         const std::vector<unsigned char>& report) const {
        const std::string& text = message.text;
        if (length < 2 || text.size() < 2) return false;
        if (text.compare(text.size() - 2, 2, "}\r") != 0 &&
            text.compare(text.size() - 2, 2, "}\n") != 0)
            return false;
        const size_t after = segment::kHeaderBytes + static_cast<size_t>(length);
        return after < report.size() ? report[after] == 0 : message.end.Balanced();
    }

    void OnMessage(int kind, const std::string& text) {
        switch (kind) {
            case segment::kPushAnnouncement: return OnPushAnnouncement(text);
            case segment::kPull: return OnPull(text);
            default: return OnCommand(kind, text);
        }
    }

    void OnPushAnnouncement(const std::string& text) {
        Json announcement(cJSON_Parse(text.c_str()));
        const std::string path =
            m_simulator.StoragePath(StringMember(announcement.get(), "fileName"));
        const cJSON* size = cJSON_GetObjectItemCaseSensitive(announcement.get(), "fileSize");
        if (path.empty() || !cJSON_IsNumber(size) || size->valuedouble < 0) {
            m_simulator.Record(m_simulator.m_protocol_errors, "bad push announcement: " + text);
            return SendMessage(segment::kPushAnnouncement, SimpleAnswer(false));
        }
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        m_push_file.open(path, std::ios::binary | std::ios::trunc);
        m_push_remaining = static_cast<int64_t>(size->valuedouble);
        SendMessage(segment::kPushAnnouncement, SimpleAnswer(m_push_file.is_open()));
        if (m_push_remaining == 0) m_push_file.close();
    }

    void OnPushData(const char* data, int length) {
        if (!m_push_file.is_open() || length > m_push_remaining) {
            m_simulator.Record(m_simulator.m_protocol_errors,
                               "push data beyond the announced size");
            return;
        }
        m_push_file.write(data, length);
        m_push_remaining -= length;
        if (m_push_remaining == 0) m_push_file.close();
    }

    void OnPull(const std::string& text) {
        m_simulator.Record(m_simulator.m_pull_requests, text);
        Json announcement(cJSON_Parse(text.c_str()));
        const std::string name = StringMember(announcement.get(), "fileName");
        std::ifstream file(m_simulator.StoragePath(name), std::ios::binary);
        if (name.empty() || !file) return SendReport(segment::kPull, SimpleAnswer(false));
        const std::string content((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
        Json answer(cJSON_CreateObject());
        cJSON_AddBoolToObject(answer.get(), "success", true);
        cJSON_AddNumberToObject(answer.get(), "statusCode", 0);
        cJSON* data = cJSON_AddObjectToObject(answer.get(), "data");
        cJSON_AddStringToObject(data, "fileName", name.c_str());
        cJSON_AddNumberToObject(data, "fileSize", static_cast<double>(content.size()));
        SendReport(segment::kPull, Print(answer.get()));

        const size_t block = static_cast<size_t>(m_simulator.packet_size() - segment::kHeaderBytes);
        int reports = 0;
        for (size_t offset = 0; offset < content.size(); offset += block) {
            SendReport(segment::kPull, content.substr(offset, block));
            if (++reports % kAcknowledgementInterval == 0 && !AwaitAcknowledgement()) return;
        }
    }

    // Waits for the driver's acknowledgement of the last 10 reports and checks its text.
    bool AwaitAcknowledgement() {
        // The wake pipe ends the wait when the simulator stops.
        pollfd entries[2] = {{m_fd, POLLIN, 0}, {m_simulator.m_wake_fds[0], POLLIN, 0}};
        if (poll(entries, 2, kAcknowledgementWaitMs) <= 0 || entries[1].revents != 0) {
            m_simulator.Record(m_simulator.m_protocol_errors, "no pull acknowledgement");
            return false;
        }
        std::vector<unsigned char> packet(m_simulator.packet_size() + 1);
        const ssize_t count = recv(m_fd, packet.data(), packet.size(), 0);
        if (count < segment::kHeaderBytes || packet[0] != segment::kPullAcknowledgement) {
            m_simulator.Record(m_simulator.m_protocol_errors, "expected a pull acknowledgement");
            return false;
        }
        packet.resize(static_cast<size_t>(count));
        HandlePacket(packet);
        const int length = std::min<int>(segment::DeclaredLength(packet.data()),
                                         static_cast<int>(count) - segment::kHeaderBytes);
        const std::string text(reinterpret_cast<const char*>(packet.data()) + 3, length);
        for (const std::string& valid : kAcknowledgementTexts) {
            if (text == valid) return true;
        }
        m_simulator.Record(m_simulator.m_protocol_errors, "wrong pull acknowledgement");
        return false;
    }

    void OnCommand(int kind, std::string text) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        m_simulator.Record(m_simulator.m_commands, text);
        Json command(cJSON_Parse(text.c_str()));
        const std::string name = StringMember(command.get(), "command");
        if (kind == segment::kCancel && name == "Cancel") {
            if (m_pending) SendMessage(m_pending->kind, CancelledAnswer(m_pending->answer));
            m_pending.reset();
            SendMessage(segment::kCancel, SimpleAnswer(true));
            return m_streams.OnCancel();
        }
        const CommandScript script = m_simulator.ScriptFor(name).value_or(CommandScript());
        const std::string answer =
            Answer(name, cJSON_GetObjectItemCaseSensitive(command.get(), "param"), script);
        switch (script.fault) {
            case Fault::kDropConnection: m_dropped = true; return;
            case Fault::kShortSegment: return SendShortSegment(kind, answer);
            case Fault::kNeverAnswer: m_pending = Pending{kind, answer, std::nullopt}; return;
            case Fault::kStall: m_stalled = true; return;
            case Fault::kNone: break;
        }
        if (script.delay_ms > 0) {
            m_pending =
                Pending{kind, answer, Clock::now() + std::chrono::milliseconds(script.delay_ms)};
            return;
        }
        SendMessage(kind, answer);
    }

    std::string Answer(const std::string& name, const cJSON* param, const CommandScript& script) {
        if (script.answer) return *script.answer;
        const Behaviour behaviour = m_simulator.BehaviourFor(name);
        Json answer(cJSON_CreateObject());
        Json data(cJSON_CreateObject());
        for (const auto& [member, value] : script.data_members) {
            cJSON_AddNumberToObject(data.get(), member.c_str(), value);
        }
        const bool success = behaviour && behaviour(param, data.get()) && !script.fail;
        cJSON_AddBoolToObject(answer.get(), "success", success);
        cJSON_AddNumberToObject(answer.get(), "statusCode", script.status_code.value_or(0));
        if (success) cJSON_AddItemToObject(answer.get(), "data", data.release());
        return Print(answer.get());
    }

    // A message as consecutive segments of one kind, each in a padded report.
    void SendMessage(int kind, const std::string& text) {
        const size_t block = static_cast<size_t>(m_simulator.packet_size() - segment::kHeaderBytes);
        for (size_t offset = 0; offset < text.size(); offset += block) {
            SendReport(kind, text.substr(offset, block));
        }
    }

    void SendReport(int kind, const std::string& data) {
        std::vector<unsigned char> report(segment::kHeaderBytes + data.size());
        segment::WriteHeader(report.data(), kind, static_cast<int>(data.size()));
        std::memcpy(report.data() + segment::kHeaderBytes, data.data(), data.size());
        SendPacket(report, true);
    }

    // The first segment of the answer, declaring its full length but carrying half of it.
    void SendShortSegment(int kind, const std::string& answer) {
        const size_t declared =
            std::min(answer.size(), size_t(m_simulator.packet_size() - segment::kHeaderBytes));
        std::vector<unsigned char> report(segment::kHeaderBytes + declared / 2);
        segment::WriteHeader(report.data(), kind, static_cast<int>(declared));
        std::memcpy(report.data() + segment::kHeaderBytes, answer.data(), declared / 2);
        SendPacket(report, false);
    }

    void SendPacket(std::vector<unsigned char> packet, bool pad) {
        if (pad) packet.resize(static_cast<size_t>(m_simulator.packet_size()), 0);
        SendPacket(packet);
    }

    void SendPacket(const std::vector<unsigned char>& packet) {
        if (send(m_fd, packet.data(), packet.size(), MSG_NOSIGNAL) < 0) m_dropped = true;
    }

    TerminalSimulator& m_simulator;
    const int m_fd;
    bool m_dropped = false;
    bool m_stalled = false;
    std::map<int, Reassembly> m_messages;
    std::ofstream m_push_file;
    int64_t m_push_remaining = 0;
    std::optional<Pending> m_pending;
    Streams m_streams;
};

TerminalSimulator::TerminalSimulator(Options options) : m_options(std::move(options)) {}

TerminalSimulator::~TerminalSimulator() { Stop(); }

bool TerminalSimulator::Start() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_options.socket_path.size() >= sizeof(address.sun_path)) return false;
    std::strcpy(address.sun_path, m_options.socket_path.c_str());
    unlink(address.sun_path);
    m_listen_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_listen_fd < 0) return false;
    if (bind(m_listen_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listen_fd, 4) != 0 || pipe2(m_wake_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(m_listen_fd);
        m_listen_fd = -1;
        return false;
    }
    std::filesystem::create_directories(m_options.storage_dir);
    m_running = true;
    m_thread = std::thread(&TerminalSimulator::Serve, this);
    return true;
}

void TerminalSimulator::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_running) return;
        m_running = false;
    }
    const char wake = 1;
    (void)!write(m_wake_fds[1], &wake, 1);
    m_thread.join();
    close(m_listen_fd);
    close(m_wake_fds[0]);
    close(m_wake_fds[1]);
    unlink(m_options.socket_path.c_str());
}

void TerminalSimulator::Serve() {
    std::unique_ptr<Connection> connection;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_running) break;
        }
        // A stalled connection is not polled (a negative descriptor is skipped): only Stop ends it.
        const int served_fd = !connection             ? m_listen_fd
                              : connection->stalled() ? -1
                                                      : connection->fd();
        pollfd entries[2] = {{m_wake_fds[0], POLLIN, 0}, {served_fd, POLLIN, 0}};
        const int timeout = connection ? connection->MillisecondsToNextEvent() : -1;
        if (poll(entries, 2, timeout) < 0) continue;
        if (entries[0].revents != 0) {
            char drained[16];
            while (read(m_wake_fds[0], drained, sizeof drained) > 0) {
            }
        }
        if (!connection && (entries[1].revents & POLLIN)) {
            const int fd = accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connection = std::make_unique<Connection>(*this, fd);
            std::lock_guard<std::mutex> guard(m_lock);
            m_connection_fd = fd;
            m_arrived.notify_all();
            continue;
        }
        bool gone = connection && entries[1].revents != 0 && !connection->ReceivePacket();
        if (connection && !gone) connection->SendDue();
        if (connection && (gone || connection->dropped())) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_connection_fd = -1;
            connection.reset();
        }
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_connection_fd = -1;
}

void TerminalSimulator::ScriptStreams(const StreamScript& script) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stream_script = script;
}

StreamCounters TerminalSimulator::StreamCounts() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stream_counters;
}

void TerminalSimulator::AddBehaviour(const std::string& command, Behaviour behaviour) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_behaviours[command] = std::move(behaviour);
}

void TerminalSimulator::ClearScripts() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_scripts.clear();
    m_stream_script = StreamScript();
}

void TerminalSimulator::Script(const std::string& command, const CommandScript& script) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_scripts[command] = script;
}

std::optional<CommandScript> TerminalSimulator::ScriptFor(const std::string& command) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_scripts.find(command);
    if (found == m_scripts.end()) return std::nullopt;
    return found->second;
}

Behaviour TerminalSimulator::BehaviourFor(const std::string& command) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_behaviours.find(command);
    return found == m_behaviours.end() ? Behaviour() : found->second;
}

bool TerminalSimulator::SendReport(const std::vector<unsigned char>& payload, bool pad) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_connection_fd < 0) return false;
    std::vector<unsigned char> packet(payload);
    if (pad) packet.resize(std::max(packet.size(), size_t(m_options.packet_size)), 0);
    return send(m_connection_fd, packet.data(), packet.size(), MSG_NOSIGNAL) >= 0;
}

void TerminalSimulator::Record(std::vector<std::string>& list, const std::string& text) {
    // Most protocol errors a simulator keeps: a driver that errs in a loop must not fill memory.
    constexpr size_t kMostProtocolErrors = 1000;
    std::lock_guard<std::mutex> guard(m_lock);
    if (&list == &m_commands) ++m_command_count;
    if (&list == &m_protocol_errors) {
        if (list.size() < kMostProtocolErrors) list.push_back(text);
    } else if (m_options.record_history) {
        list.push_back(text);
    }
    m_arrived.notify_all();
}

std::vector<std::string> TerminalSimulator::Commands() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands;
}

std::vector<std::string> TerminalSimulator::Acknowledgements() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_acknowledgements;
}

std::vector<std::string> TerminalSimulator::PullRequests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pull_requests;
}

std::vector<std::vector<unsigned char>> TerminalSimulator::Reports() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reports;
}

std::vector<std::string> TerminalSimulator::ProtocolErrors() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_protocol_errors;
}

bool TerminalSimulator::WaitForCommands(size_t count, int timeout_ms) const {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_command_count >= count; });
}

bool TerminalSimulator::WaitForConnection(int timeout_ms) const {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_connection_fd >= 0; });
}

bool TerminalSimulator::WaitForReports(size_t count, int timeout_ms) const {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                              [&] { return m_reports.size() >= count; });
}

std::string TerminalSimulator::StoragePath(const std::string& terminal_path) const {
    for (const char* root : {"/mnt/sdcard/", "/sdcard/"}) {
        const size_t length = std::strlen(root);
        if (terminal_path.compare(0, length, root) != 0) continue;
        const std::string rest = terminal_path.substr(length);
        // Nothing outside the storage folder: no parent steps.
        for (const auto& part : std::filesystem::path(rest)) {
            if (part == "..") return "";
        }
        return m_options.storage_dir + "/" + rest;
    }
    return "";
}

}  // namespace countermate::sim
