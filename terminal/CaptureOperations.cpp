// Identity cards, fingerprints, signatures, codes, photos, text recognition and face comparison
// with the terminal's own peripherals. The terminal leaves its pictures and data on its storage;
// they are pulled after a successful answer, in a fixed order, stopping at the first failure.
#include <algorithm>
#include <string>
#include <vector>

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
constexpr const char* kIdentityFields[] = {"name",   "sex",   "birthday",  "address",
                                           "id_num", "maker", "startData", "endDate"};

// A comparison given `timeout`: on success the caller gets the answer text as received and the
// comparison's `score`.
Command Comparison(const char* command, int timeout, int wait) {
    return MakeCommand(command, Params({{"timeOut", timeout}}), wait, StatusRule::kCommon);
}
std::vector<ResultStep> ComparisonResults(double* score, char* answer_text) {
    return {NumberMember{"score", score}, AnswerText{answer_text, kLongTextCapacity}};
}

// Reads an identity card on the terminal; the answer text goes to `card_text`, then `pulls`.
int ReadCard(TerminalOperation& operation, int timeout, int card_source, char* card_text,
             std::vector<ResultStep> pulls) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    pulls.insert(pulls.begin(), AnswerText{card_text, kLongTextCapacity});
    return operation.Run(
        MakeCommand(card_source == 1 ? "idcard_TY" : "idcard", Params({{"timeOut", wait}}),
                    wait + kAnswerMargin, StatusRule::kCancelOrTimeout),
        pulls);
}

// Collects a fingerprint; its data text goes to `finger_data`, then `pulls`.
int TakeFingerprint(TerminalOperation& operation, int timeout, int width, int height,
                    char* finger_data, std::vector<ResultStep> pulls) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    const CJsonObject param = Params({{"timeOut", wait},
                                      {"picType", "ptPng"},
                                      {"picWidth", width},
                                      {"picHeight", height},
                                      {"isPicEqual", 0}});
    pulls.insert(pulls.begin(), TextMember{"fingerDat", finger_data, kFingerDataCapacity});
    return operation.Run(
        MakeCommand("Fingerprint", param, wait + kAnswerMargin, StatusRule::kCancelOrTimeout),
        pulls);
}

// Collects a signature under the signing statement, then `pulls` image and track.
int TakeSignature(TerminalOperation& operation, int timeout, const std::vector<ResultStep>& pulls) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    const CJsonObject param = Params({{"timeOut", wait},
                                      {"voiceText", "请在指定位置签名"},
                                      {"picHeight", 480},
                                      {"picWidth", 640},
                                      {"picType", "ptPng"},
                                      {"isPicEqual", 1},
                                      {"declText", "签名区域"}});
    return operation.Run(
        MakeCommand("SigningStatement", param, wait + kAnswerMargin, StatusRule::kCancelOrTimeout),
        pulls);
}

const char* FaceCommand(int infrared, int card_source) {
    if (infrared != 0) {
        return card_source == 1 ? "FaceValidateWithIdCardIR_TY" : "FaceValidateWithIdCardIR";
    }
    return card_source == 1 ? "FaceValidateWithIdCard_TY" : "FaceValidateWithIdCard";
}

// A command that answers with one text member of `data`.
int TextCommand(CDEV_CounterMate& driver, const char* operation, const char* command,
                const CJsonObject& param, int wait, StatusRule rule, const char* member, char* out,
                std::initializer_list<FilePush> pushes = {}) {
    return TerminalOperation(driver, operation)
        .Run(pushes, MakeCommand(command, param, wait, rule),
             {TextMember{member, out, kLongTextCapacity}});
}

}  // namespace

int CDEV_CounterMate::ReadIDCard(int timeout, int card_source, char* answer, const char* photo,
                                 const char* back_image, const char* front_image) {
    TerminalOperation operation(*this, "ReadIDCard");
    return ReadCard(operation, timeout, card_source, answer,
                    {FilePull{kCardPhoto, photo}, FilePull{kCardBack, back_image},
                     FilePull{kCardFront, front_image}});
}

int CDEV_CounterMate::ReadIDCard_Base64(int timeout, int card_source, char* answer, char* photo,
                                        char* front_image, char* back_image) {
    TerminalOperation operation(*this, "ReadIDCard_Base64");
    return ReadCard(operation, timeout, card_source, answer,
                    {Base64Pull{kCardPhoto, photo, kBase64PictureCapacity},
                     Base64Pull{kCardBack, back_image, kBase64PictureCapacity},
                     Base64Pull{kCardFront, front_image, kBase64PictureCapacity}});
}

int CDEV_CounterMate::ReadIdentityCard(char* identity_fields, char* message) {
    TerminalOperation operation(*this, "ReadIdentityCard");
    std::string photo(static_cast<size_t>(kBase64PictureCapacity), '\0');
    int result = operation.Send(
        MakeCommand("KVIdcard", Params({{"timeOut", kCaptureDefaultTimeout}}), kIdentityCardWait,
                    StatusRule::kCancelOrTimeout, kIdentityAnswerBytes));
    if (result == kSuccess) {
        result = operation.Apply({Base64Pull{kCardPhoto, &photo[0], kBase64PictureCapacity}});
    }
    if (result == kSuccess) {
        const CJsonObject data = operation.Data();
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
    return operation.Return(result);
}

int CDEV_CounterMate::GetFingerPrint(int timeout, int width, int height, char* image,
                                     char* finger_data) {
    TerminalOperation operation(*this, "GetFingerPrint");
    return TakeFingerprint(operation, timeout, width, height, finger_data,
                           {FilePull{kFingerprintImage, image}});
}

int CDEV_CounterMate::GetFingerPrint_Base64(int timeout, int width, int height, char* image,
                                            char* finger_data) {
    TerminalOperation operation(*this, "GetFingerPrint_Base64");
    return TakeFingerprint(operation, timeout, width, height, finger_data,
                           {Base64Pull{kFingerprintImage, image, kBase64PictureCapacity}});
}

int CDEV_CounterMate::GetSignName(int timeout, char* sign_image, char* sign_track) {
    TerminalOperation operation(*this, "GetSignName");
    return TakeSignature(
        operation, timeout,
        {FilePull{kSignatureImage, sign_image}, FilePull{kSignatureTrack, sign_track}});
}

int CDEV_CounterMate::GetSignName_Base64(int timeout, char* sign_image) {
    TerminalOperation operation(*this, "GetSignName_Base64");
    return TakeSignature(operation, timeout,
                         {Base64Pull{kSignatureImage, sign_image, kBase64PictureCapacity}});
}

int CDEV_CounterMate::ReadQR(int timeout, char* code) {
    return TextCommand(*this, "ReadQR", "ReadQR", Params({{"timeOut", timeout}}),
                       timeout + kAnswerMargin, StatusRule::kNotRead, "code", code);
}

int CDEV_CounterMate::ReadQR_Qinglan(int timeout, char* code) {
    return TextCommand(*this, "ReadQR_Qinglan", "ReadQR_Qinglan", Params({{"timeOut", timeout}}),
                       timeout + kAnswerMargin, StatusRule::kNotRead, "code", code);
}

int CDEV_CounterMate::GetPhoto_Base64(int timeout, char* photo) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    return TerminalOperation(*this, "GetPhoto_Base64")
        .Run(MakeCommand("TakePhoto", Params({{"timeOut", wait}}), wait + kAnswerMargin,
                         StatusRule::kCommon, kPhotoAnswerBytes),
             {TextMember{"photoBase64", photo, kBase64PhotoCapacity}});
}

int CDEV_CounterMate::SignaturePlayback(int timeout, char* local_track) {
    return TerminalOperation(*this, "SignaturePlayback")
        .Run({{local_track, kPlaybackTrack}},
             MakeCommand("SignaturePlayback", Params({{"timeOut", timeout}}), timeout,
                         StatusRule::kCommon));
}

int CDEV_CounterMate::PictureOCR(int timeout, char* local_picture, char* text) {
    return TextCommand(*this, "PictureOCR", "OCR", Params({{"timeOut", timeout}}), timeout,
                       StatusRule::kCommon, "result", text, {{local_picture, kOcrPicture}});
}

int CDEV_CounterMate::FaceValidateWithIdCard(int timeout, int infrared, double* score, char* answer,
                                             char* photo, char* back_image, char* front_image,
                                             char* scene_photo) {
    // The answer waits at least as long as the terminal is given to compare.
    const int wait = std::max(timeout + kAnswerMargin, kShortestComparisonWait);
    std::vector<ResultStep> steps = ComparisonResults(score, answer);
    steps.insert(steps.end(),
                 {FilePull{kCardPhoto, photo}, FilePull{kCardBack, back_image},
                  FilePull{kCardFront, front_image}, FilePull{kScenePhoto, scene_photo}});
    return TerminalOperation(*this, "FaceValidateWithIdCard")
        .Run(Comparison(FaceCommand(infrared, 0), timeout, wait), steps);
}

int CDEV_CounterMate::FaceValidateWithIdCard_Base64(int timeout, int infrared, int card_source,
                                                    double* score, char* answer, char* photo,
                                                    char* back_image, char* front_image,
                                                    char* scene_photo) {
    std::vector<ResultStep> steps = ComparisonResults(score, answer);
    steps.insert(steps.end(), {Base64Pull{kCardPhoto, photo, kBase64PictureCapacity},
                               Base64Pull{kCardBack, back_image, kBase64PictureCapacity},
                               Base64Pull{kCardFront, front_image, kBase64PictureCapacity},
                               Base64Pull{kScenePhoto, scene_photo, kBase64PhotoCapacity}});
    return TerminalOperation(*this, "FaceValidateWithIdCard_Base64")
        .Run(Comparison(FaceCommand(infrared, card_source), timeout, timeout + kAnswerMargin),
             steps);
}

int CDEV_CounterMate::FingerValidateWithIdCard_Base64(int timeout, double* score, char* answer,
                                                      char* finger_image, char* card_finger_data) {
    std::vector<ResultStep> steps = ComparisonResults(score, answer);
    steps.insert(steps.end(),
                 {Base64Pull{kComparedFingerprint, finger_image, kBase64PictureCapacity},
                  Base64Pull{kCardFingerData, card_finger_data, kCardFingerDataCapacity}});
    return TerminalOperation(*this, "FingerValidateWithIdCard_Base64")
        .Run(Comparison("FingerValidateWithIdCard", timeout, timeout + kAnswerMargin), steps);
}

int CDEV_CounterMate::FaceValidateWithIdCardPhoto_Base64(int timeout, char* local_card_photo,
                                                         double* score, char* scene_photo) {
    return TerminalOperation(*this, "FaceValidateWithIdCardPhoto_Base64")
        .Run({{local_card_photo, kCardPhotoFromPC}},
             Comparison("FaceValidateWithIdCardPhoto", timeout, timeout + kAnswerMargin),
             {NumberMember{"score", score},
              Base64Pull{kScenePhoto, scene_photo, kBase64PhotoCapacity}});
}

int CDEV_CounterMate::FaceValidateWithPCPhoto(int timeout, char* local_card_photo,
                                              char* local_face_photo, double* score) {
    return TerminalOperation(*this, "FaceValidateWithPCPhoto")
        .Run({{local_card_photo, kCardPhotoFromPC}, {local_face_photo, kFacePhotoFromPC}},
             Comparison("FaceValidateWithPCPhoto", timeout, timeout + kAnswerMargin),
             {NumberMember{"score", score}});
}

int CDEV_CounterMate::FaceValidateWithFacePhoto(int timeout, char* local_face_photo,
                                                double* score) {
    return TerminalOperation(*this, "FaceValidateWithFacePhoto")
        .Run({{local_face_photo, kFacePhotoFromPC}},
             Comparison("FaceValidateWithFacePhoto", timeout, timeout + kAnswerMargin),
             {NumberMember{"score", score}});
}

int CDEV_CounterMate::iReadCardBas(int card_type, char* card_info) {
    return TextCommand(*this, "iReadCardBas", "iReadCardBas", Params({{"iType", card_type}}),
                       kCardBasWait, StatusRule::kCancelOrTimeout, "OutInfo", card_info);
}

int CDEV_CounterMate::iReadCardBas_HSM_Step1(int card_type, char* card_info) {
    return TextCommand(*this, "iReadCardBas_HSM_Step1", "iReadCardBas_HSM_Step1",
                       Params({{"iType", card_type}}), kCardStepWait, StatusRule::kCancelOrTimeout,
                       "OutInfo", card_info);
}

int CDEV_CounterMate::iReadCardBas_HSM_Step2(char* key_data, char* card_info) {
    return TextCommand(*this, "iReadCardBas_HSM_Step2", "iReadCardBas_HSM_Step2",
                       Params({{"Key", TextOrEmpty(key_data)}}), kCardStepWait,
                       StatusRule::kCancelOrTimeout, "OutInfo", card_info);
}

int CDEV_CounterMate::iReadICCardNum(int timeout, char* card_number) {
    return TextCommand(*this, "iReadICCardNum", "iReadICCardNum", Params({{"timeOut", timeout}}),
                       kCardNumberWait, StatusRule::kCommon, "cardNum", card_number);
}

int CDEV_CounterMate::CamReadBarCode(char* local_photo, int timeout, char* code) {
    const int wait = TimeoutOr(timeout, kCaptureDefaultTimeout);
    return TextCommand(*this, "CamReadBarCode", "CamReadQRCode", Params({{"timeOut", wait}}),
                       wait + kAnswerMargin, StatusRule::kCancelOrTimeout, "result", code,
                       {{local_photo, kCodePhoto}});
}
