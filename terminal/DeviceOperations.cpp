// The terminal as a device and its simple interactions (voice, identity, volume, update,
// printer, stored media, settings, number input, evaluation, information pages, sign-in).
//
// Operations not yet available on this link answer -13 ("功能不支持") without contacting the
// terminal.
#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "ModuleLog.h"
#include "OperationResults.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

// A command that answers at once, without results.
int ImmediateCommand(CDEV_CounterMate& driver, const char* operation, const char* command,
                     const CJsonObject* param) {
    const OperationTrace trace(operation);
    CJsonObject answer;
    return trace.Return(driver.RunCommand(command, param, 0, StatusRule::kNotRead, answer));
}

// A command that answers at once with one short text of its `data`.
int ShortTextCommand(CDEV_CounterMate& driver, const char* operation, const char* command,
                     const char* member, char* out) {
    const OperationTrace trace(operation);
    CJsonObject answer;
    const int result = driver.RunCommand(command, nullptr, 0, StatusRule::kNotRead, answer);
    if (result == kSuccess) CopyDataText(answer, member, out, kShortTextCapacity);
    return trace.Return(result);
}

}  // namespace

int CDEV_CounterMate::PlayVoice(int voice) {
    CJsonObject param;
    param.Add("vt", voice);
    return ImmediateCommand(*this, "PlayVoice", "Voice", &param);
}

int CDEV_CounterMate::StopService() {
    CJsonObject param;
    param.Add("textsize", 120);
    param.Add("text", "暂停服务");
    param.Add("color", "#FFFFFFFF");
    return ImmediateCommand(*this, "StopService", "Notice", &param);
}

int CDEV_CounterMate::RestoreService() {
    return ImmediateCommand(*this, "RestoreService", "Cancel", nullptr);
}

int CDEV_CounterMate::Reboot() { return ImmediateCommand(*this, "Reboot", "Reboot", nullptr); }

int CDEV_CounterMate::GetSerialNo(char* serial_no) {
    return ShortTextCommand(*this, "GetSerialNo", "GetLocalSN", "sn", serial_no);
}

int CDEV_CounterMate::SetSerialNo(char* serial_no) {
    CJsonObject param;
    param.Add("sn", serial_no != nullptr ? serial_no : "");
    return ImmediateCommand(*this, "SetSerialNo", "SetLocalSN", &param);
}

int CDEV_CounterMate::GetDevID(char* device_id) {
    return ShortTextCommand(*this, "GetDevID", "GetDeviceCode", "deviceId", device_id);
}

int CDEV_CounterMate::GetApkVersion(char* app_version) {
    return ShortTextCommand(*this, "GetApkVersion", "GetVersionName", "versionname", app_version);
}

int CDEV_CounterMate::SetVolume(int volume) {
    CJsonObject param;
    param.Add("volume", volume);
    return ImmediateCommand(*this, "SetVolume", "VolumeSetting", &param);
}

int CDEV_CounterMate::InputNumber(int input_type, int min_count, int max_count, int timeout,
                                  char* number) {
    const OperationTrace trace("InputNumber");
    CJsonObject param;
    param.Add("timeout", timeout);
    param.Add("inputType", input_type);
    param.Add("minCount", min_count);
    param.Add("maxCount", max_count);
    CJsonObject answer;
    const int result = RunCommand("InputNumber", &param, timeout, StatusRule::kCommon, answer);
    if (result == kSuccess) CopyDataText(answer, "number", number, kShortTextCapacity);
    return trace.Return(result);
}

int CDEV_CounterMate::PlaySound(char*) { return kNotSupported; }
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
