// The card reader simulator: plays an identity-card reader on a pseudo-terminal, answering
// the reader's command frames (CommandFrame.h) with a synthetic card, so that libcardgate can
// be driven end to end over a serial line without hardware.
//
// It makes a symbolic link at the chosen path to the pseudo-terminal's device, reassembles
// command frames from whatever pieces the line delivers, and answers each one in a single
// write. It keeps a descriptor of the terminal side open itself, so the line stays up while
// readers open and close it. All public functions are thread-safe; the line is served on one
// thread of its own.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace countermate::sim {

enum class CardKind { kResident, kForeign, kHKMoTw };

enum class ReaderFault {
    kNone,
    kChecksum,  // every response carries a wrong check byte
    kPreamble,  // every response starts with a wrong first preamble byte
    kSilent,    // commands are read and never answered
};

// What a card holds: the 256-byte UCS-2 text block, the 1024-byte photo block (the test photo
// format of libwlt) and 1024 bytes of fingerprint data.
struct SyntheticCard {
    std::array<uint8_t, 256> text{};
    std::array<uint8_t, 1024> photo{};
    std::array<uint8_t, 1024> fingerprint{};
};

SyntheticCard MakeCard(CardKind kind);

// Writes `text` (UTF-8, characters of the Basic Multilingual Plane) as UCS-2 little-endian into
// block[offset, offset + length), padded with spaces and cut at the field's end.
void PutTextField(uint8_t* block, int offset, int length, const std::string& text);

// Status bytes (SW3) the simulator answers with besides 0x90 and 0x9F.
constexpr uint8_t kNoCardStatus = 0x80;
constexpr uint8_t kSelectFailedStatus = 0x81;
constexpr uint8_t kReadFailedStatus = 0x41;
constexpr uint8_t kBadCheckStatus = 0x10;
constexpr uint8_t kUnknownCommandStatus = 0x21;

class ReaderSimulator {
public:
    struct Options {
        std::string link_path;
        CardKind card = CardKind::kResident;
        bool card_present = true;
        ReaderFault fault = ReaderFault::kNone;
    };

    explicit ReaderSimulator(Options options);
    ~ReaderSimulator();  // stops, joins the serving thread and removes the link
    ReaderSimulator(const ReaderSimulator&) = delete;
    ReaderSimulator& operator=(const ReaderSimulator&) = delete;

    // Opens the pseudo-terminal, makes the link (replacing a symbolic link already there, never
    // any other file) and starts serving. False, with the reason on standard error, on failure.
    bool Start();
    void Stop();

    void SetCardPresent(bool present);
    // The command payloads received so far (command byte, parameter byte, data), in order.
    std::vector<std::vector<uint8_t>> Commands() const;
    // Bytes written back to the reader so far.
    size_t BytesAnswered() const;
    std::string DevicePath() const { return m_device_path; }

private:
    void Serve();
    void TakeFrames(std::vector<uint8_t>& pending);
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& payload) const;
    void Send(std::vector<uint8_t> response);

    Options m_options;
    SyntheticCard m_card;
    int m_master = -1;
    int m_terminal = -1;
    int m_wake[2] = {-1, -1};
    std::string m_device_path;
    std::atomic<bool> m_card_present;
    std::atomic<size_t> m_bytes_answered{0};
    mutable std::mutex m_commands_lock;  // guards m_commands
    std::vector<std::vector<uint8_t>> m_commands;
    std::thread m_thread;
};

}  // namespace countermate::sim
