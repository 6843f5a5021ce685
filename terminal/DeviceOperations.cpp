// The terminal as a device and its simple interactions (voice, identity, volume, update,
// printer, stored media, settings, number input, evaluation, information pages, pictures).
#include <optional>
#include <string>
#include <utility>

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
                     std::optional<CJsonObject> param, int wait = 0) {
    return TerminalOperation(driver, operation)
        .Run(MakeCommand(command, std::move(param), wait, StatusRule::kNotRead));
}

// A command that answers at once with one short text of its `data`.
int ShortTextCommand(CDEV_CounterMate& driver, const char* operation, const char* command,
                     const char* member, char* out) {
    return TerminalOperation(driver, operation)
        .Run(MakeCommand(command, std::nullopt, 0, StatusRule::kNotRead),
             {TextMember{member, out, kShortTextCapacity}});
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
    return ImmediateCommand(*this, "PlayVoice", "Voice", Params({{"vt", voice}}));
}

int CDEV_CounterMate::PlaySound(char* sound_file) {
    return ImmediateCommand(*this, "PlaySound", "PlaySound",
                            Params({{"fn", TextOrEmpty(sound_file)}}), kPlaySoundWait);
}

int CDEV_CounterMate::StopService() {
    return ImmediateCommand(
        *this, "StopService", "Notice",
        Params({{"textsize", 120}, {"text", "暂停服务"}, {"color", "#FFFFFFFF"}}));
}

int CDEV_CounterMate::RestoreService() {
    return ImmediateCommand(*this, "RestoreService", "Cancel", std::nullopt);
}

int CDEV_CounterMate::Reboot() { return ImmediateCommand(*this, "Reboot", "Reboot", std::nullopt); }

int CDEV_CounterMate::GetSerialNo(char* serial_no) {
    return ShortTextCommand(*this, "GetSerialNo", "GetLocalSN", "sn", serial_no);
}

int CDEV_CounterMate::SetSerialNo(char* serial_no) {
    return ImmediateCommand(*this, "SetSerialNo", "SetLocalSN",
                            Params({{"sn", TextOrEmpty(serial_no)}}));
}

int CDEV_CounterMate::GetDevID(char* device_id) {
    return ShortTextCommand(*this, "GetDevID", "GetDeviceCode", "deviceId", device_id);
}

int CDEV_CounterMate::GetApkVersion(char* app_version) {
    return ShortTextCommand(*this, "GetApkVersion", "GetVersionName", "versionname", app_version);
}

int CDEV_CounterMate::SetVolume(int volume) {
    return ImmediateCommand(*this, "SetVolume", "VolumeSetting", Params({{"volume", volume}}));
}

int CDEV_CounterMate::InputNumber(int input_type, int min_count, int max_count, int timeout,
                                  char* number) {
    const CJsonObject param = Params({{"timeout", timeout},
                                      {"inputType", input_type},
                                      {"minCount", min_count},
                                      {"maxCount", max_count}});
    return TerminalOperation(*this, "InputNumber")
        .Run(MakeCommand("InputNumber", param, timeout, StatusRule::kCommon),
             {TextMember{"number", number, kShortTextCapacity}});
}

int CDEV_CounterMate::UpdateApk(char* local_apk) {
    return TerminalOperation(*this, "UpdateApk")
        .Run({{local_apk, kAppPackagePath}},
             MakeCommand("UpdateApk", std::nullopt, 0, StatusRule::kNotRead));
}

int CDEV_CounterMate::UpdateApk_AfterPushAPK() {
    return ImmediateCommand(*this, "UpdateApk_AfterPushAPK", "UpdateApk", std::nullopt);
}

int CDEV_CounterMate::Evaluate(int key_count, int timeout, int* evaluation) {
    const int wait = TimeoutOr(timeout, kEvaluationDefaultTimeout);
    const int keys = key_count < 3 || key_count > 5 ? 4 : key_count;
    const CJsonObject param = Params({{"to", wait}, {"tc", ""}, {"ky", keys}, {"uid", 0}});
    return TerminalOperation(*this, "Evaluate")
        .Run(MakeCommand("Evaluate", param, wait, StatusRule::kCommon),
             {IntegerMember{"EvaluateValue", evaluation}});
}

int CDEV_CounterMate::EvaluateSix(int timeout, int* evaluation) {
    const int wait = TimeoutOr(timeout, kEvaluationDefaultTimeout);
    return TerminalOperation(*this, "EvaluateSix")
        .Run(MakeCommand("AppraiseSix", Params({{"timeOut", wait}}), wait, StatusRule::kCommon),
             {IntegerMember{"AppraiseValue", evaluation}});
}

int CDEV_CounterMate::ShowInformation(int timeout, char* html, int is_url) {
    return ImmediateCommand(*this, "ShowInformation", "Information",
                            InformationParams(timeout, html, is_url),
                            TimeoutOr(timeout, kInformationDefaultTimeout));
}

int CDEV_CounterMate::ShowAndConfirmInformation(int timeout, char* html, int is_url, int* answer) {
    const int wait = TimeoutOr(timeout, kInformationDefaultTimeout) + kAnswerMargin;
    return TerminalOperation(*this, "ShowAndConfirmInformation")
        .Run(MakeCommand("Interactive", InformationParams(timeout, html, is_url), wait,
                         StatusRule::kNotRead),
             {IntegerMember{"InteractiveValue", answer}});
}

int CDEV_CounterMate::ShowPictures(char* local_picture, int type, int timeout, int* answer) {
    TerminalOperation operation(*this, "ShowPictures");
    const char* terminal_path = type == 0   ? "/sdcard/ZR/CounterMate/ordos/collection_code.png"
                                : type == 1 ? "/sdcard/ZR/CounterMate/ordos/confirmation.png"
                                            : nullptr;
    if (terminal_path == nullptr) return operation.Return(kBadArgument);
    return operation.Run({{local_picture, terminal_path}},
                         MakeCommand("ShowPictures", Params({{"timeOut", timeout}, {"type", type}}),
                                     timeout, StatusRule::kCommon),
                         {IntegerMember{"interactiveValue", answer}});
}

int CDEV_CounterMate::GetDevAndModulesInfo(char* modules, char* device_id, char* app_version,
                                           char* firmware_version, char* module_state) {
    return TerminalOperation(*this, "GetDevAndModulesInfo")
        .Run(MakeCommand("GetDevAndModulesInfo", Params({{"modules", TextOrEmpty(modules)}}), 0,
                         StatusRule::kNotRead),
             {TextMember{"devID", device_id, kDeviceInfoCapacity},
              TextMember{"apkVersion", app_version, kDeviceInfoCapacity},
              TextMember{"firmwareVersion", firmware_version, kDeviceInfoCapacity},
              TextMember{"moduleState", module_state, kLongTextCapacity}});
}

int CDEV_CounterMate::DownLoadFile(int file_kind, char* local_path, char* file_name) {
    TerminalOperation operation(*this, "DownLoadFile");
    if (IsEmpty(file_name)) return operation.Return(kBadArgument);
    const char* folder = KindFolder(file_kind, nullptr);
    if (folder == nullptr) return operation.Return(kSuccess);
    const int pushed = operation.Push({{local_path, std::string(folder) + file_name}});
    if (pushed != kSuccess || (file_kind != 1 && file_kind != 2)) return operation.Return(pushed);
    return operation.Run(MakeCommand("ReloadMedia", std::nullopt, 0, StatusRule::kNotRead));
}

int CDEV_CounterMate::GetFileInfo(int file_kind, char* folder, char* file_list) {
    const char* kind_folder = KindFolder(file_kind, folder);
    return TerminalOperation(*this, "GetFileInfo")
        .Run(MakeCommand("GetFileInfos", Params({{"remotePath", TextOrEmpty(kind_folder)}}), 0,
                         StatusRule::kNotRead),
             {TextMember{"fileInfos", file_list, kLongTextCapacity}});
}

int CDEV_CounterMate::DeleteFile(int file_kind, char* folder, char* file_name, int* deleted_count) {
    const std::string pattern = DeletePattern(file_kind, folder, file_name);
    return TerminalOperation(*this, "DeleteFile")
        .Run(MakeCommand("RemoveFiles", Params({{"remotePath", pattern.c_str()}}), 0,
                         StatusRule::kNotRead),
             {IntegerMember{"deletedFiles", deleted_count}});
}

int CDEV_CounterMate::OpenPrinter() {
    return ImmediateCommand(*this, "OpenPrinter", "OpenPrinter", std::nullopt);
}

int CDEV_CounterMate::ClosePrinter() {
    return ImmediateCommand(*this, "ClosePrinter", "ClosePrinter", std::nullopt);
}

int CDEV_CounterMate::PrintReceipt(char* receipt) {
    return ImmediateCommand(*this, "PrintReceipt", "PrintReceipt",
                            Params({{"info", TextOrEmpty(receipt)}}));
}

// The terminal app prints a QR code on its own command, with the code's text as `info`.
int CDEV_CounterMate::PrintQR(char* qr_text) {
    return ImmediateCommand(*this, "PrintQR", "PrintQR", Params({{"info", TextOrEmpty(qr_text)}}));
}

int CDEV_CounterMate::GenerateQRCode(int timeout, char* qr_content) {
    return ImmediateCommand(*this, "GenerateQRCode", "QRCodeWriter",
                            Params({{"timeOut", timeout}, {"qrContent", TextOrEmpty(qr_content)}}),
                            timeout);
}

int CDEV_CounterMate::StartInstallTool() {
    return ImmediateCommand(*this, "StartInstallTool", "StartInstallTool", std::nullopt,
                            kInstallToolWait);
}

int CDEV_CounterMate::WriteDeviceInfo(char* key, char* value) {
    return ImmediateCommand(*this, "WriteDeviceInfo", "WriteDeviceInfo",
                            Params({{TextOrEmpty(key), TextOrEmpty(value)}}));
}

int CDEV_CounterMate::ReadDeviceInfo(char* key, char* value) {
    TerminalOperation operation(*this, "ReadDeviceInfo");
    int result = operation.Send(MakeCommand(
        "ReadDeviceInfo", Params({{"infoKey", TextOrEmpty(key)}}), 0, StatusRule::kNotRead));
    if (result == kSuccess) {
        result = operation.Apply({TextMember{"result", value, kShortTextCapacity}});
        CTM_TRACE(LOG_LEVEL_DEBUG, "ReadDeviceInfo", "value :%s", TextOrEmpty(value));
    }
    return operation.Return(result);
}
