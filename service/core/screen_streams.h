// The two screen streams: the mirror of the terminal's signing screen (pictures to the page that
// started it) and the push of the workstation's screen to the terminal. Each runs on one thread
// of its own (m_signStreamTh, m_computerStreamTh) beside the request worker, steered by its stop
// flag (m_isStopScreenStream, m_isStopComputerScreenStream: set while the stream is stopped).
//
// Thread-safety: every function may be called from any thread. One lock per stream serialises
// its start and stop, so a stream thread is always joined before the next one starts, and a stop
// returns only once the thread has ended.
#pragma once

#include <cstdint>

namespace countermate {

// Starts the signing mirror, sending its frames to `connection` only (a page that did not start
// it never gets them). The flag is cleared and the status set to 1 (running) before the thread
// starts, so a stop or a status request right after the start's reply sees the mirror running.
// An earlier mirror thread is stopped and joined first.
void start_sign_mirror(uint64_t connection);

// Stops the mirror: sets the flag, asks the driver to end the read in progress (SetForcedReturn)
// and joins the thread. False, and nothing asked of the driver, when the mirror was not running
// (never started, stopped before, or ended by itself); a thread that ended by itself is joined.
bool stop_sign_mirror();

// stop_sign_mirror when the running mirror sends to `connection`: its page has gone.
void stop_sign_mirror_of(uint64_t connection);

// Starts the workstation-screen push. An earlier push thread is stopped and joined first.
void start_computer_screen_push();

// Stops the push: sets the flag and joins the thread, which ends after the picture in progress.
// False when the push was not running.
bool stop_computer_screen_push();

// True while a screen stream runs. Its thread reads or pushes through the terminal port, so the
// requests served meanwhile leave the port open (closing it would end the stream); the push's
// stop closes it.
bool screen_stream_uses_port();

// Stops both streams; called when the service stops, so no stream thread outlives it.
void stop_screen_streams();

}  // namespace countermate
