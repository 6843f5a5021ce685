// Identity cards, fingerprints, signatures, codes, photos and face comparison.
//
// Not yet available on this link: each operation answers -13 ("功能不支持") without
// contacting the terminal.
#include "DEV_CounterMate.h"
#include "ResultCodes.h"

using countermate::terminal::kNotSupported;

int CDEV_CounterMate::ReadIDCard(int, int, char*, const char*, const char*, const char*) {
    return kNotSupported;
}
int CDEV_CounterMate::ReadIDCard_Base64(int, int, char*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::GetFingerPrint(int, int, int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::GetFingerPrint_Base64(int, int, int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::GetSignName(int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::GetSignName_Base64(int, char*) { return kNotSupported; }
int CDEV_CounterMate::ReadQR(int, char*) { return kNotSupported; }
int CDEV_CounterMate::ReadQR_Qinglan(int, char*) { return kNotSupported; }
int CDEV_CounterMate::GetPhoto_Base64(int, char*) { return kNotSupported; }
int CDEV_CounterMate::SignaturePlayback(int, char*) { return kNotSupported; }
int CDEV_CounterMate::PictureOCR(int, char*, char*) { return kNotSupported; }
int CDEV_CounterMate::FaceValidateWithIdCard_Base64(int, int, int, double*, char*, char*, char*,
                                                    char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::FingerValidateWithIdCard_Base64(int, double*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::FaceValidateWithIdCard(int, int, double*, char*, char*, char*, char*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::FaceValidateWithIdCardPhoto_Base64(int, char*, double*, char*) {
    return kNotSupported;
}
int CDEV_CounterMate::FaceValidateWithPCPhoto(int, char*, char*, double*) { return kNotSupported; }
int CDEV_CounterMate::FaceValidateWithFacePhoto(int, char*, double*) { return kNotSupported; }
int CDEV_CounterMate::iReadCardBas(int, char*) { return kNotSupported; }
int CDEV_CounterMate::iReadCardBas_HSM_Step1(int, char*) { return kNotSupported; }
int CDEV_CounterMate::iReadCardBas_HSM_Step2(char*, char*) { return kNotSupported; }
int CDEV_CounterMate::iReadICCardNum(int, char*) { return kNotSupported; }
int CDEV_CounterMate::ReadIdentityCard(char*, char*) { return kNotSupported; }
int CDEV_CounterMate::CamReadBarCode(char*, int, char*) { return kNotSupported; }
