// The terminal as a device and its simple interactions (voice, identity, volume, update,
// printer, stored media, settings, number input, evaluation, information pages, pictures).
#include <string>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "ModuleLog.h"
#include "OperationResults.h"
#include "OperationSteps.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

constexpr int kInformationDefaultTimeout = 60;
constexpr int kEvaluationDefaultTimeout = 30;
constexpr int kPlaySoundWait = 2;
constexpr int kInstallToolWait = 5;
constexpr const char* kAppPackagePath = "/sdcard/ZR/CounterMate/temp/temp.apk";

// A command that answers at once and reports only its outcome.
int ImmediateCommand(CDEV_CounterMate& driver, const char* operation, const char* command,
                     const CJsonObject* param, int wait = 0) {
    const OperationTrace trace(operation);
    CJsonObject answer;
    return trace.Return(driver.RunCommand(command, param, wait, StatusRule::kNotRead, answer));
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

// Runs a command whose answer carries one integer of `data` (a rating, a choice, a count).
int RunForInteger(CDEV_CounterMate& driver, const char* command, const CJsonObject& param,
                  int wait, StatusRule rule, const char* member, int* out) {
    CJsonObject answer;
    const int result = driver.RunCommand(command, &param, wait, rule, answer);
    if (result == kSuccess) CopyDataInteger(answer, member, out);
    return result;
}

// The terminal folder of a file kind (0 teller pictures, 1 media, 2 style, 3 sound, 4 the
// caller's); null for any other kind.
const char* KindFolder(int kind, const char* caller_folder) {
    switch (kind) {
        case 0: return "/mnt/sdcard/ZR/CounterMate/userImg/";
        case 1: return "/mnt/sdcard/ZR/CounterMate/mediaData/";
        case 2: return "/mnt/sdcard/ZR/CounterMate/style/";
        case 3: return "/mnt/sdcard/ZR/CounterMate/soundData/";
        case 4: return TextOrEmpty(caller_folder);
        default: return nullptr;
    }
}

// Where DeleteFile removes: the name in the kind's folder, or all of it for an empty name.
std::string DeletePattern(int kind, const char* folder, const char* name) {
    const char* kind_folder = KindFolder(kind, folder);
    if (kind_folder == nullptr) return "";
    if (!IsEmpty(name)) return std::string(kind_folder) + name;
    return std::string(kind_folder) + (kind == 4 ? "/*.*" : "*.*");
}

CJsonObject InformationParams(int timeout, const char* html, int is_url) {
    return Params({{"timeOut", TimeoutOr(timeout, kInformationDefaultTimeout)},
                   {"html", TextOrEmpty(html)},
                   {"isUrl", is_url != 0}});
}

}  // namespace

int CDEV_CounterMate::PlayVoice(int voice) {
    const CJsonObject param = Params({{"vt", voice}});
    return ImmediateCommand(*this, "PlayVoice", "Voice", &param);
}

int CDEV_CounterMate::PlaySound(char* sound_file) {
    const CJsonObject param = Params({{"fn", TextOrEmpty(sound_file)}});
    return ImmediateCommand(*this, "PlaySound", "PlaySound", &param, kPlaySoundWait);
}

int CDEV_CounterMate::StopService() {
    const CJsonObject param =
        Params({{"textsize", 120}, {"text", "暂停服务"}, {"color", "#FFFFFFFF"}});
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
    const CJsonObject param = Params({{"sn", TextOrEmpty(serial_no)}});
    return ImmediateCommand(*this, "SetSerialNo", "SetLocalSN", &param);
}

int CDEV_CounterMate::GetDevID(char* device_id) {
    return ShortTextCommand(*this, "GetDevID", "GetDeviceCode", "deviceId", device_id);
}

int CDEV_CounterMate::GetApkVersion(char* app_version) {
    return ShortTextCommand(*this, "GetApkVersion", "GetVersionName", "versionname", app_version);
}

int CDEV_CounterMate::SetVolume(int volume) {
    const CJsonObject param = Params({{"volume", volume}});
    return ImmediateCommand(*this, "SetVolume", "VolumeSetting", &param);
}

int CDEV_CounterMate::InputNumber(int input_type, int min_count, int max_count, int timeout,
                                  char* number) {
    const OperationTrace trace("InputNumber");
    const CJsonObject param = Params({{"timeout", timeout},
                                      {"inputType", input_type},
                                      {"minCount", min_count},
                                      {"maxCount", max_count}});
    CJsonObject answer;
    const int result = RunCommand("InputNumber", &param, timeout, StatusRule::kCommon, answer);
    if (result == kSuccess) CopyDataText(answer, "number", number, kShortTextCapacity);
    return trace.Return(result);
}

int CDEV_CounterMate::UpdateApk(char* local_apk) {
    const OperationTrace trace("UpdateApk");
    const int pushed = PushAll(*this, {{local_apk, kAppPackagePath}});
    if (pushed != kSuccess) return trace.Return(pushed);
    CJsonObject answer;
    return trace.Return(RunCommand("UpdateApk", nullptr, 0, StatusRule::kNotRead, answer));
}

int CDEV_CounterMate::UpdateApk_AfterPushAPK() {
    return ImmediateCommand(*this, "UpdateApk_AfterPushAPK", "UpdateApk", nullptr);
}

int CDEV_CounterMate::Evaluate(int key_count, int timeout, int* evaluation) {
    const int wait = TimeoutOr(timeout, kEvaluationDefaultTimeout);
    const int keys = key_count < 3 || key_count > 5 ? 4 : key_count;
    const CJsonObject param = Params({{"to", wait}, {"tc", ""}, {"ky", keys}, {"uid", 0}});
    return OperationTrace("Evaluate").Return(RunForInteger(
        *this, "Evaluate", param, wait, StatusRule::kCommon, "EvaluateValue", evaluation));
}

int CDEV_CounterMate::EvaluateSix(int timeout, int* evaluation) {
    const int wait = TimeoutOr(timeout, kEvaluationDefaultTimeout);
    const OperationTrace trace("EvaluateSix");
    return trace.Return(RunForInteger(*this, "AppraiseSix", Params({{"timeOut", wait}}), wait,
                                      StatusRule::kCommon, "AppraiseValue", evaluation));
}

int CDEV_CounterMate::ShowInformation(int timeout, char* html, int is_url) {
    const CJsonObject param = InformationParams(timeout, html, is_url);
    return ImmediateCommand(*this, "ShowInformation", "Information", &param,
                            TimeoutOr(timeout, kInformationDefaultTimeout));
}

int CDEV_CounterMate::ShowAndConfirmInformation(int timeout, char* html, int is_url, int* answer) {
    const OperationTrace trace("ShowAndConfirmInformation");
    return trace.Return(RunForInteger(*this, "Interactive",
                                      InformationParams(timeout, html, is_url),
                                      TimeoutOr(timeout, kInformationDefaultTimeout) + kAnswerMargin,
                                      StatusRule::kNotRead, "InteractiveValue", answer));
}

int CDEV_CounterMate::ShowPictures(char* local_picture, int type, int timeout, int* answer) {
    const OperationTrace trace("ShowPictures");
    const char* terminal_path = type == 0   ? "/sdcard/ZR/CounterMate/ordos/collection_code.png"
                                : type == 1 ? "/sdcard/ZR/CounterMate/ordos/confirmation.png"
                                            : nullptr;
    if (terminal_path == nullptr) return trace.Return(kBadArgument);
    const int pushed = PushAll(*this, {{local_picture, terminal_path}});
    if (pushed != kSuccess) return trace.Return(pushed);
    return trace.Return(RunForInteger(*this, "ShowPictures",
                                      Params({{"timeOut", timeout}, {"type", type}}), timeout,
                                      StatusRule::kCommon, "interactiveValue", answer));
}

int CDEV_CounterMate::GetDevAndModulesInfo(char* modules, char* device_id, char* app_version,
                                           char* firmware_version, char* module_state) {
    const OperationTrace trace("GetDevAndModulesInfo");
    const CJsonObject param = Params({{"modules", TextOrEmpty(modules)}});
    CJsonObject answer;
    const int result =
        RunCommand("GetDevAndModulesInfo", &param, 0, StatusRule::kNotRead, answer);
    if (result == kSuccess) {
        CopyDataText(answer, "devID", device_id, kDeviceInfoCapacity);
        CopyDataText(answer, "apkVersion", app_version, kDeviceInfoCapacity);
        CopyDataText(answer, "firmwareVersion", firmware_version, kDeviceInfoCapacity);
        CopyDataText(answer, "moduleState", module_state, kLongTextCapacity);
    }
    return trace.Return(result);
}

int CDEV_CounterMate::DownLoadFile(int file_kind, char* local_path, char* file_name) {
    const OperationTrace trace("DownLoadFile");
    if (IsEmpty(file_name)) return trace.Return(kBadArgument);
    const char* folder = KindFolder(file_kind, nullptr);
    if (folder == nullptr) return trace.Return(kSuccess);
    const std::string terminal_path = std::string(folder) + file_name;
    const int pushed = PushAll(*this, {{local_path, terminal_path.c_str()}});
    if (pushed != kSuccess || (file_kind != 1 && file_kind != 2)) return trace.Return(pushed);
    CJsonObject answer;
    return trace.Return(RunCommand("ReloadMedia", nullptr, 0, StatusRule::kNotRead, answer));
}

int CDEV_CounterMate::GetFileInfo(int file_kind, char* folder, char* file_list) {
    const OperationTrace trace("GetFileInfo");
    const char* kind_folder = KindFolder(file_kind, folder);
    const CJsonObject param = Params({{"remotePath", TextOrEmpty(kind_folder)}});
    CJsonObject answer;
    const int result = RunCommand("GetFileInfos", &param, 0, StatusRule::kNotRead, answer);
    if (result == kSuccess) CopyDataText(answer, "fileInfos", file_list, kLongTextCapacity);
    return trace.Return(result);
}

int CDEV_CounterMate::DeleteFile(int file_kind, char* folder, char* file_name,
                                 int* deleted_count) {
    const OperationTrace trace("DeleteFile");
    const std::string pattern = DeletePattern(file_kind, folder, file_name);
    return trace.Return(RunForInteger(*this, "RemoveFiles", Params({{"remotePath", pattern.c_str()}}),
                                      0, StatusRule::kNotRead, "deletedFiles", deleted_count));
}

int CDEV_CounterMate::OpenPrinter() {
    return ImmediateCommand(*this, "OpenPrinter", "OpenPrinter", nullptr);
}

int CDEV_CounterMate::ClosePrinter() {
    return ImmediateCommand(*this, "ClosePrinter", "ClosePrinter", nullptr);
}

int CDEV_CounterMate::PrintReceipt(char* receipt) {
    const CJsonObject param = Params({{"info", TextOrEmpty(receipt)}});
    return ImmediateCommand(*this, "PrintReceipt", "PrintReceipt", &param);
}

// The terminal app prints a QR code on its own command, with the code's text as `info`.
int CDEV_CounterMate::PrintQR(char* qr_text) {
    const CJsonObject param = Params({{"info", TextOrEmpty(qr_text)}});
    return ImmediateCommand(*this, "PrintQR", "PrintQR", &param);
}

int CDEV_CounterMate::GenerateQRCode(int timeout, char* qr_content) {
    const CJsonObject param =
        Params({{"timeOut", timeout}, {"qrContent", TextOrEmpty(qr_content)}});
    return ImmediateCommand(*this, "GenerateQRCode", "QRCodeWriter", &param, timeout);
}

int CDEV_CounterMate::StartInstallTool() {
    return ImmediateCommand(*this, "StartInstallTool", "StartInstallTool", nullptr,
                            kInstallToolWait);
}

int CDEV_CounterMate::WriteDeviceInfo(char* key, char* value) {
    const CJsonObject param = Params({{TextOrEmpty(key), TextOrEmpty(value)}});
    return ImmediateCommand(*this, "WriteDeviceInfo", "WriteDeviceInfo", &param);
}

int CDEV_CounterMate::ReadDeviceInfo(char* key, char* value) {
    const OperationTrace trace("ReadDeviceInfo");
    const CJsonObject param = Params({{"infoKey", TextOrEmpty(key)}});
    CJsonObject answer;
    const int result = RunCommand("ReadDeviceInfo", &param, 0, StatusRule::kNotRead, answer);
    if (result == kSuccess) {
        CopyDataText(answer, "result", value, kShortTextCapacity);
        CTM_TRACE(LOG_LEVEL_DEBUG, "ReadDeviceInfo", "value :%s", TextOrEmpty(value));
    }
    return trace.Return(result);
}
