// The terminal as a device and its simple interactions (voice, identity, volume, update,
// printer, stored media, settings, number input, evaluation, information pages, sign-in).
//
// Not yet available on this link: each operation answers -13 ("功能不支持") without
// contacting the terminal.
#include "DEV_CounterMate.h"
#include "ResultCodes.h"

using countermate::terminal::kNotSupported;

int CDEV_CounterMate::PlayVoice(int) { return kNotSupported; }
int CDEV_CounterMate::PlaySound(char*) { return kNotSupported; }
int CDEV_CounterMate::StopService() { return kNotSupported; }
int CDEV_CounterMate::RestoreService() { return kNotSupported; }
int CDEV_CounterMate::Reboot() { return kNotSupported; }
int CDEV_CounterMate::GetSerialNo(char*) { return kNotSupported; }
int CDEV_CounterMate::SetSerialNo(char*) { return kNotSupported; }
int CDEV_CounterMate::GetDevID(char*) { return kNotSupported; }
int CDEV_CounterMate::GetApkVersion(char*) { return kNotSupported; }
int CDEV_CounterMate::SetVolume(int) { return kNotSupported; }
int CDEV_CounterMate::InputNumber(int, int, int, int, char*) { return kNotSupported; }
int CDEV_CounterMate::UpdateApk(char*) { return kNotSupported; }
int CDEV_CounterMate::Evaluate(int, int, int*) { return kNotSupported; }
int CDEV_CounterMate::EvaluateSix(int, int*) { return kNotSupported; }
int CDEV_CounterMate::ShowInformation(int, char*, int) { return kNotSupported; }
int CDEV_CounterMate::ShowAndConfirmInformation(int, char*, int, int*) { return kNotSupported; }
int CDEV_CounterMate::ShowPictures(char*, int, int, int*) { return kNotSupported; }
int CDEV_CounterMate::GetDevAndModulesInfo(char*, char*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::Login(char*, char*, int) { return kNotSupported; }
int CDEV_CounterMate::Logout() { return kNotSupported; }
int CDEV_CounterMate::DownLoadFile(int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::GetFileInfo(int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::DeleteFile(int, char*, char*, int*) { return kNotSupported; }
int CDEV_CounterMate::LoginByHtml(char*, char*, char*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::EvaluateByHtml(int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::LogoutByHtml() { return kNotSupported; }
int CDEV_CounterMate::OpenPrinter() { return kNotSupported; }
int CDEV_CounterMate::ClosePrinter() { return kNotSupported; }
int CDEV_CounterMate::PrintReceipt(char*) { return kNotSupported; }
int CDEV_CounterMate::PrintQR(char*) { return kNotSupported; }
int CDEV_CounterMate::GenerateQRCode(int, char*) { return kNotSupported; }
int CDEV_CounterMate::StartInstallTool() { return kNotSupported; }
int CDEV_CounterMate::WriteDeviceInfo(char*, char*) { return kNotSupported; }
int CDEV_CounterMate::ReadDeviceInfo(char*, char*) { return kNotSupported; }
int CDEV_CounterMate::UpdateApk_AfterPushAPK() { return kNotSupported; }
