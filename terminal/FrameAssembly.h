// Frames of a raw stream (StreamFraming.h) put together from the terminal's reports, over a
// caller's buffer and with no I/O: each report fed in says which acknowledgement the terminal is
// owed, and whether a frame is complete or the signing screen has ended.
//
// What is kept and what is dropped:
//  - reports without the marker, and functions a stream does not carry, are ignored;
//  - a frame start begins a frame of its declared total (a start with total 0 begins none);
//    bytes of the start report past the total are padding;
//  - a frame whose total exceeds the buffer's capacity is read to its end and acknowledged as
//    usual, so the terminal goes on, but never stored or handed out;
//  - a part that would carry the frame past its total drops the frame; so does an end whose
//    remaining bytes are more than its report carries;
//  - parts with no frame in progress are counted (every 6th acknowledged, keeping the terminal's
//    flow going) or, for readers that ignore parts before their first frame start, skipped
//    until that start.
//
// Not thread-safe: one reader feeds one assembly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace countermate::terminal {

enum class StreamKind {
    kVideo,          // frame reports only
    kSigningScreen,  // frame reports and the signing end
};

enum class EarlyParts {
    kCounted,  // parts before the first frame start count towards acknowledgements
    kIgnored,  // parts before the first frame start are skipped without counting
};

enum class Acknowledgement { kNone, kFrameStart, kFramePart, kFrameEnd };

enum class AssemblyOutcome {
    kReading,       // read on
    kFrameReady,    // a frame is complete: FrameLength() bytes at the buffer's start
    kSigningEnded,  // the signing screen ended with `signing_status`
};

struct AssemblyStep {
    AssemblyOutcome outcome = AssemblyOutcome::kReading;
    Acknowledgement acknowledgement = Acknowledgement::kNone;
    int signing_status = 0;
};

// The 3 bytes of `acknowledgement` (not kNone) as the driver writes them.
void AcknowledgementBytes(Acknowledgement acknowledgement, unsigned char* bytes);

// The reader's result for a signing-end status: 1 signed, -9 cancelled, -2 timed out, -20 for
// any other status.
int SigningEndResult(int status);

class FrameAssembly {
public:
    // Frames are put together at the start of `frame`, which holds `capacity` bytes; reports
    // are at most `packet_size` bytes.
    FrameAssembly(unsigned char* frame, size_t capacity, int packet_size, StreamKind kind,
                  EarlyParts early_parts);

    // Takes one report of `count` bytes.
    AssemblyStep Feed(const unsigned char* report, int count);

    // The length of the frame that Feed last reported ready.
    size_t FrameLength() const { return m_frame_length; }

private:
    AssemblyStep OnFrameStart(const unsigned char* report, int count);
    AssemblyStep OnFramePart(const unsigned char* report, int count);
    AssemblyStep OnFrameEnd(const unsigned char* report, int count);
    bool InProgress() const { return m_total != 0; }
    void Drop() { m_total = 0; }

    unsigned char* const m_frame;
    const size_t m_capacity;
    const int m_packet_size;
    const StreamKind m_kind;
    const EarlyParts m_early_parts;
    uint32_t m_total = 0;  // 0: no frame in progress
    size_t m_received = 0;
    bool m_storing = false;  // false while a frame larger than the buffer passes by
    bool m_started = false;  // a frame start has been seen
    int m_parts = 0;         // parts since the last part acknowledgement
    size_t m_frame_length = 0;
};

}  // namespace countermate::terminal
