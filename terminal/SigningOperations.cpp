// Document signing: showing a PDF or OFD document, collecting signatures and fingerprints,
// pulling the signed results.
//
// Operations other than ShowPdfAndConfirm are not yet available on this link: each answers -13
// ("功能不支持") without contacting the terminal.
#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "ModuleLog.h"
#include "OperationSteps.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

constexpr int kSigningDefaultTimeout = 60;
constexpr const char* kSourcePdf = "/sdcard/ZR/CounterMate/temp/srcPdf.pdf";

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

}  // namespace

int CDEV_CounterMate::ShowPdfAndConfirm(int timeout, char* local_pdf, int* confirmation) {
    TerminalOperation operation(*this, "ShowPdfAndConfirm");
    int result = operation.Push({{local_pdf, kSourcePdf}});
    if (result != kSuccess) return operation.Return(result);
    const int wait = TimeoutOr(timeout, kSigningDefaultTimeout);
    result = operation.Send(MakeCommand("ShowPdfSignOrFinger",
                                        Params({{"timeout", wait}, {"signtype", 0}}),
                                        wait + kAnswerMargin, StatusRule::kNotRead));
    // Without an answer there is no outcome: the confirmation is left as the caller set it.
    const int confirmed = result == kSuccess ? Confirmation(operation.DataInteger("statusCode")) : 0;
    if (confirmed != 0 && confirmation != nullptr) *confirmation = confirmed;
    return operation.Return(result);
}
int CDEV_CounterMate::ShowPdfSign(int, int, char*, char*, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::ShowPdfSign_Base64(int, int, char*, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::ShowPdfSignAndFingerPoint(int, int, char*, char*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowPdfSignAndFingerPoint_Base64(int, int, char*, char**, char**, char**) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowPdfSignOrFingerCoordinates(int, int, char*, int, char*, char*, char*,
                                                     char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowPdfSignOrFingerCoordinates_Base64(int, int, char*, int, char*, char**,
                                                            char**, char**, char**) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerPoints(int, int, int, char*, char*, char*, char*,
                                                     char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinates(int, int, int, char*, char*, char*, char*,
                                                          char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerPoints_Base64(int, int, int, char*, char**, char**,
                                                            char**, char**, char**) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinates_Base64(int, int, int, char*, char*,
                                                                 char**, char**, char**, char**,
                                                                 char**) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerPointsWithCms(int, int, int, char*, char*, char*,
                                                            char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinatesWithCms(int, int, int, char*, char*, char*,
                                                                 char*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerPointsWithCms_Base64(int, int, int, char*, char**,
                                                                   char**, char**, char**, char**) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowDocumentSignOrFingerCoordinatesWithCms_Base64(int, int, int, char*, char*,
                                                                        char**, char**, char**,
                                                                        char**, char**) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowPdfSignOrFingerMultiDoc(int, int, char*, int, int, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ShowPdfSignOrFingerMultiDoc_Base64(int, int, char*, int, int, char*, char**,
                                                         char**) {
    return kNotSupported;
}
