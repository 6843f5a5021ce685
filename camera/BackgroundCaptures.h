// The timed and the automatic capture threads. Both only raise requests that the next
// CamGetCameraImage honours, so they capture only while a client fetches frames.
#pragma once

namespace docscope {

class CaptureWorker;

// Every `intervalMilliseconds` (0: on every frame), asks for a time-stamped capture and waits
// until it is written.
void TimerCap(CaptureWorker& worker, int intervalMilliseconds);

// Once a cycle, takes a preview copy and scores it against the previous one with scenewatch; a
// score above the previous cycle's by more than kSceneChangeJump asks for a time-stamped capture.
void AutoCap(CaptureWorker& worker);

}  // namespace docscope
