// Arbitrary raw stream reports put together into frames, as the video and signing-screen readers
// do: frame starts with any declared total, parts and ends in any order, signing ends.
//
// Input: a byte choosing the stream, how parts before the first frame start count, and the frame
// buffer's capacity; then reports, each a 2-byte big-endian count and its bytes (cut to the
// packet size). Nothing may be read or written outside the frame buffer or a report, a frame
// handed out is the one its start declared and fits the buffer, and every acknowledgement owed
// is one the terminal understands.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "FrameAssembly.h"
#include "StreamFraming.h"

using namespace countermate;
using namespace countermate::terminal;

namespace {

constexpr int kPacketSize = 512;

void check(bool condition) {
    if (!condition) std::abort();
}

// The latest frame start fed, as the assembly sees it (cut to the packet size).
struct LastStart {
    uint32_t total = 0;
    std::vector<unsigned char> first_bytes;

    void Note(const std::vector<unsigned char>& report) {
        const size_t count = std::min(report.size(), size_t(kPacketSize));
        if (count < size_t(stream::kFrameStartHeaderBytes) || report[0] != stream::kMarker ||
            report[1] != stream::kFrameStart) {
            return;
        }
        total = stream::DeclaredTotal(report.data());
        const size_t carried = std::min(count - stream::kFrameStartHeaderBytes, size_t(total));
        first_bytes.assign(report.begin() + stream::kFrameStartHeaderBytes,
                           report.begin() + stream::kFrameStartHeaderBytes + long(carried));
    }
};

void CheckStep(const AssemblyStep& step, const FrameAssembly& assembly,
               const std::vector<unsigned char>& frame, StreamKind kind, const LastStart& start) {
    if (step.acknowledgement != Acknowledgement::kNone) {
        unsigned char bytes[stream::kControlBytes];
        AcknowledgementBytes(step.acknowledgement, bytes);
        check(bytes[0] == stream::kMarker && bytes[2] == 0);
        check(bytes[1] == stream::kFrameStart || bytes[1] == stream::kFramePart ||
              bytes[1] == stream::kFrameEnd);
    }
    if (step.outcome == AssemblyOutcome::kFrameReady) {
        // A frame handed out is the one the latest start declared, and begins with its bytes.
        check(assembly.FrameLength() >= 1 && assembly.FrameLength() <= frame.size());
        check(assembly.FrameLength() == start.total);
        check(std::equal(start.first_bytes.begin(), start.first_bytes.end(), frame.begin()));
    }
    if (step.outcome == AssemblyOutcome::kSigningEnded) {
        check(kind == StreamKind::kSigningScreen);
        const int result = SigningEndResult(step.signing_status);
        check(result == 1 || result == -9 || result == -2 || result == -20);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const StreamKind kind = (data[0] & 1) != 0 ? StreamKind::kSigningScreen : StreamKind::kVideo;
    const EarlyParts early = (data[0] & 2) != 0 ? EarlyParts::kIgnored : EarlyParts::kCounted;
    const size_t capacity = size_t(data[0] >> 2) * 64 + 1;  // 1 to 4033 bytes
    std::vector<unsigned char> frame(capacity);
    FrameAssembly assembly(frame.data(), frame.size(), kPacketSize, kind, early);

    LastStart start;
    size_t offset = 1;
    while (size - offset >= 2) {
        size_t count = size_t(data[offset]) << 8 | data[offset + 1];
        offset += 2;
        if (count > size - offset) count = size - offset;
        // Each report in a buffer of its own size, so that a read past it shows.
        const std::vector<unsigned char> report(data + offset, data + offset + count);
        offset += count;
        start.Note(report);
        CheckStep(assembly.Feed(report.data(), int(report.size())), assembly, frame, kind, start);
    }
    return 0;
}
