#include "FrameAssembly.h"

#include <algorithm>
#include <cstring>

#include "ResultCodes.h"
#include "StreamFraming.h"

namespace countermate::terminal {

namespace {

constexpr size_t kClearedFrameBytes = 8;

unsigned char FunctionOf(Acknowledgement acknowledgement) {
    switch (acknowledgement) {
        case Acknowledgement::kFrameStart: return stream::kFrameStart;
        case Acknowledgement::kFramePart: return stream::kFramePart;
        case Acknowledgement::kFrameEnd: return stream::kFrameEnd;
        case Acknowledgement::kNone: break;
    }
    return 0;
}

AssemblyStep Acknowledge(Acknowledgement acknowledgement,
                         AssemblyOutcome outcome = AssemblyOutcome::kReading) {
    AssemblyStep step;
    step.outcome = outcome;
    step.acknowledgement = acknowledgement;
    return step;
}

}  // namespace

void AcknowledgementBytes(Acknowledgement acknowledgement, unsigned char* bytes) {
    bytes[0] = stream::kMarker;
    bytes[1] = FunctionOf(acknowledgement);
    bytes[2] = 0;
}

int SigningEndResult(int status) {
    switch (status) {
        case stream::kSigned: return 1;
        case stream::kSigningCancelled: return kCancelled;
        case stream::kSigningTimedOut: return kTimedOut;
        default: return kUnexpectedPacket;
    }
}

FrameAssembly::FrameAssembly(unsigned char* frame, size_t capacity, int packet_size,
                             StreamKind kind, EarlyParts early_parts)
    : m_frame(frame),
      m_capacity(capacity),
      m_packet_size(packet_size),
      m_kind(kind),
      m_early_parts(early_parts) {}

AssemblyStep FrameAssembly::Feed(const unsigned char* report, int count) {
    count = std::min(count, m_packet_size);
    if (count < stream::kFrameReportHeaderBytes || report[0] != stream::kMarker) return {};
    switch (report[1]) {
        case stream::kFrameStart: return OnFrameStart(report, count);
        case stream::kFramePart: return OnFramePart(report, count);
        case stream::kFrameEnd: return OnFrameEnd(report, count);
        case stream::kSigningEnd: {
            if (m_kind != StreamKind::kSigningScreen) return {};
            AssemblyStep step;
            step.outcome = AssemblyOutcome::kSigningEnded;
            // A report too short to hold a status has none of the known ones.
            step.signing_status = count > 2 ? report[2] : -1;
            return step;
        }
    }
    return {};
}

AssemblyStep FrameAssembly::OnFrameStart(const unsigned char* report, int count) {
    if (count < stream::kFrameStartHeaderBytes) return {};  // no total to read
    m_started = true;
    m_parts = 0;
    m_total = stream::DeclaredTotal(report);
    m_storing = m_total <= m_capacity;
    const size_t carried = static_cast<size_t>(count - stream::kFrameStartHeaderBytes);
    // A frame shorter than the report's room ends inside it; the rest is the report's padding.
    m_received = std::min<size_t>(carried, m_total);
    if (m_storing) {
        std::memset(m_frame, 0, std::min(kClearedFrameBytes, m_capacity));
        std::memcpy(m_frame, report + stream::kFrameStartHeaderBytes, m_received);
    }
    return Acknowledge(Acknowledgement::kFrameStart);
}

AssemblyStep FrameAssembly::OnFramePart(const unsigned char* report, int count) {
    if (!m_started && m_early_parts == EarlyParts::kIgnored) return {};
    ++m_parts;
    const bool acknowledge = m_parts % stream::kPartsPerAcknowledgement == 0;
    if (!InProgress()) {
        if (!acknowledge) return {};
        m_parts = 0;
        return Acknowledge(Acknowledgement::kFramePart);
    }
    const size_t carried = static_cast<size_t>(count - stream::kFrameReportHeaderBytes);
    if (m_received + carried > m_total) {
        Drop();
        return {};
    }
    if (m_storing) {
        std::memcpy(m_frame + m_received, report + stream::kFrameReportHeaderBytes, carried);
    }
    m_received += carried;
    if (!acknowledge) return {};
    m_parts = 0;
    return Acknowledge(Acknowledgement::kFramePart);
}

AssemblyStep FrameAssembly::OnFrameEnd(const unsigned char* report, int count) {
    if (!InProgress()) return {};
    const size_t rest = m_total - m_received;
    if (rest > static_cast<size_t>(count - stream::kFrameReportHeaderBytes)) {
        Drop();
        return {};
    }
    const bool stored = m_storing;
    if (stored) {
        std::memcpy(m_frame + m_received, report + stream::kFrameReportHeaderBytes, rest);
        m_frame_length = m_total;
    }
    Drop();
    return Acknowledge(Acknowledgement::kFrameEnd,
                       stored ? AssemblyOutcome::kFrameReady : AssemblyOutcome::kReading);
}

}  // namespace countermate::terminal
