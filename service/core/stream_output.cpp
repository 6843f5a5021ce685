#include "stream_output.h"

#include "DEV_HUB.h"
#include "dispatch.h"
#include "ws_connection.h"

namespace countermate {

StreamOutput::StreamOutput(uint64_t connection, const char* stream)
    : connection_(connection), stream_(stream) {}

StreamOutput::~StreamOutput() {
    if (dropped_ == 0) return;
    SERVICE_LOG(LOG_LEVEL_WARN, "SendWSMsg",
                "[%s] %llu of %llu frames dropped: the client did not keep up", stream_,
                static_cast<unsigned long long>(dropped_),
                static_cast<unsigned long long>(dropped_ + sent_));
}

bool StreamOutput::send(std::string frame) {
    const int result = send_stream_frame(connection_, std::move(frame));
    if (result == kWsFrameDropped) {
        if (dropped_++ == 0) {
            SERVICE_LOG(LOG_LEVEL_WARN, "SendWSMsg",
                        "[%s] frame dropped: the client has not taken the one before", stream_);
        }
        return true;
    }
    if (result < 0) return false;
    ++sent_;
    return true;
}

}  // namespace countermate
