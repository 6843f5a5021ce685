#include "camera_view.h"

namespace countermate {

float zoom_step(float zoom, bool in) {
    const float next = static_cast<float>(static_cast<double>(zoom) + (in ? 0.2 : -0.2));
    if (in && next >= 5.0f) return 5.0f;
    if (!in && next <= 0.0f) return 0.0f;
    return next;
}

int rotation_step(int quarter_turns, bool right) {
    const int next = quarter_turns + (right ? 1 : -1);
    if (next > 3) return 0;
    if (next < 0) return 3;
    return next;
}

}  // namespace countermate
