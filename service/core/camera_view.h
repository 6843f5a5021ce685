// The terminal camera's view settings as the zoom and rotation requests step them.
#pragma once

namespace countermate {

// The zoom one step (0.2) in or out: the sum taken in double precision and stored as float,
// kept within 0 and 5.0. So 25 steps in from 0 give 4.9999995 (kept), the 26th 5.0, and one step
// in and one out leave about 3e-9, which still counts as zoomed.
float zoom_step(float zoom, bool in);

// Quarter turns one step left (down, from 0 to 3) or right (up, from 3 to 0).
int rotation_step(int quarter_turns, bool right);

}  // namespace countermate
