#include "terminal_streams.h"

#include "DEV_HUB.h"
#include "camera_preview.h"
#include "screen_streams.h"

namespace countermate {

bool stream_uses_terminal_port() {
    return screen_stream_uses_port() || (preview_running() && !m_isUVCCamera);
}

}  // namespace countermate
