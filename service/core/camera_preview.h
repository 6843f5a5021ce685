// The camera preview: one thread that sends one frame after another to the page that started
// it, in either camera configuration (the camera driver's frames, or the terminal camera's frames
// turned, edge-marked and zoomed with the JPEG library), and the photo routines that pause it.
//
// Thread-safety: start, stop and the departure stop may be called from the request worker and a
// departure thread at once; one lock serialises them, so the thread is started and joined by one
// caller at a time. The view settings (m_rotationAngle, m_edgeDetection, m_zoomInTimes) are
// atomics read once per frame: a change shows from the next frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace countermate {

// True while a preview runs.
bool preview_running();

// The camera of the running preview (m_CameraNo), and whether one runs with that camera.
bool preview_runs_with(int camera);

// Starts the preview thread for `connection`, naming its frames with m_videoStreamMethod.
void start_preview(uint64_t connection);

// Stops a running preview and waits for its thread; the camera stays open. Nothing happens
// when no preview runs.
void stop_preview();

// The page on `connection` has gone: its preview, if it has one, is stopped and the camera
// closed (the camera driver's CamClose, or the terminal's StopVideo).
void stop_preview_of_departed(uint64_t connection);

// Returns once no stop of the preview is under way. The preview counts as stopped as soon as its
// stop begins, while a departed page's stop still closes the camera; a camera opened before that
// close would be closed under the next preview. Called before a camera is opened.
void await_preview_release();

// Parks a running terminal-camera preview between frames for a photo, and lets it go on when
// the object goes away. When the preview ends instead of parking, parked() is false.
class ParkedPreview {
public:
    ParkedPreview();
    ~ParkedPreview();
    ParkedPreview(const ParkedPreview&) = delete;
    ParkedPreview& operator=(const ParkedPreview&) = delete;
    bool parked() const { return parked_; }

private:
    bool parked_ = false;
};

}  // namespace countermate

// Stops the preview and closes the camera (the camera driver's CamClose, or the terminal's
// StopVideo); nothing when no preview runs.
void CamVideoDetection();

// The preview thread's body.
void VideoStreamThreadProcess();

// One frame from the terminal camera, turned by `rotation` quarter turns, edge-marked when
// `edge` is 1 and zoomed when `zoom` is above 0. `jpeg` receives the frame; the result is that of
// the frame read or of the last transform run.
int CamGetVideoImage_Passthrough(int rotation, int edge, float zoom,
                                 std::vector<unsigned char>& jpeg);

// One photo from the terminal camera while its preview is parked: turned by `rotation`, cut to
// the document when `cutType` is 1, written to `imagePath` when that is not empty, and handed
// back in Base64.
int CamGetCameraImage_Passthrough(int rotation, int cutType, const std::string& imagePath,
                                  std::string& base64);
