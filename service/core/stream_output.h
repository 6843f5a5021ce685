// Where one run of a stream (the camera preview, the signing-screen mirror) sends its frames.
//
// A stream sends to the connection whose request started it, never to whichever page asked
// last: a page that did not start a stream never receives its frames. Frames are droppable:
// while the client has not yet taken the frame before, the next one is dropped rather than
// queued, so a page that stops reading costs the stream nothing and holds no growing output,
// and the other clients and the request worker never wait for it.
#pragma once

#include <cstdint>
#include <string>

namespace countermate {

// The connection of the request now running (0 when none runs).
uint64_t requesting_connection();

class StreamOutput {
public:
    // `stream` names the stream in the log ("CamGetVideoStream", "ScreenStream").
    StreamOutput(uint64_t connection, const char* stream);
    // Logs how many frames were dropped during the run, when any were.
    ~StreamOutput();
    StreamOutput(const StreamOutput&) = delete;
    StreamOutput& operator=(const StreamOutput&) = delete;

    // Sends one frame. False when the connection has gone (nothing more can reach it); a frame
    // dropped for a slow client still returns true.
    bool send(std::string frame);

    uint64_t connection() const { return connection_; }
    uint64_t sent() const { return sent_; }
    uint64_t dropped() const { return dropped_; }

private:
    uint64_t connection_;
    const char* stream_;
    uint64_t sent_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace countermate
