// A terminal object that does nothing: every operation succeeds at once without touching its
// outputs, and GetErrMsg writes nothing. Tests derive from it and override what they observe.
#pragma once

#include "CCounterMate.h"

namespace countermate::testing {

class NullTerminal : public CCounterMate {
public:
    int HIDOpenPort() override { return 0; }
    int HIDClosePort() override { return 0; }
    void GetErrMsg(int, char*) override {}
    void SetForcedReturn(bool) override {}
    int CancelOpt() override { return 0; }
    int PlayVoice(int) override { return 0; }
    int PlaySound(char*) override { return 0; }
    int StopService() override { return 0; }
    int RestoreService() override { return 0; }
    int Reboot() override { return 0; }
    int GetSerialNo(char*) override { return 0; }
    int SetSerialNo(char*) override { return 0; }
    int GetDevID(char*) override { return 0; }
    int GetApkVersion(char*) override { return 0; }
    int SetVolume(int) override { return 0; }
    int InputNumber(int, int, int, int, char*) override { return 0; }
    int UpdateApk(char*) override { return 0; }
    int Evaluate(int, int, int*) override { return 0; }
    int EvaluateSix(int, int*) override { return 0; }
    int ShowPdfAndConfirm(int, char*, int*) override { return 0; }
    int ShowInformation(int, char*, int) override { return 0; }
    int ShowAndConfirmInformation(int, char*, int, int*) override { return 0; }
    int PushFile(char*, const char*) override { return 0; }
    int PullFile(const char*, char*) override { return 0; }
    int ShowPdfSign(int, int, char*, char*, char*, char*) override { return 0; }
    int ShowPdfSign_Base64(int, int, char*, char*, char*) override { return 0; }
    int ShowPdfSignAndFingerPoint(int, int, char*, char*, char*, char*, char*) override {
        return 0;
    }
    int ShowPdfSignAndFingerPoint_Base64(int, int, char*, char**, char**, char**) override {
        return 0;
    }
    int ShowPdfSignOrFingerCoordinates(int, int, char*, int, char*, char*, char*, char*, char*,
                                       char*) override {
        return 0;
    }
    int ShowPdfSignOrFingerCoordinates_Base64(int, int, char*, int, char*, char**, char**, char**,
                                              char**) override {
        return 0;
    }
    int ShowDocumentSignOrFingerPoints(int, int, int, char*, char*, char*, char*, char*,
                                       char*) override {
        return 0;
    }
    int ShowDocumentSignOrFingerCoordinates(int, int, int, char*, char*, char*, char*, char*, char*,
                                            char*) override {
        return 0;
    }
    int ShowDocumentSignOrFingerPoints_Base64(int, int, int, char*, char**, char**, char**, char**,
                                              char**) override {
        return 0;
    }
    int ShowDocumentSignOrFingerCoordinates_Base64(int, int, int, char*, char*, char**, char**,
                                                   char**, char**, char**) override {
        return 0;
    }
    int ShowDocumentSignOrFingerPointsWithCms(int, int, int, char*, char*, char*, char*, char*,
                                              char*) override {
        return 0;
    }
    int ShowDocumentSignOrFingerCoordinatesWithCms(int, int, int, char*, char*, char*, char*, char*,
                                                   char*, char*) override {
        return 0;
    }
    int ShowDocumentSignOrFingerPointsWithCms_Base64(int, int, int, char*, char**, char**, char**,
                                                     char**, char**) override {
        return 0;
    }
    int ShowDocumentSignOrFingerCoordinatesWithCms_Base64(int, int, int, char*, char*, char**,
                                                          char**, char**, char**, char**) override {
        return 0;
    }
    int ShowPdfSignOrFingerMultiDoc(int, int, char*, int, int, char*, char*, char*) override {
        return 0;
    }
    int ShowPdfSignOrFingerMultiDoc_Base64(int, int, char*, int, int, char*, char**,
                                           char**) override {
        return 0;
    }
    int ReadIDCard(int, int, char*, const char*, const char*, const char*) override { return 0; }
    int ReadIDCard_Base64(int, int, char*, char*, char*, char*) override { return 0; }
    int GetFingerPrint(int, int, int, char*, char*) override { return 0; }
    int GetFingerPrint_Base64(int, int, int, char*, char*) override { return 0; }
    int GetSignName(int, char*, char*) override { return 0; }
    int GetSignName_Base64(int, char*) override { return 0; }
    int ReadQR(int, char*) override { return 0; }
    int ReadQR_Qinglan(int, char*) override { return 0; }
    int GetPhoto_Base64(int, char*) override { return 0; }
    int SignaturePlayback(int, char*) override { return 0; }
    int PictureOCR(int, char*, char*) override { return 0; }
    int ShowPictures(char*, int, int, int*) override { return 0; }
    int GetDevAndModulesInfo(char*, char*, char*, char*, char*) override { return 0; }
    int FaceValidateWithIdCard_Base64(int, int, int, double*, char*, char*, char*, char*,
                                      char*) override {
        return 0;
    }
    int FingerValidateWithIdCard_Base64(int, double*, char*, char*, char*) override { return 0; }
    int FaceValidateWithIdCard(int, int, double*, char*, char*, char*, char*, char*) override {
        return 0;
    }
    int FaceValidateWithIdCardPhoto_Base64(int, char*, double*, char*) override { return 0; }
    int FaceValidateWithPCPhoto(int, char*, char*, double*) override { return 0; }
    int FaceValidateWithFacePhoto(int, char*, double*) override { return 0; }
    int Login(char*, char*, int) override { return 0; }
    int Logout() override { return 0; }
    int DownLoadFile(int, char*, char*) override { return 0; }
    int GetFileInfo(int, char*, char*) override { return 0; }
    int DeleteFile(int, char*, char*, int*) override { return 0; }
    int LoginByHtml(char*, char*, char*, char*, char*, char*) override { return 0; }
    int EvaluateByHtml(int, char*, char*) override { return 0; }
    int LogoutByHtml() override { return 0; }
    int OpenPrinter() override { return 0; }
    int ClosePrinter() override { return 0; }
    int PrintReceipt(char*) override { return 0; }
    int PrintQR(char*) override { return 0; }
    int GenerateQRCode(int, char*) override { return 0; }
    int StartVideo(int) override { return 0; }
    int StopVideo() override { return 0; }
    int PauseVideo() override { return 0; }
    int KeepVideo() override { return 0; }
    int GetVideoData(int*, unsigned char*) override { return 0; }
    int GetVideoData_Base64(char*) override { return 0; }
    int GetCapturedImage(char*, unsigned char*, int*) override { return 0; }
    int GetCapturedImageAndBase64(char*, char*, int) override { return 0; }
    int HIDSend(unsigned char*, int, int) override { return 0; }
    int HidRead(unsigned char*, int*, int) override { return 0; }
    int HidWrite(unsigned char*, int, int) override { return 0; }
    int PullFileAndBase64(char*, char*, char*, int) override { return 0; }
    int iReadCardBas(int, char*) override { return 0; }
    int iReadCardBas_HSM_Step1(int, char*) override { return 0; }
    int iReadCardBas_HSM_Step2(char*, char*) override { return 0; }
    int iReadICCardNum(int, char*) override { return 0; }
    int ReadIdentityCard(char*, char*) override { return 0; }
    int FileBase64Encode_GetLength(char*) override { return 0; }
    int FileBase64Encode(char*, char**) override { return 0; }
    int FileBase64Decode(char*, char*) override { return 0; }
    int Base64Encode(unsigned char*, int, char*) override { return 0; }
    int Base64Decode(char*, int*, unsigned char*) override { return 0; }
    int CamReadBarCode(char*, int, char*) override { return 0; }
    int StartInstallTool() override { return 0; }
    int WriteDeviceInfo(char*, char*) override { return 0; }
    int ReadDeviceInfo(char*, char*) override { return 0; }
    int SignNameScreen_Start(int) override { return 0; }
    int SignNameScreen_GetScreen(long*, unsigned char*) override { return 0; }
    int SignNameScreen_GetScreenBase64(char*) override { return 0; }
    int SignNameScreen_End(char*) override { return 0; }
    int StartComputerScreen() override { return 0; }
    int StopComputerScreen() override { return 0; }
    int PushFiles(char*, const char*, CounterMateProgress) override { return 0; }
    int UpdateApk_AfterPushAPK() override { return 0; }
};

}  // namespace countermate::testing
