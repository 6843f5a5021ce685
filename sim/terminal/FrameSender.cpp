#include "FrameSender.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "StreamFraming.h"

namespace countermate::sim {

FrameSender::FrameSender(int packet_size, SendReport send)
    : m_packet_size(static_cast<size_t>(packet_size)),
      m_send(std::move(send)),
      m_report(m_packet_size) {}

void FrameSender::Begin(std::shared_ptr<const std::string> frame) {
    m_frame = std::move(frame);
    m_sent = 0;
    m_parts = 0;
    stream::WriteTotal(m_report.data(), static_cast<uint32_t>(m_frame->size()));
    const size_t first = std::min(m_frame->size(), m_packet_size - stream::kFrameStartHeaderBytes);
    SendReportOf(stream::kFrameStart, stream::kFrameStartHeaderBytes, first);
    m_awaited = stream::kFrameStart;
}

FrameSender::Outcome FrameSender::OnAcknowledgement(unsigned char function) {
    if (!InProgress() || function != m_awaited) return Outcome::kUnexpected;
    if (function == stream::kFrameEnd) {
        Abandon();
        return Outcome::kFinished;
    }
    SendOn();
    return Outcome::kWaiting;
}

void FrameSender::Abandon() {
    m_frame.reset();
    m_awaited = 0;
}

void FrameSender::SendOn() {
    const size_t room = m_packet_size - stream::kFrameReportHeaderBytes;
    for (;;) {
        const size_t rest = m_frame->size() - m_sent;
        if (rest <= room) {
            SendReportOf(stream::kFrameEnd, stream::kFrameReportHeaderBytes, rest);
            m_awaited = stream::kFrameEnd;
            return;
        }
        SendReportOf(stream::kFramePart, stream::kFrameReportHeaderBytes, room);
        if (++m_parts % stream::kPartsPerAcknowledgement == 0) {
            m_awaited = stream::kFramePart;
            return;
        }
    }
}

// Sends `count` frame bytes from m_sent on behind the marker and `function` (a frame start's
// total is already in place), zero-padded to the packet size.
void FrameSender::SendReportOf(unsigned char function, size_t header_bytes, size_t count) {
    m_report[0] = stream::kMarker;
    m_report[1] = function;
    std::memcpy(m_report.data() + header_bytes, m_frame->data() + m_sent, count);
    std::memset(m_report.data() + header_bytes + count, 0, m_packet_size - header_bytes - count);
    m_sent += count;
    m_send(m_report);
}

}  // namespace countermate::sim
