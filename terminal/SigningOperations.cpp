// Document signing: showing a PDF or OFD document, collecting signatures and fingerprints,
// pulling the signed results.
//
// Not yet available on this link: each operation answers -13 ("功能不支持") without
// contacting the terminal.
#include "DEV_CounterMate.h"
#include "ResultCodes.h"

using countermate::terminal::kNotSupported;

int CDEV_CounterMate::ShowPdfAndConfirm(int, char*, int*) { return kNotSupported; }
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
