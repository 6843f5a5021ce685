// The raw streams of one driver connection: the camera video and the signing screen.
//
// The driver's control messages start (camera or signing screen), pause, keep and stop a stream
// and are each answered by one report (marker, function, 0); its acknowledgements let frames go
// on (FrameSender.h). The camera sends frames of the camera scene (CameraScene.h), paced by the
// simulator's `frames_per_second`; a pause stops them and leaves the current scene in storage as
// the captured image, answered as the StreamScript says; keep resumes them with a new frame.
// The signing screen sends the StreamScript's number of frames of a signature being written, one
// every `signing_frame_interval_ms`, then the signing end with its status (a signed one leaves
// the signature in storage). "Cancel" on kind 3 ends a signing as cancelled, with the signing end
// of status 1 when the script asks for it; stop ends it with no signing end.
//
// Not thread-safe: it runs on the simulator's serving thread, which asks it how long it may wait
// (MillisecondsToNextFrame) and lets it send what is due (SendDueFrame).
#pragma once

#include <chrono>
#include <initializer_list>

#include "FrameSender.h"
#include "TerminalSimulator.h"

namespace countermate::sim {

// Milliseconds from now until `due`, rounded up (waking before it would only mean waiting
// again); 0 once it has passed.
inline int MillisecondsUntil(std::chrono::steady_clock::time_point due) {
    const auto left = due - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

class TerminalSimulator::Streams {
public:
    Streams(TerminalSimulator& simulator, FrameSender::SendReport send);

    // A message from the driver that begins with the stream marker, of `count` bytes.
    void OnControl(const unsigned char* message, size_t count);
    // "Cancel" arrived on kind 3.
    void OnCancel();
    // Milliseconds until a frame or the signing end is due (0: now); -1 while the stream waits
    // for the driver or none runs.
    int MillisecondsToNextFrame() const;
    void SendDueFrame();

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { kNone, kCamera, kSigningScreen };

    void Start(unsigned char argument);
    void Pause();
    void Keep();
    void Stop();
    void OnAcknowledgement(unsigned char function);
    void OnFrameFinished(size_t bytes);
    // Ends the signing screen with `status`, sending the signing end when `reported`.
    void EndSigning(int status, bool reported = true);
    void Answer(unsigned char function);
    void SendBytes(std::initializer_list<unsigned char> bytes);
    bool Waiting() const { return m_kind == Kind::kNone || m_paused || m_sender.InProgress(); }

    TerminalSimulator& m_simulator;
    const FrameSender::SendReport m_send;
    FrameSender m_sender;
    Kind m_kind = Kind::kNone;
    bool m_paused = false;
    bool m_pause_unanswered = false;  // a pause left silent, as scripted
    Clock::time_point m_next_frame;   // when the next frame is due (or the one in progress was)
    int m_scene_frame = 0;
    StreamScript m_signing;  // the script of the signing in progress, as at its start
    int m_signing_frames_sent = 0;
};

}  // namespace countermate::sim
