// The terminal camera's video, the signing-screen mirror and the workstation-screen push.
//
// Not yet available on this link: each operation answers -13 ("功能不支持") without
// contacting the terminal.
#include "DEV_CounterMate.h"
#include "ResultCodes.h"

using countermate::terminal::kNotSupported;

int CDEV_CounterMate::StartVideo(int) { return kNotSupported; }
int CDEV_CounterMate::StopVideo() { return kNotSupported; }
int CDEV_CounterMate::PauseVideo() { return kNotSupported; }
int CDEV_CounterMate::KeepVideo() { return kNotSupported; }
int CDEV_CounterMate::GetVideoData(int*, unsigned char*) { return kNotSupported; }
int CDEV_CounterMate::GetVideoData_Base64(char*) { return kNotSupported; }
int CDEV_CounterMate::GetCapturedImage(char*, unsigned char*, int*) { return kNotSupported; }
int CDEV_CounterMate::GetCapturedImageAndBase64(char*, char*, int) { return kNotSupported; }
int CDEV_CounterMate::SignNameScreen_Start(int) { return kNotSupported; }
int CDEV_CounterMate::SignNameScreen_GetScreen(long*, unsigned char*) { return kNotSupported; }
int CDEV_CounterMate::SignNameScreen_GetScreenBase64(char*) { return kNotSupported; }
int CDEV_CounterMate::SignNameScreen_End(char*) { return kNotSupported; }
int CDEV_CounterMate::StartComputerScreen() { return kNotSupported; }
int CDEV_CounterMate::StopComputerScreen() { return kNotSupported; }
