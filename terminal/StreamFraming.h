// Raw stream reports: the terminal's camera video and signing screen, and the byte-level control
// messages that steer them, on plain HID reports (no segment header).
//
// Every stream report and control message begins with the marker 0x06 and a function byte.
// Control messages from the workstation are 3 bytes: marker, function, argument. From the
// terminal: a frame start (total length, 32-bit big-endian, then the first frame bytes), frame
// parts, a frame end with the remaining bytes, and the signing end with its status. The terminal
// flow-controls itself on the workstation's acknowledgements: one per frame start, one per 6
// frame parts, one per frame end; each acknowledgement carries the function of what it answers.
//
// Both ends of the link (the driver and the terminal simulator) use this one layout.
#pragma once

#include <cstdint>

namespace countermate::stream {

constexpr unsigned char kMarker = 0x06;
constexpr int kControlBytes = 3;

enum Function : unsigned char {
    kStart = 0x00,       // argument: camera mode 0 or 1, or kSigningScreen
    kFrameStart = 0x01,  // from the terminal; acknowledged with the same function
    kFramePart = 0x02,
    kFrameEnd = 0x03,
    kPause = 0x04,  // answered by a report beginning marker, kPause
    kKeep = 0x05,
    kStop = 0x0F,  // from the workstation: stop; from the terminal: the signing end
};

constexpr unsigned char kSigningScreen = 0x10;
constexpr unsigned char kSigningEnd = kStop;

// Signing-end statuses.
enum SigningStatus : unsigned char { kSigned = 0, kSigningCancelled = 1, kSigningTimedOut = 2 };

// A frame start: marker, function, total; its frame bytes follow.
constexpr int kFrameStartHeaderBytes = 6;
// A frame part or end: marker, function; its frame bytes follow.
constexpr int kFrameReportHeaderBytes = 2;
constexpr int kPartsPerAcknowledgement = 6;

inline uint32_t DeclaredTotal(const unsigned char* frame_start) {
    return static_cast<uint32_t>(frame_start[2]) << 24 |
           static_cast<uint32_t>(frame_start[3]) << 16 |
           static_cast<uint32_t>(frame_start[4]) << 8 | static_cast<uint32_t>(frame_start[5]);
}

inline void WriteTotal(unsigned char* frame_start, uint32_t total) {
    frame_start[2] = static_cast<unsigned char>(total >> 24);
    frame_start[3] = static_cast<unsigned char>(total >> 16);
    frame_start[4] = static_cast<unsigned char>(total >> 8);
    frame_start[5] = static_cast<unsigned char>(total);
}

// Whether `report` of `count` bytes is a frame report (start, part or end) of a stream.
inline bool IsFrameReport(const unsigned char* report, int count) {
    return count >= 2 && report[0] == kMarker &&
           (report[1] == kFrameStart || report[1] == kFramePart || report[1] == kFrameEnd);
}

}  // namespace countermate::stream
