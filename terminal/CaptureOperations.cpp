// Identity cards, fingerprints, signatures, codes, photos, text recognition and face comparison
// with the terminal's own peripherals. The terminal leaves its pictures and data on its storage;
// they are pulled after a successful answer, in a fixed order, stopping at the first failure.
#include <algorithm>
#include <string>

#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "ModuleLog.h"
#include "OperationResults.h"
#include "OperationSteps.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

constexpr int kCaptureDefaultTimeout = 60;
constexpr int kIdentityCardWait = 62;
constexpr int kCardBasWait = 30;
constexpr int kCardStepWait = 5;
// A comparison given a short time-out still has 10 seconds to answer.
constexpr int kShortestComparisonWait = 10;
// The card number reader answers within 5 seconds whatever time-out it is given.
constexpr int kCardNumberWait = 5;
// An identity card answer carries the card's fields; its photo comes as a separate file.
constexpr int kIdentityAnswerBytes = 1024 * 1024;
constexpr int kPhotoAnswerBytes = 4 * 1024 * 1024;
constexpr size_t kIdentityFieldsCapacity = kBase64PictureCapacity + kLongTextCapacity;
constexpr size_t kMessageCapacity = 200;

constexpr const char* kCardPhoto = "/sdcard/ZR/CounterMate/temp/idcard_photo.png";
constexpr const char* kCardBack = "/sdcard/ZR/CounterMate/temp/idcard_negative_photo.png";
constexpr const char* kCardFront = "/sdcard/ZR/CounterMate/temp/idcard_positive_photo.png";
constexpr const char* kScenePhoto = "/sdcard/ZR/CounterMate/temp/scence_photo.png";
constexpr const char* kFingerprintImage = "/sdcard/ZR/CounterMate/temp/bitmaRed.png";
constexpr const char* kSignatureImage = "/sdcard/ZR/CounterMate/temp/voice_decl_signatrue.png";
constexpr const char* kSignatureTrack = "/sdcard/ZR/CounterMate/temp/voice_signatrue.txt";
constexpr const char* kComparedFingerprint = "/sdcard/ZR/CounterMate/temp/finger_photo.jpg";
constexpr const char* kCardFingerData = "/sdcard/ZR/CounterMate/temp/card_finger.txt";
constexpr const char* kCardPhotoFromPC = "/sdcard/ZR/CounterMate/temp/idcardPhotoFromPC.png";
constexpr const char* kFacePhotoFromPC = "/sdcard/ZR/CounterMate/temp/facePhotoFromPC.png";
constexpr const char* kPlaybackTrack = "/sdcard/ZR/Countermate/temp/signatrue_playback.txt";
constexpr const char* kOcrPicture = "/sdcard/ZR/Countermate/temp/ocr.png";
constexpr const char* kCodePhoto = "/sdcard/ZR/Countermate/temp/qrcode_photo.jpg";

// The members of a card answer's `data`, in the order of the identity fields text.
constexpr const char* kIdentityFields[] = {"name",    "sex",    "birthday",  "address",
                                           "id_num",  "maker",  "startData", "endDate"};

// Runs `command` and, on success, copies the text member `member` of `data` into `out`.
int RunForText(CDEV_CounterMate& driver, const char* command, const CJsonObject& param, int wait,
               StatusRule rule, const char* member, char* out, size_t capacity) {
    CJsonObject answer;
    const int result = driver.RunCommand(command, &param, wait, rule, answer);
    if (result == kSuccess) CopyDataText(answer, member, out, capacity);
    return result;
}

// Runs `command` and, on success, hands the caller the answer text as received and the
// comparison's `score`.
int RunComparison(CDEV_CounterMate& driver, const char* command, int timeout, int wait,
                  double* score, char* answer_text) {
    const CJsonObject param = Params({{"timeOut", timeout}});
    CJsonObject answer;
    std::string text;
    const int result = driver.RunCommandKeepingText(command, &param, wait, StatusRule::kCommon,
                                                    answer, &text, kAnswerBytes);
    if (result != kSuccess) return result;
    CopyDataNumber(answer, "score", score);
    CopyText(text, answer_text, kLongTextCapacity);
    return kSuccess;
}

// Reads an identity card on the terminal; the answer text goes to `card_text`.
int ReadCard(CDEV_CounterMate& driver, int timeout, int card_source, char* card_text) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    const CJsonObject param = Params({{"timeOut", wait}});
    CJsonObject answer;
    std::string text;
    const int result = driver.RunCommandKeepingText(
        card_source == 1 ? "idcard_TY" : "idcard", &param, wait + kAnswerMargin,
        StatusRule::kCancelOrTimeout, answer, &text, kAnswerBytes);
    if (result == kSuccess) CopyText(text, card_text, kLongTextCapacity);
    return result;
}

CJsonObject FingerprintParams(int wait, int width, int height) {
    return Params({{"timeOut", wait},
                   {"picType", "ptPng"},
                   {"picWidth", width},
                   {"picHeight", height},
                   {"isPicEqual", 0}});
}

// Collects a fingerprint; its data text goes to `finger_data`, the image stays on the terminal.
int TakeFingerprint(CDEV_CounterMate& driver, int timeout, int width, int height,
                    char* finger_data) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    return RunForText(driver, "Fingerprint", FingerprintParams(wait, width, height),
                      wait + kAnswerMargin, StatusRule::kCancelOrTimeout, "fingerDat",
                      finger_data, kFingerDataCapacity);
}

// Collects a signature under the signing statement; image and track stay on the terminal.
int TakeSignature(CDEV_CounterMate& driver, int timeout) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    const CJsonObject param = Params({{"timeOut", wait},
                                      {"voiceText", "请在指定位置签名"},
                                      {"picHeight", 480},
                                      {"picWidth", 640},
                                      {"picType", "ptPng"},
                                      {"isPicEqual", 1},
                                      {"declText", "签名区域"}});
    CJsonObject answer;
    return driver.RunCommand("SigningStatement", &param, wait + kAnswerMargin,
                             StatusRule::kCancelOrTimeout, answer);
}

const char* FaceCommand(int infrared, int card_source) {
    if (infrared != 0) {
        return card_source == 1 ? "FaceValidateWithIdCardIR_TY" : "FaceValidateWithIdCardIR";
    }
    return card_source == 1 ? "FaceValidateWithIdCard_TY" : "FaceValidateWithIdCard";
}

}  // namespace

int CDEV_CounterMate::ReadIDCard(int timeout, int card_source, char* answer, const char* photo,
                                 const char* back_image, const char* front_image) {
    const OperationTrace trace("ReadIDCard");
    const int result = ReadCard(*this, timeout, card_source, answer);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(PullAll(
        *this, {{kCardPhoto, photo}, {kCardBack, back_image}, {kCardFront, front_image}}));
}

int CDEV_CounterMate::ReadIDCard_Base64(int timeout, int card_source, char* answer, char* photo,
                                        char* front_image, char* back_image) {
    const OperationTrace trace("ReadIDCard_Base64");
    const int result = ReadCard(*this, timeout, card_source, answer);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(PullAllAsBase64(*this, {{kCardPhoto, photo, kBase64PictureCapacity},
                                                {kCardBack, back_image, kBase64PictureCapacity},
                                                {kCardFront, front_image, kBase64PictureCapacity}}));
}

int CDEV_CounterMate::ReadIdentityCard(char* identity_fields, char* message) {
    const OperationTrace trace("ReadIdentityCard");
    const CJsonObject param = Params({{"timeOut", kCaptureDefaultTimeout}});
    CJsonObject answer;
    int result = RunCommandKeepingText("KVIdcard", &param, kIdentityCardWait,
                                       StatusRule::kCancelOrTimeout, answer, nullptr,
                                       kIdentityAnswerBytes);
    std::string photo(static_cast<size_t>(kBase64PictureCapacity), '\0');
    if (result == kSuccess) {
        result = PullAllAsBase64(*this, {{kCardPhoto, &photo[0], kBase64PictureCapacity}});
    }
    if (result == kSuccess) {
        CJsonObject data;
        answer.Get("data", data);
        std::string fields;
        for (const char* name : kIdentityFields) {
            std::string value;
            data.Get(name, value);
            fields += value + "|";
        }
        fields += photo.c_str();
        fields += "|";
        CopyText(fields, identity_fields, kIdentityFieldsCapacity);
    }
    char text[kMessageCapacity] = {};
    GetErrMsg(result, text);
    CopyText(text, message, kMessageCapacity);
    return trace.Return(result);
}

int CDEV_CounterMate::GetFingerPrint(int timeout, int width, int height, char* image,
                                     char* finger_data) {
    const OperationTrace trace("GetFingerPrint");
    const int result = TakeFingerprint(*this, timeout, width, height, finger_data);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(PullAll(*this, {{kFingerprintImage, image}}));
}

int CDEV_CounterMate::GetFingerPrint_Base64(int timeout, int width, int height, char* image,
                                            char* finger_data) {
    const OperationTrace trace("GetFingerPrint_Base64");
    const int result = TakeFingerprint(*this, timeout, width, height, finger_data);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(
        PullAllAsBase64(*this, {{kFingerprintImage, image, kBase64PictureCapacity}}));
}

int CDEV_CounterMate::GetSignName(int timeout, char* sign_image, char* sign_track) {
    const OperationTrace trace("GetSignName");
    const int result = TakeSignature(*this, timeout);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(
        PullAll(*this, {{kSignatureImage, sign_image}, {kSignatureTrack, sign_track}}));
}

int CDEV_CounterMate::GetSignName_Base64(int timeout, char* sign_image) {
    const OperationTrace trace("GetSignName_Base64");
    const int result = TakeSignature(*this, timeout);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(
        PullAllAsBase64(*this, {{kSignatureImage, sign_image, kBase64PictureCapacity}}));
}

int CDEV_CounterMate::ReadQR(int timeout, char* code) {
    const OperationTrace trace("ReadQR");
    return trace.Return(RunForText(*this, "ReadQR", Params({{"timeOut", timeout}}),
                                   timeout + kAnswerMargin, StatusRule::kNotRead, "code", code,
                                   kLongTextCapacity));
}

int CDEV_CounterMate::ReadQR_Qinglan(int timeout, char* code) {
    const OperationTrace trace("ReadQR_Qinglan");
    return trace.Return(RunForText(*this, "ReadQR_Qinglan", Params({{"timeOut", timeout}}),
                                   timeout + kAnswerMargin, StatusRule::kNotRead, "code", code,
                                   kLongTextCapacity));
}

int CDEV_CounterMate::GetPhoto_Base64(int timeout, char* photo) {
    const OperationTrace trace("GetPhoto_Base64");
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    const CJsonObject param = Params({{"timeOut", wait}});
    CJsonObject answer;
    const int result = RunCommandKeepingText("TakePhoto", &param, wait + kAnswerMargin,
                                             StatusRule::kCommon, answer, nullptr,
                                             kPhotoAnswerBytes);
    if (result == kSuccess) CopyDataText(answer, "photoBase64", photo, kBase64PhotoCapacity);
    return trace.Return(result);
}

int CDEV_CounterMate::SignaturePlayback(int timeout, char* local_track) {
    const OperationTrace trace("SignaturePlayback");
    const int pushed = PushAll(*this, {{local_track, kPlaybackTrack}});
    if (pushed != kSuccess) return trace.Return(pushed);
    const CJsonObject param = Params({{"timeOut", timeout}});
    CJsonObject answer;
    return trace.Return(
        RunCommand("SignaturePlayback", &param, timeout, StatusRule::kCommon, answer));
}

int CDEV_CounterMate::PictureOCR(int timeout, char* local_picture, char* text) {
    const OperationTrace trace("PictureOCR");
    const int pushed = PushAll(*this, {{local_picture, kOcrPicture}});
    if (pushed != kSuccess) return trace.Return(pushed);
    return trace.Return(RunForText(*this, "OCR", Params({{"timeOut", timeout}}), timeout,
                                   StatusRule::kCommon, "result", text, kLongTextCapacity));
}

int CDEV_CounterMate::FaceValidateWithIdCard(int timeout, int infrared, double* score,
                                             char* answer, char* photo, char* back_image,
                                             char* front_image, char* scene_photo) {
    const OperationTrace trace("FaceValidateWithIdCard");
    // The answer waits at least as long as the terminal is given to compare.
    const int wait = std::max(timeout + kAnswerMargin, kShortestComparisonWait);
    const int result = RunComparison(*this, FaceCommand(infrared, 0), timeout, wait, score, answer);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(PullAll(*this, {{kCardPhoto, photo},
                                        {kCardBack, back_image},
                                        {kCardFront, front_image},
                                        {kScenePhoto, scene_photo}}));
}

int CDEV_CounterMate::FaceValidateWithIdCard_Base64(int timeout, int infrared, int card_source,
                                                    double* score, char* answer, char* photo,
                                                    char* back_image, char* front_image,
                                                    char* scene_photo) {
    const OperationTrace trace("FaceValidateWithIdCard_Base64");
    const int result = RunComparison(*this, FaceCommand(infrared, card_source), timeout,
                                     timeout + kAnswerMargin, score, answer);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(PullAllAsBase64(*this, {{kCardPhoto, photo, kBase64PictureCapacity},
                                                {kCardBack, back_image, kBase64PictureCapacity},
                                                {kCardFront, front_image, kBase64PictureCapacity},
                                                {kScenePhoto, scene_photo, kBase64PhotoCapacity}}));
}

int CDEV_CounterMate::FingerValidateWithIdCard_Base64(int timeout, double* score, char* answer,
                                                      char* finger_image,
                                                      char* card_finger_data) {
    const OperationTrace trace("FingerValidateWithIdCard_Base64");
    const int result = RunComparison(*this, "FingerValidateWithIdCard", timeout,
                                     timeout + kAnswerMargin, score, answer);
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(
        PullAllAsBase64(*this, {{kComparedFingerprint, finger_image, kBase64PictureCapacity},
                                {kCardFingerData, card_finger_data, kCardFingerDataCapacity}}));
}

int CDEV_CounterMate::FaceValidateWithIdCardPhoto_Base64(int timeout, char* local_card_photo,
                                                         double* score, char* scene_photo) {
    const OperationTrace trace("FaceValidateWithIdCardPhoto_Base64");
    int result = PushAll(*this, {{local_card_photo, kCardPhotoFromPC}});
    if (result == kSuccess) {
        result = RunComparison(*this, "FaceValidateWithIdCardPhoto", timeout,
                               timeout + kAnswerMargin, score, nullptr);
    }
    if (result != kSuccess) return trace.Return(result);
    return trace.Return(
        PullAllAsBase64(*this, {{kScenePhoto, scene_photo, kBase64PhotoCapacity}}));
}

int CDEV_CounterMate::FaceValidateWithPCPhoto(int timeout, char* local_card_photo,
                                              char* local_face_photo, double* score) {
    const OperationTrace trace("FaceValidateWithPCPhoto");
    const int pushed = PushAll(
        *this, {{local_card_photo, kCardPhotoFromPC}, {local_face_photo, kFacePhotoFromPC}});
    if (pushed != kSuccess) return trace.Return(pushed);
    return trace.Return(RunComparison(*this, "FaceValidateWithPCPhoto", timeout,
                                      timeout + kAnswerMargin, score, nullptr));
}

int CDEV_CounterMate::FaceValidateWithFacePhoto(int timeout, char* local_face_photo,
                                                double* score) {
    const OperationTrace trace("FaceValidateWithFacePhoto");
    const int pushed = PushAll(*this, {{local_face_photo, kFacePhotoFromPC}});
    if (pushed != kSuccess) return trace.Return(pushed);
    return trace.Return(RunComparison(*this, "FaceValidateWithFacePhoto", timeout,
                                      timeout + kAnswerMargin, score, nullptr));
}

int CDEV_CounterMate::iReadCardBas(int card_type, char* card_info) {
    const OperationTrace trace("iReadCardBas");
    return trace.Return(RunForText(*this, "iReadCardBas", Params({{"iType", card_type}}),
                                   kCardBasWait, StatusRule::kCancelOrTimeout, "OutInfo",
                                   card_info, kLongTextCapacity));
}

int CDEV_CounterMate::iReadCardBas_HSM_Step1(int card_type, char* card_info) {
    const OperationTrace trace("iReadCardBas_HSM_Step1");
    return trace.Return(RunForText(*this, "iReadCardBas_HSM_Step1", Params({{"iType", card_type}}),
                                   kCardStepWait, StatusRule::kCancelOrTimeout, "OutInfo",
                                   card_info, kLongTextCapacity));
}

int CDEV_CounterMate::iReadCardBas_HSM_Step2(char* key_data, char* card_info) {
    const OperationTrace trace("iReadCardBas_HSM_Step2");
    return trace.Return(RunForText(*this, "iReadCardBas_HSM_Step2",
                                   Params({{"Key", TextOrEmpty(key_data)}}), kCardStepWait,
                                   StatusRule::kCancelOrTimeout, "OutInfo", card_info,
                                   kLongTextCapacity));
}

int CDEV_CounterMate::iReadICCardNum(int timeout, char* card_number) {
    const OperationTrace trace("iReadICCardNum");
    return trace.Return(RunForText(*this, "iReadICCardNum", Params({{"timeOut", timeout}}),
                                   kCardNumberWait, StatusRule::kCommon, "cardNum", card_number,
                                   kLongTextCapacity));
}

int CDEV_CounterMate::CamReadBarCode(char* local_photo, int timeout, char* code) {
    const OperationTrace trace("CamReadBarCode");
    const int pushed = PushAll(*this, {{local_photo, kCodePhoto}});
    if (pushed != kSuccess) return trace.Return(pushed);
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    return trace.Return(RunForText(*this, "CamReadQRCode", Params({{"timeOut", wait}}),
                                   wait + kAnswerMargin, StatusRule::kCancelOrTimeout, "result",
                                   code, kLongTextCapacity));
}
