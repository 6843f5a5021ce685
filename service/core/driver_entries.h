// Entry points of the libraries the service binds at load time: the camera driver
// (libDRV_DOCSCOPE, when CameraType is 1) or the JPEG library (libpixelwork, otherwise).
#pragma once

// Camera driver: texts in, caller-owned text buffers out.
using CamResultFn = void (*)(char* retVal, char* errMsg);
using CamInitFn = void (*)(char* retVal, char* errMsg, char* cameraStatus);
using CamTextInFn = void (*)(const char* text, char* retVal, char* errMsg);
using CamTextInOutFn = void (*)(const char* text, char* retVal, char* errMsg, char* out);
using CamResultOutFn = void (*)(char* retVal, char* errMsg, char* out);
using CamGetCameraImageFn = void (*)(unsigned char* jpegBuf, int* jpegLen, char* retVal,
                                     char* errMsg, float scale);

// JPEG library: source JPEG in, caller's work buffer out, 0 on success.
using JpegTransposeFn = int (*)(int mode, int quarter_turns, unsigned char* source,
                                int source_length, unsigned char* destination,
                                int* destination_length);
using JpegEdgeFn = int (*)(unsigned char* source, int source_length, unsigned char* destination,
                           int* destination_length);
using JpegCutAndRotateFn = int (*)(unsigned char* source, int source_length,
                                   unsigned char* destination, int* destination_length,
                                   float factor);
using JpegZoomFn = int (*)(unsigned char* source, int source_length, unsigned char* destination,
                           int* destination_length, float zoom, float largest_zoom);
using JpegGrayFn = int (*)(unsigned char* source, int source_length, unsigned char* destination,
                           int* destination_length);

extern CamInitFn pCamInit;
extern CamResultFn pCamDeinit;
extern CamTextInOutFn pCamGetResolutionList;
extern CamTextInFn pCamSetResolution;
extern CamTextInFn pCamSetColor;
extern CamTextInFn pCamSetCutType;
extern CamTextInFn pCamOpen;
extern CamGetCameraImageFn pCamGetCameraImage;
extern CamResultFn pCamClose;
extern CamResultOutFn pCamGetCurrentResolution;
extern CamResultOutFn pCamPhotoBase64;
extern CamTextInOutFn pCamFileToBase64;
extern CamResultOutFn pCamPhoto;
extern CamTextInOutFn pCamStartTimerCap;
extern CamResultFn pCamStopTimerCap;
extern CamResultOutFn pCamStartAutoCap;
extern CamResultFn pCamStopAutoCap;
extern CamResultFn pCamSetRotateLeft;
extern CamResultFn pCamSetRotateRight;
extern CamResultFn pCamZoomOut;
extern CamResultFn pCamZoomIn;

extern JpegEdgeFn jpegedge;
extern JpegCutAndRotateFn jpegcutandrotate;
extern JpegTransposeFn jpegtranspose;
extern JpegZoomFn jpegzoom;
extern JpegGrayFn jpeggray;
