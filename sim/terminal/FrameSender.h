// One frame of a raw stream sent as the terminal sends it (StreamFraming.h): a frame start with
// the total and the first bytes, full frame parts, and a frame end with the rest, which always
// fits one report. It sends on only when the driver's acknowledgements allow: nothing after the
// frame start until its acknowledgement, nothing after every 6th part until the part
// acknowledgement, and the frame is finished when its end is acknowledged. So at most 6 reports
// of a frame are ever on their way.
//
// Not thread-safe: one serving thread sends one frame at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace countermate::sim {

class FrameSender {
public:
    // Sends one report of exactly the packet size.
    using SendReport = std::function<void(const std::vector<unsigned char>& report)>;

    enum class Outcome {
        kWaiting,     // the frame goes on, or no frame is in progress
        kFinished,    // the frame's end was acknowledged
        kUnexpected,  // not the acknowledgement the frame waits for: ignored
    };

    FrameSender(int packet_size, SendReport send);

    // Abandons the frame in progress, if any, and sends the start of `frame`.
    void Begin(std::shared_ptr<const std::string> frame);
    // Takes the driver's acknowledgement of `function` (frame start, part or end).
    Outcome OnAcknowledgement(unsigned char function);
    void Abandon();
    bool InProgress() const { return m_frame != nullptr; }
    size_t FrameBytes() const { return m_frame ? m_frame->size() : 0; }

private:
    // Sends parts until an acknowledgement is due, or the end.
    void SendOn();
    void SendReportOf(unsigned char function, size_t header_bytes, size_t count);

    const size_t m_packet_size;
    const SendReport m_send;
    std::vector<unsigned char> m_report;
    std::shared_ptr<const std::string> m_frame;
    size_t m_sent = 0;            // frame bytes sent
    int m_parts = 0;              // parts sent since the frame start
    unsigned char m_awaited = 0;  // the function whose acknowledgement is awaited
};

}  // namespace countermate::sim
