// The commands the simulated terminal app answers. Each entry fills the answer's `data` from
// the command's `param`; a command missing here answers `success` false. Commands that leave
// pictures or data on the terminal write them into the simulator's storage, where the driver
// pulls them from; commands that use a file the driver pushes first fail when it is missing.
#include <cjson/cJSON.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "PngEncoder.h"
#include "SigningScreen.h"
#include "TerminalSimulator.h"
#include "VocabularyParts.h"

namespace countermate::sim {
namespace {

namespace fs = std::filesystem;

bool Acknowledge(const cJSON*, cJSON*) { return true; }

// A behaviour that answers with fixed text members in `data`.
Behaviour Texts(std::vector<std::pair<const char*, std::string>> members) {
    return [members = std::move(members)](const cJSON*, cJSON* data) {
        for (const auto& [name, value] : members)
            cJSON_AddStringToObject(data, name, value.c_str());
        return true;
    };
}

// A behaviour that answers with one fixed integer member in `data`.
Behaviour Integer(const char* name, int value) {
    return [name, value](const cJSON*, cJSON* data) {
        cJSON_AddNumberToObject(data, name, value);
        return true;
    };
}

// A behaviour that needs the parameter `name` to be present.
Behaviour Requiring(const char* name, Behaviour behaviour) {
    return [name, behaviour = std::move(behaviour)](const cJSON* param, cJSON* data) {
        return HasParam(param, name) && behaviour(param, data);
    };
}

}  // namespace

// ---- pictures the terminal takes ----

std::string CardPhotoPng() {
    return EncodePng(102, 126, PngKind::kColour, [](int x, int y) {
        const double face = std::hypot((x - 51) / 28.0, (y - 60) / 36.0);
        if (face < 1.0) return Rgb{232, 190, 160};
        if (y < 40 && std::abs(x - 51) < 36) return Rgb{40, 30, 25};
        return Rgb{200, 225, 245};
    });
}

std::string CardSidePng(bool front) {
    return EncodePng(214, 135, PngKind::kColour, [front](int x, int y) {
        const bool line = y > 20 && y % 16 < 4 && x > 20 && x < (front ? 130 : 190);
        if (line) return Rgb{60, 60, 70};
        if (front && std::hypot(x - 170, y - 60) < 30) return Rgb{210, 60, 50};
        return Rgb{static_cast<uint8_t>(235 - y / 8), 232, static_cast<uint8_t>(215 + x / 16)};
    });
}

std::string ScenePhotoPng() {
    return EncodePng(160, 120, PngKind::kColour, [](int x, int y) {
        if (std::hypot((x - 80) / 30.0, (y - 55) / 40.0) < 1.0) return Rgb{225, 185, 155};
        return Rgb{static_cast<uint8_t>(90 + y), static_cast<uint8_t>(110 + x / 2), 150};
    });
}

uint8_t RidgeShade(int x, int y, int width, int height) {
    const double distance = std::hypot(x - width / 2.0, (y - height / 2.0) * 0.8);
    return static_cast<uint8_t>(127.5 + 127.5 * std::sin(distance / 2.2));
}

std::string FingerprintPng(int width, int height) {
    return EncodePng(width, height, PngKind::kGrey, [width, height](int x, int y) {
        const uint8_t shade = RidgeShade(x, y, width, height);
        return Rgb{shade, shade, shade};
    });
}

std::string SignaturePng() {
    const auto ink = [](int x, int y) {
        return SignatureInk(x, y, 1.0) ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    };
    return EncodePng(kSigningScreenWidth, kSigningScreenHeight, PngKind::kBlackWhite, ink);
}

std::string GreyJpeg(int width, int height, const std::function<uint8_t(int x, int y)>& shade) {
    std::vector<unsigned char> grey(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) grey[static_cast<size_t>(y) * width + x] = shade(x, y);
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::string bytes;
    if (tjCompress2(compressor, grey.data(), width, 0, height, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY,
                    85, 0) == 0) {
        bytes.assign(reinterpret_cast<const char*>(jpeg), size);
    }
    tjFree(jpeg);
    tjDestroy(compressor);
    return bytes;
}

std::string FingerprintJpeg() {
    constexpr int kWidth = 256, kHeight = 288;
    return GreyJpeg(kWidth, kHeight,
                    [](int x, int y) { return RidgeShade(x, y, kWidth, kHeight); });
}

std::string SignatureTrack() {
    std::string track;
    for (int x = 84, t = 0; x < 560; x += 12, t += 16) {
        const int y = static_cast<int>(240 + 60 * std::sin(x / 40.0) + 20 * std::sin(x / 9.0));
        track += std::to_string(x) + "," + std::to_string(y) + ",512," + std::to_string(t) + "\n";
    }
    return track;
}

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto byte = [&bytes](size_t index) {
        return index < bytes.size()
                   ? static_cast<uint32_t>(static_cast<unsigned char>(bytes[index]))
                   : 0u;
    };
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        const uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        text += kAlphabet[group >> 18 & 0x3F];
        text += kAlphabet[group >> 12 & 0x3F];
        text += left > 1 ? kAlphabet[group >> 6 & 0x3F] : '=';
        text += left > 2 ? kAlphabet[group & 0x3F] : '=';
    }
    return text;
}

namespace {

// ---- identity cards ----

const std::pair<const char*, const char*> kCardFields[] = {
    {"name", "张三"},
    {"sex", "男"},
    {"nation", "汉"},
    {"birthday", "19900307"},
    {"address", "北京市东城区正义路1号"},
    {"id_num", "11010119900307803X"},
    {"maker", "北京市公安局东城分局"},
    {"startData", "20200101"},
    {"endDate", "20400101"},
};

void AddCardFields(cJSON* data) {
    for (const auto& [name, value] : kCardFields) cJSON_AddStringToObject(data, name, value);
}

// A card is read: its fields in the answer, its photo and both sides left in storage.
Behaviour ReadCard(const Storage& storage) {
    return [storage](const cJSON*, cJSON* data) {
        AddCardFields(data);
        return storage.Write(TempPath("idcard_photo.png"), CardPhotoPng()) &&
               storage.Write(TempPath("idcard_negative_photo.png"), CardSidePng(false)) &&
               storage.Write(TempPath("idcard_positive_photo.png"), CardSidePng(true));
    };
}

// A face is compared with the card read at the same time: the card's fields and the score in
// the answer, the card pictures and the live scene in storage.
Behaviour CompareFaceWithCard(const Storage& storage) {
    const Behaviour read_card = ReadCard(storage);
    return [storage, read_card](const cJSON* param, cJSON* data) {
        cJSON_AddNumberToObject(data, "score", 0.87);
        return read_card(param, data) &&
               storage.Write(TempPath("scence_photo.png"), ScenePhotoPng());
    };
}

Behaviour CompareFingerWithCard(const Storage& storage) {
    return [storage](const cJSON*, cJSON* data) {
        AddCardFields(data);
        cJSON_AddNumberToObject(data, "score", 0.92);
        std::string card_finger(1024, '\0');  // two 512-byte templates as read from the chip
        for (size_t i = 0; i < card_finger.size(); ++i) card_finger[i] = static_cast<char>(i * 7);
        return storage.Write(TempPath("finger_photo.jpg"), FingerprintJpeg()) &&
               storage.Write(TempPath("card_finger.txt"), card_finger);
    };
}

Behaviour Score(double score) {
    return [score](const cJSON*, cJSON* data) {
        cJSON_AddNumberToObject(data, "score", score);
        return true;
    };
}

// ---- biometrics and capture ----

Behaviour TakeFingerprint(const Storage& storage) {
    return [storage](const cJSON* param, cJSON* data) {
        const int width = std::clamp(IntegerParam(param, "picWidth"), 16, 512);
        const int height = std::clamp(IntegerParam(param, "picHeight"), 16, 512);
        std::string minutiae(512, '\0');
        for (size_t i = 0; i < minutiae.size(); ++i) minutiae[i] = static_cast<char>(i * 13 + 5);
        cJSON_AddStringToObject(data, "fingerDat", Base64(minutiae).c_str());
        return storage.Write(TempPath("bitmaRed.png"), FingerprintPng(width, height));
    };
}

Behaviour TakeSignature(const Storage& storage) {
    return [storage](const cJSON* param, cJSON*) {
        return HasParam(param, "declText") &&
               storage.Write(TempPath("voice_decl_signatrue.png"), SignaturePng()) &&
               storage.Write(TempPath("voice_signatrue.txt"), SignatureTrack());
    };
}

bool TakePhoto(const cJSON*, cJSON* data) {
    cJSON_AddStringToObject(data, "photoBase64", Base64(ScenePhotoPng()).c_str());
    return true;
}

// The picture the driver pushed for the type shown: 0 a collection code, 1 a confirmation.
Behaviour ShowPicture(const Storage& storage) {
    return [storage](const cJSON* param, cJSON* data) {
        const int type = IntegerParam(param, "type");
        const std::string picture = type == 0 ? "collection_code.png" : "confirmation.png";
        if (!HasParam(param, "type") || type < 0 || type > 1 ||
            !storage.Exists("/sdcard/ZR/CounterMate/ordos/" + picture)) {
            return false;
        }
        cJSON_AddNumberToObject(data, "interactiveValue", 1);
        return true;
    };
}

// ---- stored data and files ----

// Values kept under keys: "WriteDeviceInfo" stores its one member, "ReadDeviceInfo" answers it.
struct KeyValueStore {
    std::mutex lock;  // guards values
    std::map<std::string, std::string> values;
};

Behaviour WriteKeyValue(std::shared_ptr<KeyValueStore> store) {
    return [store](const cJSON* param, cJSON*) {
        const cJSON* member = param != nullptr ? param->child : nullptr;
        if (member == nullptr || member->string == nullptr || !cJSON_IsString(member)) return false;
        std::lock_guard<std::mutex> guard(store->lock);
        store->values[member->string] = member->valuestring;
        return true;
    };
}

Behaviour ReadKeyValue(std::shared_ptr<KeyValueStore> store) {
    return [store](const cJSON* param, cJSON* data) {
        const char* key = TextParam(param, "infoKey");
        if (key == nullptr) return false;
        std::lock_guard<std::mutex> guard(store->lock);
        const auto found = store->values.find(key);
        cJSON_AddStringToObject(data, "result",
                                found != store->values.end() ? found->second.c_str() : "");
        return true;
    };
}

// The names of the files in a terminal folder, as the text of a JSON array.
Behaviour ListFiles(const Storage& storage) {
    return [storage](const cJSON* param, cJSON* data) {
        const char* folder = TextParam(param, "remotePath");
        if (folder == nullptr) return false;
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(storage.Local(folder), error)) {
            if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        cJSON* list = cJSON_CreateArray();
        for (const std::string& name : names)
            cJSON_AddItemToArray(list, cJSON_CreateString(name.c_str()));
        char* text = cJSON_PrintUnformatted(list);
        cJSON_AddStringToObject(data, "fileInfos", text);
        cJSON_free(text);
        cJSON_Delete(list);
        return true;
    };
}

// Removes one file, or every file of a folder for a path ending in "*.*".
Behaviour RemoveFiles(const Storage& storage) {
    return [storage](const cJSON* param, cJSON* data) {
        const char* pattern = TextParam(param, "remotePath");
        if (pattern == nullptr || *pattern == '\0') return false;
        std::string path = pattern;
        int removed = 0;
        std::error_code error;
        if (path.size() >= 3 && path.compare(path.size() - 3, 3, "*.*") == 0) {
            for (const auto& entry :
                 fs::directory_iterator(storage.Local(path.substr(0, path.size() - 3)), error)) {
                if (entry.is_regular_file() && fs::remove(entry.path(), error)) ++removed;
            }
        } else if (storage.Exists(path) && fs::remove(storage.Local(path), error)) {
            removed = 1;
        }
        cJSON_AddNumberToObject(data, "deletedFiles", removed);
        return true;
    };
}

// ---- the serial number, keypad and versions ----

// The serial number one simulated terminal keeps: "GetLocalSN" answers what "SetLocalSN" stored.
struct SerialNumber {
    std::mutex lock;  // guards value
    std::string value = "SIM0000001";
};

Behaviour SerialNumberStore(std::shared_ptr<SerialNumber> serial, bool store) {
    return [serial, store](const cJSON* param, cJSON* data) {
        std::lock_guard<std::mutex> guard(serial->lock);
        if (!store) {
            cJSON_AddStringToObject(data, "sn", serial->value.c_str());
            return true;
        }
        const char* sn = TextParam(param, "sn");
        if (sn == nullptr) return false;
        serial->value = sn;
        return true;
    };
}

// Terminal paths the app chooses for files sent with "TransFileCount".
bool TransFileCount(const cJSON* param, cJSON* data) {
    const int count = IntegerParam(param, "fileCount");
    if (count < 1) return false;
    for (int index = 1; index <= count; ++index) {
        const std::string key = "file" + std::to_string(index) + "Path";
        const std::string path = "/sdcard/ZR/CounterMate/trans/file" + std::to_string(index);
        cJSON_AddStringToObject(data, key.c_str(), path.c_str());
    }
    return true;
}

// The module states asked for, each reported working: "idcard:1,finger:1".
bool ModuleStates(const cJSON* param, cJSON* data) {
    const char* modules = TextParam(param, "modules");
    if (modules == nullptr) return false;
    std::string states;
    std::string name;
    const std::string list = std::string(modules) + ",";
    for (char character : list) {
        if (character != ',') {
            name += character;
            continue;
        }
        if (!name.empty()) states += (states.empty() ? "" : ",") + name + ":1";
        name.clear();
    }
    cJSON_AddStringToObject(data, "devID", "SIMDEV-0001");
    cJSON_AddStringToObject(data, "apkVersion", "sim-1.0");
    cJSON_AddStringToObject(data, "firmwareVersion", "FW-2.3.1");
    cJSON_AddStringToObject(data, "moduleState", states.c_str());
    return true;
}

}  // namespace

void AddStandardVocabulary(TerminalSimulator& simulator) {
    const Storage storage(simulator);
    const auto key_values = std::make_shared<KeyValueStore>();
    const auto serial = std::make_shared<SerialNumber>();
    const std::pair<const char*, Behaviour> table[] = {
        // transfers
        {"TransFileCount", TransFileCount},
        // the device
        {"Cancel", Acknowledge},  // on kind 4: leave the paused service
        {"Notice", Requiring("text", Acknowledge)},
        {"Reboot", Acknowledge},
        {"GetLocalSN", SerialNumberStore(serial, false)},
        {"SetLocalSN", SerialNumberStore(serial, true)},
        {"GetDeviceCode", Texts({{"deviceId", "SIMDEV-0001"}})},
        {"GetVersionName", Texts({{"versionname", "sim-1.0"}})},
        {"VolumeSetting", Requiring("volume", Acknowledge)},
        {"Voice", Acknowledge},
        {"PlaySound", Requiring("fn", Acknowledge)},
        {"UpdateApk", Pushed(storage, TempPath("temp.apk"), Acknowledge)},
        {"StartInstallTool", Acknowledge},
        {"GetDevAndModulesInfo", ModuleStates},
        {"WriteDeviceInfo", WriteKeyValue(key_values)},
        {"ReadDeviceInfo", ReadKeyValue(key_values)},
        {"OpenPrinter", Acknowledge},
        {"ClosePrinter", Acknowledge},
        {"PrintReceipt", Requiring("info", Acknowledge)},
        {"PrintQR", Requiring("info", Acknowledge)},
        // stored media
        {"ReloadMedia", Acknowledge},
        {"GetFileInfos", ListFiles(storage)},
        {"RemoveFiles", RemoveFiles(storage)},
        // interactions
        {"InputNumber", Requiring("timeout", Texts({{"number", "123456"}}))},
        {"Evaluate", Requiring("ky", Integer("EvaluateValue", 1))},
        {"AppraiseSix", Requiring("timeOut", Integer("AppraiseValue", 1))},
        {"Information", Requiring("html", Acknowledge)},
        {"Interactive", Requiring("html", Integer("InteractiveValue", 1))},
        {"ShowPictures", ShowPicture(storage)},
        {"QRCodeWriter", Requiring("qrContent", Acknowledge)},
        {"SignIn", Requiring("uname", Acknowledge)},
        {"SignOut", Acknowledge},
        {"EvaluateByHtml", Pushed(storage, TempPath("evaluate.html"),
                                  Texts({{"result", "{\"satisfaction\":5,\"comment\":\"\"}"}}))},
        // identity cards and card modules
        {"idcard", ReadCard(storage)},
        {"idcard_TY", ReadCard(storage)},
        {"KVIdcard", ReadCard(storage)},
        {"iReadCardBas", Requiring("iType", Texts({{"OutInfo", "110100|A12345678|张三|1|"}}))},
        {"iReadCardBas_HSM_Step1",
         Requiring("iType", Texts({{"OutInfo", "110100|A12345678|3F00|9F2E1A|"}}))},
        {"iReadCardBas_HSM_Step2",
         Requiring("Key", Texts({{"OutInfo", "110100|A12345678|张三|1|"}}))},
        {"iReadICCardNum", Texts({{"cardNum", "6217000010001234567"}})},
        // biometrics, photos, codes and text
        {"Fingerprint", TakeFingerprint(storage)},
        {"SigningStatement", TakeSignature(storage)},
        {"SignaturePlayback",
         Pushed(storage, std::string(kTempOtherCase) + "signatrue_playback.txt", Acknowledge)},
        {"TakePhoto", TakePhoto},
        // the signing screen, whose frames the start message then streams, and the workstation's
        // screen, whose pictures the driver pushes while it is shown
        {"SignNameScreen", Requiring("timeOut", Requiring("declText", Acknowledge))},
        {"StartComputerScreen", Acknowledge},
        {"StopComputerScreen", Acknowledge},
        {"ReadQR", Texts({{"code", "https://counter.example/queue/A017"}})},
        {"ReadQR_Qinglan", Texts({{"code", "{\"type\":\"queue\",\"ticket\":\"A017\"}"}})},
        {"OCR", Pushed(storage, std::string(kTempOtherCase) + "ocr.png",
                       Texts({{"result", "中华人民共和国居民身份证"}}))},
        {"CamReadQRCode", Pushed(storage, std::string(kTempOtherCase) + "qrcode_photo.jpg",
                                 Texts({{"result", "6217000010001234567"}}))},
        {"FaceValidateWithIdCard", CompareFaceWithCard(storage)},
        {"FaceValidateWithIdCardIR", CompareFaceWithCard(storage)},
        {"FaceValidateWithIdCard_TY", CompareFaceWithCard(storage)},
        {"FaceValidateWithIdCardIR_TY", CompareFaceWithCard(storage)},
        {"FingerValidateWithIdCard", CompareFingerWithCard(storage)},
        {"FaceValidateWithIdCardPhoto",
         Pushed(storage, TempPath("idcardPhotoFromPC.png"),
                [storage](const cJSON*, cJSON* data) {
                    cJSON_AddNumberToObject(data, "score", 0.81);
                    return storage.Write(TempPath("scence_photo.png"), ScenePhotoPng());
                })},
        {"FaceValidateWithPCPhoto",
         Pushed(storage, TempPath("idcardPhotoFromPC.png"),
                Pushed(storage, TempPath("facePhotoFromPC.png"), Score(0.78)))},
        {"FaceValidateWithFacePhoto",
         Pushed(storage, TempPath("facePhotoFromPC.png"), Score(0.83))},
    };
    for (const auto& [command, behaviour] : table) simulator.AddBehaviour(command, behaviour);
    AddSigningVocabulary(simulator);
}

}  // namespace countermate::sim
