// Document signing: the customer reads a PDF or OFD document on the terminal, confirms it, signs
// it, presses a fingerprint on it, or both, optionally on video; the signed document, the
// signature and fingerprint images, the signature track and the video are pulled afterwards,
// into local files or as Base64 texts.
//
// Each operation pushes the document, sends one signing command, judges its outcome and pulls
// its results, stopping at the first failure; what was pulled before a failure stays in place.
// Base64 texts the driver allocates are released again by the driver when their pull fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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

constexpr int kSigningDefaultTimeout = 60;
// Signing positions the terminal can read are longer than this.
constexpr size_t kShortestPositions = 3;

constexpr const char* kShowPdfSignDocument = "/sdcard/ZR/CounterMate/temp/temp.pdf";
constexpr const char* kSourcePdf = "/sdcard/ZR/CounterMate/temp/srcPdf.pdf";
constexpr const char* kOfdDocument = "/sdcard/ZR/CounterMate/sign/ofd/0.ofd";
constexpr const char* kShowPdfSignImage = "/sdcard/ZR/CounterMate/temp/signatrue.png";
constexpr const char* kShowPdfSignTrack = "/sdcard/ZR/CounterMate/temp/signatrue.txt";
constexpr const char* kShowPdfFingerImage = "/sdcard/ZR/CounterMate/temp/bitmaRed.png";
constexpr const char* kSignedPdfFolder = "/sdcard/ZR/CounterMate/out/sign/pdf/";
constexpr const char* kSignImageFolder = "/sdcard/ZR/CounterMate/out/sign/signImg/";
constexpr const char* kFingerImageFolder = "/sdcard/ZR/CounterMate/out/sign/fingerImg/";
constexpr const char* kSignTrack = "/sdcard/ZR/CounterMate/out/sign/signXml/signTrack64.xml";
constexpr const char* kSingleImageTrack = "/sdcard/ZR/Countermate/temp/voice_signatrue.txt";
constexpr const char* kPdfVideo = "/sdcard/ZR/CounterMate/out/sign/video/sign.mp4";
constexpr const char* kSignedOfd = "/sdcard/ZR/CounterMate/out/sign/ofd/signed.ofd";
constexpr const char* kOfdVideo = "/sdcard/ZR/CounterMate/out/sign/video/signedVideo.mp4";

// The confirmation for the signing outcome: 1 confirmed, 2 cancelled, 3 timed out, 4 refused;
// 0 for an outcome that leaves the confirmation as it was.
int Confirmation(int status_code) {
    switch (status_code) {
        case 0: return 1;
        case 1: return 2;
        case 2:
        case 3: return 3;
        case 4: return 4;
        default: return 0;
    }
}

// Sign types: 0 read and confirm, 1 signature, 2 fingerprint, 3 both.
bool Signs(int sign_type) { return sign_type == 1 || sign_type == 3; }
bool PressesFinger(int sign_type) { return sign_type == 2 || sign_type == 3; }

// The voice prompt of the OFD commands for a sign type.
const char* VoicePrompt(int sign_type) {
    switch (sign_type) {
        case 1: return "请阅读文档后签名";
        case 2: return "请阅读文档后按捺指纹";
        case 3: return "请阅读文档后签名并按捺指纹";
        default: return "请阅读文档后确认";
    }
}

bool PositionsTooShort(const char* positions) {
    return positions == nullptr || std::strlen(positions) <= kShortestPositions;
}

// ---- outcomes, judged after `success` ----

using Outcome = int (*)(const TerminalOperation&);

// The points family reports in data.statusCode: 1 cancelled, 2 timed out, 4 refused, -1 failed.
int PointsOutcome(const TerminalOperation& operation) {
    switch (operation.DataInteger("statusCode")) {
        case 1: return kCancelled;
        case 2: return kTimedOut;
        case 4: return kSignatureRefused;
        case -1: return kTerminalFailed;
        default: return kSuccess;
    }
}

// The coordinates and multi-document families report in data.confirmResult: 3 timed out,
// 4 cancelled.
int ConfirmResultOutcome(const TerminalOperation& operation) {
    switch (operation.DataInteger("confirmResult")) {
        case 3: return kTimedOut;
        case 4: return kCancelled;
        default: return kSuccess;
    }
}

// The OFD family and "ShowPdfSign" report at the top level, judged by the command's rule.
int JudgedByRule(const TerminalOperation&) { return kSuccess; }

// ---- commands ----

Command PdfPointsCommand(bool certified, int wait, int sign_type) {
    return MakeCommand(certified ? "ShowPdfSignOrFingerWithCms" : "ShowPdfSignOrFinger",
                       Params({{"timeout", wait}, {"signtype", sign_type}}), wait + kAnswerMargin,
                       StatusRule::kNotRead);
}

Command PdfCoordinatesCommand(bool certified, int wait, int sign_type, const char* positions,
                              int record_video) {
    return MakeCommand(
        certified ? "ShowPdfSignOrFingerCoordinatesWithCms" : "ShowPdfSignOrFingerCoordinates",
        Params({{"timeout", wait},
                {"signtype", sign_type},
                {"pos", TextOrEmpty(positions)},
                {"isVideo", record_video}}),
        wait + kAnswerMargin, StatusRule::kNotRead);
}

// The OFD command; with positions (not null) the coordinates command.
Command OfdCommand(bool certified, int wait, int sign_type, int record_video,
                   const char* positions) {
    CJsonObject param = Params({{"timeout", wait},
                                {"signtype", sign_type},
                                {"isVideo", record_video},
                                {"voice", VoicePrompt(sign_type)}});
    const char* name = certified ? "ShowOfdSignOrFingerWithCms" : "ShowOfdSignOrFinger";
    if (positions != nullptr) {
        param.Add("pos", positions);
        name = certified ? "ShowOfdSignOrFingerCoordinatesWithCms"
                         : "ShowOfdSignOrFingerCoordinates";
    }
    return MakeCommand(name, param, wait + kAnswerMargin, StatusRule::kCommon);
}

// ---- results ----

std::string Indexed(const char* folder, int index) { return folder + std::to_string(index); }

// "%s/sign%02d.jpg" or "%s/finger%02d.jpg" in the caller's folder.
std::string LocalImage(const char* folder, const char* stem, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "/%s%02d.jpg", stem, index);
    return std::string(folder) + name;
}

struct SigningCounts {
    int pdf;
    int sign_images;
    int finger_images;
};

SigningCounts Counts(const TerminalOperation& operation) {
    return {operation.DataInteger("pdfCount"), operation.DataInteger("signImgCount"),
            operation.DataInteger("fingerImgCount")};
}

std::string SignedPdf(const SigningCounts& counts) { return Indexed(kSignedPdfFolder, counts.pdf); }

// Every image of a set into the caller's folder; nothing when the folder is empty.
void AddImageSet(std::vector<ResultStep>& steps, const char* terminal_folder,
                 const char* local_folder, const char* stem, int count) {
    if (IsEmpty(local_folder)) return;
    for (int index = 0; index < count; ++index) {
        steps.push_back(FilePull{Indexed(terminal_folder, index),
                                 LocalImage(local_folder, stem, index), kSignatureImageFailed});
    }
}

// The last image of a set into one file, when there is one.
void AddLastImage(std::vector<ResultStep>& steps, const char* terminal_folder, const char* local,
                  int count) {
    if (count < 1) return;
    steps.push_back(FilePull{Indexed(terminal_folder, count - 1), local, kSignatureImageFailed});
}

// The first image of a set as an allocated Base64 text; an allocated empty text when there is
// none.
ResultStep FirstImageAsBase64(const char* terminal_folder, int count, char** out) {
    return AllocatedBase64Pull{count < 1 ? std::string() : Indexed(terminal_folder, 0), out};
}

// The signed PDF, then the images in folders and the signature track (the points and
// coordinates operations that write files).
std::vector<ResultStep> FolderResults(const TerminalOperation& operation, int sign_type,
                                      const char* signed_pdf, const char* sign_folder,
                                      const char* track, const char* finger_folder) {
    const SigningCounts counts = Counts(operation);
    std::vector<ResultStep> steps{FilePull{SignedPdf(counts), signed_pdf}};
    if (Signs(sign_type)) {
        AddImageSet(steps, kSignImageFolder, sign_folder, "sign", counts.sign_images);
        steps.push_back(FilePull{kSignTrack, track});
    }
    if (PressesFinger(sign_type)) {
        AddImageSet(steps, kFingerImageFolder, finger_folder, "finger", counts.finger_images);
    }
    return steps;
}

// The signed PDF, the last signature image, its track and the last fingerprint image, each to
// one file (the variants behind the ShowDocument operations).
std::vector<ResultStep> SingleImageResults(const TerminalOperation& operation, int sign_type,
                                           const char* signed_pdf, const char* sign_image,
                                           const char* track, const char* finger_image) {
    const SigningCounts counts = Counts(operation);
    std::vector<ResultStep> steps{FilePull{SignedPdf(counts), signed_pdf}};
    if (Signs(sign_type)) {
        AddLastImage(steps, kSignImageFolder, sign_image, counts.sign_images);
        steps.push_back(FilePull{kSingleImageTrack, track});
    }
    if (PressesFinger(sign_type)) {
        AddLastImage(steps, kFingerImageFolder, finger_image, counts.finger_images);
    }
    return steps;
}

// The outputs of the OFD operations: the terminal names the paths of the signature image, the
// signature data and the fingerprint image in its answer.
struct OfdOutputs {
    const char* signed_ofd;
    const char* sign_image;
    const char* sign_data;
    const char* finger_image;
    const char* video;  // null: no video pulled
};

std::vector<ResultStep> OfdResults(const TerminalOperation& operation, int sign_type,
                                   const OfdOutputs& outputs) {
    const CJsonObject data = operation.Data();
    std::vector<ResultStep> steps{FilePull{kSignedOfd, outputs.signed_ofd}};
    const auto add = [&](const char* member, const char* local) {
        std::string terminal_path;
        data.Get(member, terminal_path);
        if (!terminal_path.empty())
            steps.push_back(FilePull{terminal_path, local, kSignatureImageFailed});
    };
    if (Signs(sign_type)) {
        add("signPath", outputs.sign_image);
        add("signDataPath", outputs.sign_data);
    }
    if (PressesFinger(sign_type)) add("fingerPath", outputs.finger_image);
    if (outputs.video != nullptr) steps.push_back(FilePull{kOfdVideo, outputs.video});
    return steps;
}

struct OfdBase64Outputs {
    char** signed_ofd;
    char** sign_image;
    char** sign_data;
    char** finger_image;
    char** video;  // null: no video pulled
};

std::vector<ResultStep> OfdBase64Results(const TerminalOperation& operation, int sign_type,
                                         const OfdBase64Outputs& outputs) {
    const CJsonObject data = operation.Data();
    std::vector<ResultStep> steps{AllocatedBase64Pull{kSignedOfd, outputs.signed_ofd}};
    const auto add = [&](const char* member, char** out) {
        std::string terminal_path;
        data.Get(member, terminal_path);
        steps.push_back(AllocatedBase64Pull{terminal_path, out, kSignatureImageFailed});
    };
    if (Signs(sign_type)) {
        add("signPath", outputs.sign_image);
        add("signDataPath", outputs.sign_data);
    }
    if (PressesFinger(sign_type)) add("fingerPath", outputs.finger_image);
    if (outputs.video != nullptr) steps.push_back(AllocatedBase64Pull{kOfdVideo, outputs.video});
    return steps;
}

// ---- the signing run ----

using Results = std::function<std::vector<ResultStep>(const TerminalOperation&)>;

struct Signing {
    FilePush document;
    Command command;
    Outcome outcome;
    int sign_type;
    bool confirmation_pulls_nothing;  // PDF signings: sign type 0 only confirms
};

// Pushes the document, sends the command, judges its outcome, then applies the results the
// answer names. Logs and returns the result.
int RunSigning(TerminalOperation& operation, const Signing& signing, const Results& results) {
    int result = operation.Push({signing.document});
    if (result == kSuccess) result = operation.Send(signing.command);
    if (result == kSuccess) result = signing.outcome(operation);
    const bool nothing_to_pull = signing.confirmation_pulls_nothing && signing.sign_type == 0;
    if (result == kSuccess && !nothing_to_pull) result = operation.Apply(results(operation));
    return operation.Return(result);
}

void LogCoordinatesAnswer(const TerminalOperation& operation, int result) {
    const SigningCounts counts = Counts(operation);
    const char* name = operation.name();
    CTM_TRACE(LOG_LEVEL_INFO, name, "ShowPdfSignOrFingerCoordinates，ret=%d\n", result);
    CTM_TRACE(LOG_LEVEL_INFO, name, "pdfCount=%d\n", counts.pdf);
    CTM_TRACE(LOG_LEVEL_INFO, name, "signImgCount=%d\n", counts.sign_images);
    CTM_TRACE(LOG_LEVEL_INFO, name, "fingerImgCount=%d\n", counts.finger_images);
}

// The PDF coordinates outcome, with the answer's counts logged.
int CoordinatesOutcome(const TerminalOperation& operation) {
    const int result = ConfirmResultOutcome(operation);
    LogCoordinatesAnswer(operation, result);
    return result;
}

int Wait(int timeout) { return TimeoutOr(timeout, kSigningDefaultTimeout); }

// ---- the variants behind the ShowDocument operations ----

int ShowPdfSignAndFingerPointEx(CDEV_CounterMate& driver, bool certified, int timeout,
                                int sign_type, char* pdf, char* signed_pdf, char* sign_image,
                                char* track, char* finger_image) {
    TerminalOperation operation(driver, "ShowPdfSignAndFingerPointEx");
    return RunSigning(operation,
                      {{pdf, kSourcePdf},
                       PdfPointsCommand(certified, Wait(timeout), sign_type),
                       PointsOutcome,
                       sign_type,
                       true},
                      [&](const TerminalOperation& answered) {
                          return SingleImageResults(answered, sign_type, signed_pdf, sign_image,
                                                    track, finger_image);
                      });
}

int ShowPdfSignOrFingerCoordinatesEx(CDEV_CounterMate& driver, bool certified, int timeout,
                                     int sign_type, char* pdf, int record_video, char* positions,
                                     char* signed_pdf, char* sign_image, char* track,
                                     char* finger_image, char* video) {
    TerminalOperation operation(driver, "ShowPdfSignOrFingerCoordinatesEx");
    if (PositionsTooShort(positions)) return operation.Return(kBadArgument);
    return RunSigning(
        operation,
        {{pdf, kSourcePdf},
         PdfCoordinatesCommand(certified, Wait(timeout), sign_type, positions, record_video),
         CoordinatesOutcome,
         sign_type,
         true},
        [&](const TerminalOperation& answered) {
            std::vector<ResultStep> steps = SingleImageResults(answered, sign_type, signed_pdf,
                                                               sign_image, track, finger_image);
            if (record_video == 1) steps.insert(steps.begin() + 1, FilePull{kPdfVideo, video});
            return steps;
        });
}

int PdfPointsAsBase64(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
                      int sign_type, char* pdf, char** signed_pdf, char** sign_image,
                      char** finger_image) {
    TerminalOperation operation(driver, name);
    return RunSigning(
        operation,
        {{pdf, kSourcePdf},
         PdfPointsCommand(certified, Wait(timeout), sign_type),
         PointsOutcome,
         sign_type,
         true},
        [&](const TerminalOperation& answered) {
            const SigningCounts counts = Counts(answered);
            return std::vector<ResultStep>{
                AllocatedBase64Pull{SignedPdf(counts), signed_pdf},
                FirstImageAsBase64(kSignImageFolder, counts.sign_images, sign_image),
                FirstImageAsBase64(kFingerImageFolder, counts.finger_images, finger_image)};
        });
}

int PdfCoordinatesAsBase64(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
                           int sign_type, char* pdf, int record_video, char* positions,
                           char** signed_pdf, char** sign_image, char** finger_image,
                           char** video) {
    TerminalOperation operation(driver, name);
    if (PositionsTooShort(positions)) return operation.Return(kBadArgument);
    return RunSigning(
        operation,
        {{pdf, kSourcePdf},
         PdfCoordinatesCommand(certified, Wait(timeout), sign_type, positions, record_video),
         CoordinatesOutcome,
         sign_type,
         true},
        [&](const TerminalOperation& answered) {
            const SigningCounts counts = Counts(answered);
            return std::vector<ResultStep>{
                AllocatedBase64Pull{SignedPdf(counts), signed_pdf},
                AllocatedBase64Pull{record_video == 1 ? kPdfVideo : "", video},
                FirstImageAsBase64(kSignImageFolder, counts.sign_images, sign_image),
                FirstImageAsBase64(kFingerImageFolder, counts.finger_images, finger_image)};
        });
}

// The OFD signing into files; `positions` null for the points command.
int OfdToFiles(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
               int sign_type, char* ofd, int record_video, const char* positions,
               OfdOutputs outputs) {
    TerminalOperation operation(driver, name);
    if (positions != nullptr && PositionsTooShort(positions)) return operation.Return(kBadArgument);
    return RunSigning(operation,
                      {{ofd, kOfdDocument},
                       OfdCommand(certified, Wait(timeout), sign_type, record_video, positions),
                       JudgedByRule,
                       sign_type,
                       false},
                      [&](const TerminalOperation& answered) {
                          return OfdResults(answered, sign_type, outputs);
                      });
}

int OfdAsBase64(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
                int sign_type, char* ofd, int record_video, const char* positions,
                OfdBase64Outputs outputs) {
    TerminalOperation operation(driver, name);
    if (positions != nullptr && PositionsTooShort(positions)) return operation.Return(kBadArgument);
    return RunSigning(operation,
                      {{ofd, kOfdDocument},
                       OfdCommand(certified, Wait(timeout), sign_type, record_video, positions),
                       JudgedByRule,
                       sign_type,
                       false},
                      [&](const TerminalOperation& answered) {
                          return OfdBase64Results(answered, sign_type, outputs);
                      });
}

// ---- the ShowDocument operations: the document's extension chooses PDF or OFD ----

enum class DocumentKind { kPdf, kOfd, kOther };

// The text after the last ".", compared as it is: "PDF" is neither kind.
DocumentKind KindOf(const char* document) {
    const char* dot = std::strrchr(document, '.');
    if (dot == nullptr) return DocumentKind::kOther;
    if (std::strcmp(dot + 1, "pdf") == 0) return DocumentKind::kPdf;
    if (std::strcmp(dot + 1, "ofd") == 0) return DocumentKind::kOfd;
    return DocumentKind::kOther;
}

// Runs `pdf` or `ofd` by the document's kind under the operation's own trace; a document
// without a path, or of neither kind, is refused (-1) and no signing runs.
int ByDocumentKind(CDEV_CounterMate& driver, const char* name, const char* document,
                   const std::function<int()>& pdf, const std::function<int()>& ofd) {
    TerminalOperation operation(driver, name);
    if (IsEmpty(document)) return operation.Return(kBadArgument);
    switch (KindOf(document)) {
        case DocumentKind::kPdf: return operation.Return(pdf());
        case DocumentKind::kOfd: return operation.Return(ofd());
        case DocumentKind::kOther: break;
    }
    CTM_TRACE(LOG_LEVEL_ERROR, name, "neither a pdf nor an ofd document: %s", document);
    return operation.Return(kBadArgument);
}

int DocumentPoints(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
                   int record_video, int sign_type, char* document, char* signed_document,
                   char* sign_image, char* sign_data, char* finger_image, char* video) {
    return ByDocumentKind(
        driver, name, document,
        [&] {
            return ShowPdfSignAndFingerPointEx(driver, certified, timeout, sign_type, document,
                                               signed_document, sign_image, sign_data,
                                               finger_image);
        },
        [&] {
            return OfdToFiles(driver, "ShowOfdSignAndFingerPoint", certified, timeout, sign_type,
                              document, record_video, nullptr,
                              {signed_document, sign_image, sign_data, finger_image, nullptr});
        });
}

int DocumentCoordinates(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
                        int record_video, int sign_type, char* document, char* positions,
                        char* signed_document, char* sign_image, char* sign_data,
                        char* finger_image, char* video) {
    return ByDocumentKind(
        driver, name, document,
        [&] {
            return ShowPdfSignOrFingerCoordinatesEx(driver, certified, timeout, sign_type, document,
                                                    record_video, positions, signed_document,
                                                    sign_image, sign_data, finger_image, video);
        },
        [&] {
            const char* ofd_video = record_video == 1 && !IsEmpty(video) ? video : nullptr;
            return OfdToFiles(driver, "ShowOfdSignOrFingerCoordinates", certified, timeout,
                              sign_type, document, record_video, TextOrEmpty(positions),
                              {signed_document, sign_image, sign_data, finger_image, ofd_video});
        });
}

int DocumentPointsAsBase64(CDEV_CounterMate& driver, const char* name, bool certified, int timeout,
                           int record_video, int sign_type, char* document, char** signed_document,
                           char** sign_image, char** sign_data, char** finger_image, char** video) {
    return ByDocumentKind(
        driver, name, document,
        [&] {
            return PdfPointsAsBase64(driver,
                                     certified ? "ShowPdfSignAndFingerPointWithCms_Base64"
                                               : "ShowPdfSignAndFingerPoint_Base64",
                                     certified, timeout, sign_type, document, signed_document,
                                     sign_image, finger_image);
        },
        [&] {
            return OfdAsBase64(driver, "ShowOfdSignAndFingerPoint_Base64", certified, timeout,
                               sign_type, document, record_video, nullptr,
                               {signed_document, sign_image, sign_data, finger_image,
                                record_video == 1 ? video : nullptr});
        });
}

int DocumentCoordinatesAsBase64(CDEV_CounterMate& driver, const char* name, bool certified,
                                int timeout, int record_video, int sign_type, char* document,
                                char* positions, char** signed_document, char** sign_image,
                                char** sign_data, char** finger_image, char** video) {
    return ByDocumentKind(
        driver, name, document,
        [&] {
            return PdfCoordinatesAsBase64(driver,
                                          certified ? "ShowPdfSignOrFingerCoordinatesWithCms_Base64"
                                                    : "ShowPdfSignOrFingerCoordinates_Base64",
                                          certified, timeout, sign_type, document, record_video,
                                          positions, signed_document, sign_image, finger_image,
                                          video);
        },
        [&] {
            return OfdAsBase64(driver, "ShowOfdSignOrFingerCoordinates_Base64", certified, timeout,
                               sign_type, document, record_video, TextOrEmpty(positions),
                               {signed_document, sign_image, sign_data, finger_image,
                                record_video == 1 ? video : nullptr});
        });
}

}  // namespace

int CDEV_CounterMate::ShowPdfAndConfirm(int timeout, char* local_pdf, int* confirmation) {
    TerminalOperation operation(*this, "ShowPdfAndConfirm");
    int result = operation.Push({{local_pdf, kSourcePdf}});
    if (result != kSuccess) return operation.Return(result);
    result = operation.Send(PdfPointsCommand(false, Wait(timeout), 0));
    // Without an answer there is no outcome: the confirmation is left as the caller set it.
    const int confirmed = result == kSuccess ? Confirmation(operation.DataInteger("statusCode"))
                                             : 0;
    if (confirmed != 0 && confirmation != nullptr) *confirmation = confirmed;
    return operation.Return(result);
}

int CDEV_CounterMate::ShowPdfSign(int timeout, int sign_type, char* local_pdf, char* sign_image,
                                  char* sign_track, char* finger_image) {
    TerminalOperation operation(*this, "ShowPdfSign");
    const int wait = Wait(timeout);
    return RunSigning(
        operation,
        {{local_pdf, kShowPdfSignDocument},
         MakeCommand("ShowPdfSign", Params({{"timeOut", wait}, {"signtype", sign_type}}),
                     wait + kAnswerMargin, StatusRule::kCancelOrTimeout),
         JudgedByRule,
         sign_type,
         false},
        [&](const TerminalOperation&) {
            std::vector<ResultStep> steps;
            if (Signs(sign_type)) {
                steps.push_back(FilePull{kShowPdfSignImage, sign_image});
                steps.push_back(FilePull{kShowPdfSignTrack, sign_track});
            }
            if (PressesFinger(sign_type))
                steps.push_back(FilePull{kShowPdfFingerImage, finger_image});
            return steps;
        });
}

int CDEV_CounterMate::ShowPdfSign_Base64(int timeout, int sign_type, char* local_pdf,
                                         char* sign_image, char* finger_image) {
    TerminalOperation operation(*this, "ShowPdfSign_Base64");
    if (sign_image != nullptr) *sign_image = '\0';
    if (finger_image != nullptr) *finger_image = '\0';
    const int wait = Wait(timeout);
    return RunSigning(
        operation,
        {{local_pdf, kShowPdfSignDocument},
         MakeCommand("ShowPdfSign", Params({{"timeOut", wait}, {"signtype", sign_type}}),
                     wait + kAnswerMargin, StatusRule::kCancelOrTimeout),
         JudgedByRule,
         sign_type,
         false},
        [&](const TerminalOperation&) {
            std::vector<ResultStep> steps;
            if (Signs(sign_type)) {
                steps.push_back(Base64Pull{kShowPdfSignImage, sign_image, kBase64PictureCapacity});
            }
            if (PressesFinger(sign_type)) {
                steps.push_back(
                    Base64Pull{kShowPdfFingerImage, finger_image, kBase64PictureCapacity});
            }
            return steps;
        });
}

int CDEV_CounterMate::ShowPdfSignAndFingerPoint(int timeout, int sign_type, char* local_pdf,
                                                char* signed_pdf, char* sign_image_folder,
                                                char* sign_track, char* finger_image_folder) {
    TerminalOperation operation(*this, "ShowPdfSignAndFingerPoint");
    return RunSigning(operation,
                      {{local_pdf, kSourcePdf},
                       PdfPointsCommand(false, Wait(timeout), sign_type),
                       PointsOutcome,
                       sign_type,
                       true},
                      [&](const TerminalOperation& answered) {
                          return FolderResults(answered, sign_type, signed_pdf, sign_image_folder,
                                               sign_track, finger_image_folder);
                      });
}

int CDEV_CounterMate::ShowPdfSignAndFingerPoint_Base64(int timeout, int sign_type, char* local_pdf,
                                                       char** signed_pdf, char** sign_image,
                                                       char** finger_image) {
    return PdfPointsAsBase64(*this, "ShowPdfSignAndFingerPoint_Base64", false, timeout, sign_type,
                             local_pdf, signed_pdf, sign_image, finger_image);
}

int CDEV_CounterMate::ShowPdfSignOrFingerCoordinates(int timeout, int sign_type, char* local_pdf,
                                                     int record_video, char* positions,
                                                     char* signed_pdf, char* sign_image_folder,
                                                     char* sign_track, char* finger_image_folder,
                                                     char* video) {
    TerminalOperation operation(*this, "ShowPdfSignOrFingerCoordinates");
    if (PositionsTooShort(positions)) return operation.Return(kBadArgument);
    return RunSigning(
        operation,
        {{local_pdf, kSourcePdf},
         PdfCoordinatesCommand(false, Wait(timeout), sign_type, positions, record_video),
         CoordinatesOutcome,
         sign_type,
         true},
        [&](const TerminalOperation& answered) {
            std::vector<ResultStep> steps = FolderResults(answered, sign_type, signed_pdf,
                                                          sign_image_folder, sign_track,
                                                          finger_image_folder);
            if (record_video == 1) steps.insert(steps.begin() + 1, FilePull{kPdfVideo, video});
            return steps;
        });
}

int CDEV_CounterMate::ShowPdfSignOrFingerCoordinates_Base64(int timeout, int sign_type,
                                                            char* local_pdf, int record_video,
                                                            char* positions, char** signed_pdf,
                                                            char** sign_image, char** finger_image,
                                                            char** video) {
    return PdfCoordinatesAsBase64(*this, "ShowPdfSignOrFingerCoordinates_Base64", false, timeout,
                                  sign_type, local_pdf, record_video, positions, signed_pdf,
                                  sign_image, finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerPoints(int timeout, int record_video, int sign_type,
                                                     char* document, char* signed_document,
                                                     char* sign_image, char* sign_data,
                                                     char* finger_image, char* video) {
    return DocumentPoints(*this, "ShowDocumentSignOrFingerPoints", false, timeout, record_video,
                          sign_type, document, signed_document, sign_image, sign_data, finger_image,
                          video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinates(int timeout, int record_video,
                                                          int sign_type, char* document,
                                                          char* positions, char* signed_document,
                                                          char* sign_image, char* sign_data,
                                                          char* finger_image, char* video) {
    return DocumentCoordinates(*this, "ShowDocumentSignOrFingerCoordinates", false, timeout,
                               record_video, sign_type, document, positions, signed_document,
                               sign_image, sign_data, finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerPoints_Base64(int timeout, int record_video,
                                                            int sign_type, char* document,
                                                            char** signed_document,
                                                            char** sign_image, char** sign_data,
                                                            char** finger_image, char** video) {
    return DocumentPointsAsBase64(*this, "ShowDocumentSignOrFingerPoints_Base64", false, timeout,
                                  record_video, sign_type, document, signed_document, sign_image,
                                  sign_data, finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinates_Base64(
    int timeout, int record_video, int sign_type, char* document, char* positions,
    char** signed_document, char** sign_image, char** sign_data, char** finger_image,
    char** video) {
    return DocumentCoordinatesAsBase64(*this, "ShowDocumentSignOrFingerCoordinates_Base64", false,
                                       timeout, record_video, sign_type, document, positions,
                                       signed_document, sign_image, sign_data, finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerPointsWithCms(int timeout, int record_video,
                                                            int sign_type, char* document,
                                                            char* signed_document, char* sign_image,
                                                            char* sign_data, char* finger_image,
                                                            char* video) {
    return DocumentPoints(*this, "ShowDocumentSignOrFingerPointsWithCms", true, timeout,
                          record_video, sign_type, document, signed_document, sign_image, sign_data,
                          finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinatesWithCms(
    int timeout, int record_video, int sign_type, char* document, char* positions,
    char* signed_document, char* sign_image, char* sign_data, char* finger_image, char* video) {
    return DocumentCoordinates(*this, "ShowDocumentSignOrFingerCoordinatesWithCms", true, timeout,
                               record_video, sign_type, document, positions, signed_document,
                               sign_image, sign_data, finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerPointsWithCms_Base64(
    int timeout, int record_video, int sign_type, char* document, char** signed_document,
    char** sign_image, char** sign_data, char** finger_image, char** video) {
    return DocumentPointsAsBase64(*this, "ShowDocumentSignOrFingerPointsWithCms_Base64", true,
                                  timeout, record_video, sign_type, document, signed_document,
                                  sign_image, sign_data, finger_image, video);
}

int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinatesWithCms_Base64(
    int timeout, int record_video, int sign_type, char* document, char* positions,
    char** signed_document, char** sign_image, char** sign_data, char** finger_image,
    char** video) {
    return DocumentCoordinatesAsBase64(*this, "ShowDocumentSignOrFingerCoordinatesWithCms_Base64",
                                       true, timeout, record_video, sign_type, document, positions,
                                       signed_document, sign_image, sign_data, finger_image, video);
}

int CDEV_CounterMate::ShowPdfSignOrFingerMultiDoc(int timeout, int document_count, char* local_pdfs,
                                                  int sign_type, int record_video, char* positions,
                                                  char* signed_pdf_folder, char* video) {
    TerminalOperation operation(*this, "ShowPdfSignOrFingerMultiDoc");
    const char* name = operation.name();
    CTM_TRACE(LOG_LEVEL_DEBUG, name, "iTimeOut=%d,iSingnType=%d,sPos=%s", timeout, sign_type,
              TextOrEmpty(positions));
    CTM_TRACE(LOG_LEVEL_DEBUG, name, "pdfPath=%s", TextOrEmpty(local_pdfs));
    CTM_TRACE(LOG_LEVEL_DEBUG, name, "signPdfPath=%s", TextOrEmpty(signed_pdf_folder));
    CTM_TRACE(LOG_LEVEL_DEBUG, name, "videoPath=%s", TextOrEmpty(video));
    std::vector<std::string> document_positions;
    SplitString(TextOrEmpty(positions), document_positions, '|');
    // Every document needs its positions: a short list is the caller's, and nothing is sent.
    if (IsEmpty(local_pdfs) || document_count < 1 ||
        document_positions.size() < static_cast<size_t>(document_count)) {
        return operation.Return(kBadArgument);
    }
    int result = TransFileCount(document_count, local_pdfs);
    if (result != kSuccess) return operation.Return(result);

    const int wait = Wait(timeout);
    CJsonObject param = Params({{"timeout", wait},
                                {"signtype", sign_type},
                                {"voice", ""},
                                {"isVideo", record_video},
                                {"fileCount", document_count}});
    for (int index = 1; index <= document_count; ++index) {
        param.Add("file" + std::to_string(index) + "Pos", document_positions[index - 1]);
    }
    CTM_TRACE(LOG_LEVEL_DEBUG, name, "sPos=%s", TextOrEmpty(positions));
    result = operation.Send(MakeCommand("ShowPdfSignMultiDoc", param, wait, StatusRule::kNotRead));
    if (result == kDeviceFailed) result = kTimedOut;
    if (result == kSuccess) result = ConfirmResultOutcome(operation);
    if (result != kSuccess) return operation.Return(result);

    const CJsonObject data = operation.Data();
    std::vector<ResultStep> steps;
    for (int index = 1; index <= document_count && !IsEmpty(signed_pdf_folder); ++index) {
        std::string terminal_path;
        data.Get("file" + std::to_string(index) + "Path", terminal_path);
        const std::string local_path = std::string(signed_pdf_folder) + "/" +
                                       std::to_string(index) + ".pdf";
        CTM_TRACE(LOG_LEVEL_DEBUG, name, "outPdfPath=%s", local_path.c_str());
        steps.push_back(FilePull{terminal_path, local_path});
    }
    if (record_video == 1) steps.push_back(FilePull{kPdfVideo, video});
    return operation.Return(operation.Apply(steps));
}

// The signed documents of several PDFs are not handed over as Base64: the call succeeds and
// leaves its outputs as they are, without contacting the terminal.
int CDEV_CounterMate::ShowPdfSignOrFingerMultiDoc_Base64(int, int, char*, int, int, char*, char**,
                                                         char**) {
    return TerminalOperation(*this, "ShowPdfSignOrFingerMultiDoc_Base64").Return(kSuccess);
}
