// libDRV_DOCSCOPE: the driver of the counter's two USB cameras, the document camera (camera 1),
// which looks down on the counter and whose photos can be cut to the document and turned
// upright, and the person camera (camera 2), which faces the customer.
//
// The service loads the library, binds the 21 entries below by name and calls them on its
// request threads. Every entry answers through caller-owned buffers and returns nothing:
// `retVal` receives "0" on success, "-1" when the driver is not initialised or an image library
// is missing, "-2" when the camera is absent, not open or delivers no frame, and "1" for a
// missing file (CamFileToBase64); `errMsg` receives the message, empty on success. Both are
// written NUL-terminated within kCamTextCapacity bytes. No entry throws and no entry waits
// longer than kCamFrameWaitSeconds for a frame to come or to take a photo.
//
// Cameras are found by USB identity among the V4L2 nodes of "/dev" and
// "/sys/class/video4linux". For tests and demonstrations without cameras, the environment
// variables COUNTERMATE_DEV_ROOT and COUNTERMATE_SYSFS_ROOT replace those two folders, and a
// device node that is a regular file is read as the camera: a still image (JPEG, PNG) repeated
// at COUNTERMATE_CAMERA_FILE_FPS frames per second (25 when unset, 0: as fast as asked, reread
// when the file changes) or a video file looped. A deployment with real cameras sets none.
//
// Files: photos go to "./Temp/Camera0.jpg" and timed or automatic captures to
// "./Temp/YYYYMMDDhhmmss.jpg" of the working directory, whose "Temp" folder must exist.
#pragma once

#define DOCSCOPE_EXPORT extern "C" __attribute__((visibility("default")))

// Capacity of every retVal and errMsg buffer (the service hands 200 bytes each).
constexpr int kCamTextCapacity = 200;
// Capacity of the resolutionList buffer of CamGetResolutionList: whole "w*h" entries that fit.
constexpr int kCamResolutionListCapacity = 400;
// Capacity of the resolution buffer of CamGetCurrentResolution.
constexpr int kCamResolutionCapacity = 100;
// Capacity of base64Out: a file whose Base64 text and terminator do not fit is refused.
constexpr int kCamBase64Capacity = 10485760;
// Longest wait of any entry for a frame from the camera or for a photo to be written.
constexpr int kCamFrameWaitSeconds = 5;

// Loads "./libframepack.so", "./libcropalign.so" and "./libscenewatch.so" (once per process),
// probes both cameras and initialises. cameraStatus (2 bytes): "1" both cameras present, "2"
// both absent, "3" only the person camera, "4" only the document camera.
DOCSCOPE_EXPORT void CamInit(char* retVal, char* errMsg, char* cameraStatus);
// Ends initialisation; a running capture and loaded libraries stay.
DOCSCOPE_EXPORT void CamDeinit(char* retVal, char* errMsg);
// The frame sizes of camera camNo ("1" or "2") as "w*h|w*h|…" (empty for other numbers).
DOCSCOPE_EXPORT void CamGetResolutionList(const char* camNo, char* retVal, char* errMsg,
                                          char* resolutionList);
// "w*h": the capture size of the next CamOpen (a missing part reads 0, meaning the default).
DOCSCOPE_EXPORT void CamSetResolution(const char* resolution, char* retVal, char* errMsg);
// Colour mode of the preview: 1 or 3 grey, anything else colour.
DOCSCOPE_EXPORT void CamSetColor(const char* color, char* retVal, char* errMsg);
// Cut mode of the document camera: 1 finds the document, outlines it on the preview and cuts
// photos to it.
DOCSCOPE_EXPORT void CamSetCutType(const char* cutType, char* retVal, char* errMsg);
// Starts capture from camera camNo ("1" or "2"); answers "0" at once when a capture runs.
DOCSCOPE_EXPORT void CamOpen(const char* camNo, char* retVal, char* errMsg);
// One preview frame: the camera frame turned, zoomed and scaled by `scale` (a number in (0, 1];
// any other value counts as 1), as JPEG in jpegBuf (up to 10 MiB) with its length in *jpegLen.
// Honours pending photo, timed and automatic capture requests with the full-resolution frame.
DOCSCOPE_EXPORT void CamGetCameraImage(unsigned char* jpegBuf, int* jpegLen, char* retVal,
                                       char* errMsg, float scale);
// Stops capture; "-2" and the capture left running when no frame was delivered since the open.
DOCSCOPE_EXPORT void CamClose(char* retVal, char* errMsg);
// The size set by CamSetResolution, or chosen by CamOpen, as "w*h".
DOCSCOPE_EXPORT void CamGetCurrentResolution(char* retVal, char* errMsg, char* resolution);
// Takes a photo with the next CamGetCameraImage and hands it over in Base64 (kCamBase64Capacity).
DOCSCOPE_EXPORT void CamPhotoBase64(char* retVal, char* errMsg, char* base64Out);
// A regular file in Base64 (kCamBase64Capacity); "1" when the file does not exist.
DOCSCOPE_EXPORT void CamFileToBase64(const char* filePath, char* retVal, char* errMsg,
                                     char* base64Out);
// Takes a photo with the next CamGetCameraImage: the full frame, or in cut mode the document
// cut out and straightened (the full frame when no document is found); photoPath (19 bytes)
// receives "./Temp/Camera0.jpg".
DOCSCOPE_EXPORT void CamPhoto(char* retVal, char* errMsg, char* photoPath);
// Writes a time-stamped photo every `time` milliseconds (on every frame for 0), each taken by
// the next CamGetCameraImage; replaces a timed capture that runs. folder (8 bytes): "./Temp".
DOCSCOPE_EXPORT void CamStartTimerCap(const char* time, char* retVal, char* errMsg, char* folder);
DOCSCOPE_EXPORT void CamStopTimerCap(char* retVal, char* errMsg);
// Compares the preview once a second through libscenewatch and writes a time-stamped photo when
// the score jumps by more than 100,000,000 (needs CamInit to have loaded libscenewatch).
DOCSCOPE_EXPORT void CamStartAutoCap(char* retVal, char* errMsg, char* folder);
DOCSCOPE_EXPORT void CamStopAutoCap(char* retVal, char* errMsg);
// Turn the view a quarter to the left (counter-clockwise) or to the right; effective from the
// next frame.
DOCSCOPE_EXPORT void CamSetRotateLeft(char* retVal, char* errMsg);
DOCSCOPE_EXPORT void CamSetRotateRight(char* retVal, char* errMsg);
// Zoom level 0..100 (100 shows the whole frame): out widens the view by one step, in narrows it
// (10 pixels a side per step, kept inside the frame).
DOCSCOPE_EXPORT void CamZoomOut(char* retVal, char* errMsg);
DOCSCOPE_EXPORT void CamZoomIn(char* retVal, char* errMsg);
