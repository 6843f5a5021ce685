#include "TerminalStreams.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CameraScene.h"
#include "SigningScreen.h"
#include "StreamFraming.h"
#include "VocabularyParts.h"

namespace countermate::sim {
namespace {

constexpr const char* kCapturedImage = "/mnt/sdcard/ZR/CounterMate/GPY/capturePic.jpg";
constexpr const char* kSignature = "voice_decl_signatrue.png";
// How far behind its rate a stream may fall and still catch up.
constexpr std::chrono::milliseconds kMostLateness{500};

}  // namespace

TerminalSimulator::Streams::Streams(TerminalSimulator& simulator, FrameSender::SendReport send)
    : m_simulator(simulator), m_send(send), m_sender(simulator.packet_size(), std::move(send)) {}

void TerminalSimulator::Streams::OnControl(const unsigned char* message, size_t count) {
    if (count < 2) return;
    const unsigned char argument = count > 2 ? message[2] : 0;
    switch (message[1]) {
        case stream::kStart: return Start(argument);
        case stream::kFrameStart:
        case stream::kFramePart:
        case stream::kFrameEnd: return OnAcknowledgement(message[1]);
        case stream::kPause: return Pause();
        case stream::kKeep: return Keep();
        case stream::kStop: return Stop();
        default:
            m_simulator.Record(m_simulator.m_protocol_errors,
                               "unknown stream message " + std::to_string(message[1]));
    }
}

void TerminalSimulator::Streams::OnCancel() {
    if (m_kind != Kind::kSigningScreen) return;
    EndSigning(stream::kSigningCancelled, m_signing.signing_end_on_cancel);
}

int TerminalSimulator::Streams::MillisecondsToNextFrame() const {
    return Waiting() ? -1 : MillisecondsUntil(m_next_frame);
}

void TerminalSimulator::Streams::SendDueFrame() {
    const Clock::time_point now = Clock::now();
    if (Waiting() || now < m_next_frame) return;
    if (m_kind == Kind::kSigningScreen && m_signing_frames_sent >= m_signing.signing_frames) {
        return EndSigning(m_signing.signing_status);
    }
    if (m_kind == Kind::kCamera) return m_sender.Begin(CameraSceneJpeg(m_scene_frame));
    const double drawn = static_cast<double>(m_signing_frames_sent + 1) / m_signing.signing_frames;
    m_sender.Begin(std::make_shared<const std::string>(SigningScreenPng(drawn)));
}

void TerminalSimulator::Streams::Start(unsigned char argument) {
    m_sender.Abandon();
    m_paused = false;
    m_pause_unanswered = false;
    Answer(stream::kStart);
    m_next_frame = Clock::now();
    if (argument != stream::kSigningScreen) {
        m_kind = Kind::kCamera;
        return;
    }
    m_kind = Kind::kSigningScreen;
    {
        std::lock_guard<std::mutex> guard(m_simulator.m_lock);
        m_signing = m_simulator.m_stream_script;
    }
    m_signing.signing_frames = std::max(1, m_signing.signing_frames);
    m_signing_frames_sent = 0;
}

void TerminalSimulator::Streams::Pause() {
    PauseAnswer answer;
    {
        std::lock_guard<std::mutex> guard(m_simulator.m_lock);
        ++m_simulator.m_stream_counters.pauses;
        answer = m_simulator.m_stream_script.pause_answer;
    }
    if (m_kind != Kind::kNone) m_paused = true;
    m_sender.Abandon();
    Storage(m_simulator).Write(kCapturedImage, *CameraSceneJpeg(m_scene_frame));
    if (answer == PauseAnswer::kSilentOnce && !m_pause_unanswered) {
        m_pause_unanswered = true;
        return;
    }
    m_pause_unanswered = false;
    if (answer == PauseAnswer::kUnrelatedFirst) {
        SendBytes({0x07, 0x01, 0x02});  // no stream report: it lacks the marker
    }
    Answer(stream::kPause);
}

void TerminalSimulator::Streams::Keep() {
    Answer(stream::kKeep);
    if (!m_paused) return;
    m_paused = false;
    m_next_frame = Clock::now();
}

void TerminalSimulator::Streams::Stop() {
    m_sender.Abandon();
    m_kind = Kind::kNone;
    m_paused = false;
    Answer(stream::kStop);
}

void TerminalSimulator::Streams::OnAcknowledgement(unsigned char function) {
    // Acknowledgements of a frame abandoned by a pause or a stop may still arrive.
    if (m_kind == Kind::kNone || m_paused) return;
    const size_t bytes = m_sender.FrameBytes();
    switch (m_sender.OnAcknowledgement(function)) {
        case FrameSender::Outcome::kWaiting: return;
        case FrameSender::Outcome::kFinished: return OnFrameFinished(bytes);
        case FrameSender::Outcome::kUnexpected:
            m_simulator.Record(m_simulator.m_protocol_errors,
                               "unexpected stream acknowledgement " + std::to_string(function));
    }
}

void TerminalSimulator::Streams::OnFrameFinished(size_t bytes) {
    {
        std::lock_guard<std::mutex> guard(m_simulator.m_lock);
        ++m_simulator.m_stream_counters.frames;
        m_simulator.m_stream_counters.frame_bytes += bytes;
        m_simulator.m_arrived.notify_all();
    }
    std::chrono::microseconds period{0};
    if (m_kind == Kind::kSigningScreen) {
        ++m_signing_frames_sent;
        period = std::chrono::milliseconds(std::max(0, m_signing.signing_frame_interval_ms));
    } else {
        m_scene_frame = (m_scene_frame + 1) % kCameraSceneFrames;
        const int fps = m_simulator.m_options.frames_per_second;
        if (fps > 0) period = std::chrono::microseconds(1000000 / fps);
    }
    // Due a period after the last one was due, so that the lateness of each wake-up does not
    // add up and a frame that went out late is made up for; a stream that fell far behind (a
    // driver that stopped reading for a while) starts afresh rather than rushing.
    const Clock::time_point now = Clock::now();
    m_next_frame += period;
    if (m_next_frame < now - kMostLateness) m_next_frame = now;
}

void TerminalSimulator::Streams::EndSigning(int status, bool reported) {
    m_sender.Abandon();
    m_kind = Kind::kNone;
    m_paused = false;
    // The signature is in storage before the driver can learn that it may fetch it.
    if (status == stream::kSigned) Storage(m_simulator).Write(TempPath(kSignature), SignaturePng());
    if (reported)
        SendBytes({stream::kMarker, stream::kSigningEnd, static_cast<unsigned char>(status)});
}

void TerminalSimulator::Streams::Answer(unsigned char function) {
    SendBytes({stream::kMarker, function, 0});
}

void TerminalSimulator::Streams::SendBytes(std::initializer_list<unsigned char> bytes) {
    std::vector<unsigned char> report(bytes);
    report.resize(static_cast<size_t>(m_simulator.packet_size()), 0);
    m_send(report);
}

}  // namespace countermate::sim
