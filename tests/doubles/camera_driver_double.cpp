// A camera driver that exports every entry the service binds and does nothing: it lets the
// load-time tests choose the camera-driver configuration without a camera.
#define ENTRY extern "C" __attribute__((visibility("default"))) void

ENTRY CamInit(char*, char*, char*) {}
ENTRY CamDeinit(char*, char*) {}
ENTRY CamGetResolutionList(const char*, char*, char*, char*) {}
ENTRY CamSetResolution(const char*, char*, char*) {}
ENTRY CamSetColor(const char*, char*, char*) {}
ENTRY CamSetCutType(const char*, char*, char*) {}
ENTRY CamOpen(const char*, char*, char*) {}
ENTRY CamGetCameraImage(unsigned char*, int*, char*, char*, float) {}
ENTRY CamClose(char*, char*) {}
ENTRY CamGetCurrentResolution(char*, char*, char*) {}
ENTRY CamPhotoBase64(char*, char*, char*) {}
ENTRY CamFileToBase64(const char*, char*, char*, char*) {}
ENTRY CamPhoto(char*, char*, char*) {}
ENTRY CamStartTimerCap(const char*, char*, char*, char*) {}
ENTRY CamStopTimerCap(char*, char*) {}
ENTRY CamStartAutoCap(char*, char*, char*) {}
ENTRY CamStopAutoCap(char*, char*) {}
ENTRY CamSetRotateLeft(char*, char*) {}
ENTRY CamSetRotateRight(char*, char*) {}
ENTRY CamZoomOut(char*, char*) {}
ENTRY CamZoomIn(char*, char*) {}
