#include "ReaderSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CommandFrame.h"
#include "WriteAll.h"

namespace countermate::sim {
namespace {

namespace frame = cardgate::frame;

constexpr uint8_t kSuccess = 0x90;
constexpr uint8_t kCardFound = 0x9F;

void PutLength(std::vector<uint8_t>& out, size_t length) {
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
}

using countermate::WriteAll;

// Makes `link` point at `target`, replacing only a symbolic link that is already there.
bool MakeLink(const std::string& link, const std::string& target) {
    struct stat status {};
    if (lstat(link.c_str(), &status) == 0) {
        if (!S_ISLNK(status.st_mode)) {
            std::fprintf(stderr, "reader-sim: %s exists and is not a symbolic link\n",
                         link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "reader-sim: cannot link %s: %s\n", link.c_str(), strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

ReaderSimulator::ReaderSimulator(Options options)
    : m_options(std::move(options)),
      m_card(MakeCard(m_options.card)),
      m_card_present(m_options.card_present) {}

ReaderSimulator::~ReaderSimulator() { Stop(); }

bool ReaderSimulator::Start() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = "";
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        std::fprintf(stderr, "reader-sim: no pseudo-terminal: %s\n", strerror(errno));
        Stop();
        return false;
    }
    m_device_path = name;
    m_terminal = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (m_terminal < 0 || tcgetattr(m_terminal, &settings) != 0) {
        std::fprintf(stderr, "reader-sim: cannot open %s: %s\n", name, strerror(errno));
        Stop();
        return false;
    }
    cfmakeraw(&settings);
    tcsetattr(m_terminal, TCSANOW, &settings);
    if (pipe2(m_wake, O_CLOEXEC) != 0 || !MakeLink(m_options.link_path, m_device_path)) {
        Stop();
        return false;
    }
    m_thread = std::thread(&ReaderSimulator::Serve, this);
    return true;
}

void ReaderSimulator::Stop() {
    if (m_thread.joinable()) {
        const char stop = 1;
        (void)!write(m_wake[1], &stop, 1);
        m_thread.join();
        unlink(m_options.link_path.c_str());
    }
    for (int* fd : {&m_master, &m_terminal, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void ReaderSimulator::SetCardPresent(bool present) { m_card_present = present; }

std::vector<std::vector<uint8_t>> ReaderSimulator::Commands() const {
    std::lock_guard<std::mutex> hold(m_commands_lock);
    return m_commands;
}

size_t ReaderSimulator::BytesAnswered() const { return m_bytes_answered; }

void ReaderSimulator::Serve() {
    std::vector<uint8_t> pending;
    uint8_t buffer[4096];
    for (;;) {
        pollfd watched[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents) return;
        if (!(watched[0].revents & POLLIN)) continue;
        const ssize_t got = read(m_master, buffer, sizeof buffer);
        if (got <= 0) continue;
        pending.insert(pending.end(), buffer, buffer + got);
        TakeFrames(pending);
    }
}

// Answers every whole command frame in `pending` and drops bytes that cannot begin one.
void ReaderSimulator::TakeFrames(std::vector<uint8_t>& pending) {
    for (;;) {
        size_t start = 0;
        while (start + 5 <= pending.size() &&
               std::memcmp(pending.data() + start, frame::kPreamble, 5) != 0)
            ++start;
        pending.erase(pending.begin(), pending.begin() + long(start));
        if (pending.size() < size_t(frame::kBodyOffset)) return;
        const size_t declared = size_t(pending[5]) << 8 | pending[6];
        const size_t total = frame::kBodyOffset + declared;
        if (declared == 0) {
            pending.erase(pending.begin(), pending.begin() + 5);
            continue;
        }
        if (pending.size() < total) return;
        const std::vector<uint8_t> payload(pending.begin() + frame::kBodyOffset,
                                           pending.begin() + long(total) - 1);
        const bool valid = frame::XorOf(pending.data() + frame::kLengthOffset,
                                        total - frame::kLengthOffset - 1) == pending[total - 1];
        pending.erase(pending.begin(), pending.begin() + long(total));
        {
            std::lock_guard<std::mutex> hold(m_commands_lock);
            m_commands.push_back(payload);
        }
        if (m_options.fault == ReaderFault::kSilent) continue;
        Send(valid ? Answer(payload) : frame::BuildResponse(kBadCheckStatus, nullptr, 0));
    }
}

std::vector<uint8_t> ReaderSimulator::Answer(const std::vector<uint8_t>& payload) const {
    const int command = payload.size() >= 2 ? payload[0] << 8 | payload[1] : -1;
    const bool present = m_card_present;
    std::vector<uint8_t> data;
    switch (command) {
        case 0x10FF:  // reset the security module
        case 0x11FF:  // its status
        case 0x61FF:  // largest radio frame
            return frame::BuildResponse(kSuccess, nullptr, 0);
        case 0x12FF:  // security module identity
            for (int i = 0; i < 16; ++i) data.push_back(uint8_t(0x10 + i));
            return frame::BuildResponse(kSuccess, data.data(), data.size());
        case 0x2001:  // find a card
            data.assign(4, 0);
            return present ? frame::BuildResponse(kCardFound, data.data(), data.size())
                           : frame::BuildResponse(kNoCardStatus, nullptr, 0);
        case 0x2002:  // select it
            data.assign(8, 0);
            return present ? frame::BuildResponse(kSuccess, data.data(), data.size())
                           : frame::BuildResponse(kSelectFailedStatus, nullptr, 0);
        case 0x3001:  // text and photo
        case 0x3010:  // text, photo and fingerprints
            if (!present) return frame::BuildResponse(kReadFailedStatus, nullptr, 0);
            PutLength(data, m_card.text.size());
            PutLength(data, m_card.photo.size());
            if (command == 0x3010) PutLength(data, m_card.fingerprint.size());
            data.insert(data.end(), m_card.text.begin(), m_card.text.end());
            data.insert(data.end(), m_card.photo.begin(), m_card.photo.end());
            if (command == 0x3010)
                data.insert(data.end(), m_card.fingerprint.begin(), m_card.fingerprint.end());
            return frame::BuildResponse(kSuccess, data.data(), data.size());
        case 0x3003:  // newest address
            if (!present) return frame::BuildResponse(kReadFailedStatus, nullptr, 0);
            data.assign(70, 0);
            PutTextField(data.data(), 0, 70, "北京市西城区");
            return frame::BuildResponse(kSuccess, data.data(), data.size());
        default: return frame::BuildResponse(kUnknownCommandStatus, nullptr, 0);
    }
}

void ReaderSimulator::Send(std::vector<uint8_t> response) {
    if (m_options.fault == ReaderFault::kChecksum) response.back() ^= 0xFF;
    if (m_options.fault == ReaderFault::kPreamble) response[0] = 0xAB;
    if (WriteAll(m_master, response.data(), response.size())) m_bytes_answered += response.size();
}

}  // namespace countermate::sim
