// Whether a stream holds the terminal's port: the signing-screen mirror and the workstation-screen
// push, and the preview when it shows the terminal's own camera.
#pragma once

namespace countermate {

// True while such a stream runs. Requests served beside it, and the status probe, leave the port
// open: closing it under the stream would end the stream.
bool stream_uses_terminal_port();

}  // namespace countermate
