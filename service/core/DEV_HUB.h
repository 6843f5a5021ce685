// The service's device adapter and its process-wide state.
//
// Loading libCounterMateServer builds the one adapter, `m_Dev_Hub`, which loads the terminal
// driver and either the camera driver or the JPEG library from the working directory; a failure
// there ends the process with status 1 (a counter without its drivers cannot serve).
// Every request handler is a member taking the request's `args` as compact JSON text and
// filling `reply`; an empty reply sends nothing.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "CCounterMate.h"
#include "CLogTracker.h"

#define COUNTERMATE_EXPORT __attribute__((visibility("default")))

class COUNTERMATE_EXPORT CDEV_HUB {
public:
    CDEV_HUB();
    virtual ~CDEV_HUB();

    // Asks a terminal operation in progress to return early. Nothing inside the service calls it.
    void SetForcedReturn();

    // True while a CancelOpt request is carried out: a handler finishing meanwhile leaves the
    // terminal port open for the cancel path to close.
    std::atomic<bool> m_isCancelOpt{false};

    // ---- terminal device requests ----
    void PlayVoice(std::string args, std::string& reply);
    void PlaySound(std::string args, std::string& reply);
    void SetVolume(std::string args, std::string& reply);
    void StopService(std::string args, std::string& reply);
    void RestoreService(std::string args, std::string& reply);
    void Reboot(std::string args, std::string& reply);
    void GetApkVersion(std::string args, std::string& reply);
    void GetDevID(std::string args, std::string& reply);
    void SetSerialNo(std::string args, std::string& reply);
    void GetSerialNo(std::string args, std::string& reply);
    void InputNumber(std::string args, std::string& reply);
    void CancelOpt(std::string args, std::string& reply);

    // ---- terminal settings and printer ----
    void GetDevAndModulesInfo(std::string args, std::string& reply);
    void WriteDeviceInfo(std::string args, std::string& reply);
    void ReadDeviceInfo(std::string args, std::string& reply);
    void StartInstallTool(std::string args, std::string& reply);
    void OpenPrinter(std::string args, std::string& reply);
    void ClosePrinter(std::string args, std::string& reply);
    void PrintReceipt(std::string args, std::string& reply);
    void PrintQR(std::string args, std::string& reply);

    // ---- customer interactions on the terminal ----
    void Evaluate(std::string args, std::string& reply);
    void EvaluateSix(std::string args, std::string& reply);
    void EvaluateByHtml(std::string args, std::string& reply);
    void ShowInformation(std::string args, std::string& reply);
    void ShowAndConfirmInformation(std::string args, std::string& reply);
    void ShowPdfAndConfirm(std::string args, std::string& reply);
    void ShowPictures(std::string args, std::string& reply);
    void SignaturePlayback(std::string args, std::string& reply);
    void PictureOCR(std::string args, std::string& reply);
    void ReadQR(std::string args, std::string& reply);
    void ReadQR_Qinglan(std::string args, std::string& reply);
    void GenerateQRCode(std::string args, std::string& reply);

    // ---- document signing on the terminal ----
    void ShowPdfSignOrFinger(std::string args, std::string& reply);
    void ShowPdfSignOrFinger_Base64(std::string args, std::string& reply);
    void ShowPdfSignOrFingerPoint(std::string args, std::string& reply);
    void ShowPdfSignOrFingerPoint_Base64(std::string args, std::string& reply);
    void ShowPdfSignOrFingerCoordinates(std::string args, std::string& reply);
    void ShowPdfSignOrFingerCoordinates_Base64(std::string args, std::string& reply);
    void ShowPdfSignOrFingerMultiDoc(std::string args, std::string& reply);
    void ShowPdfSignOrFingerMultiDoc_Base64(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerPoints(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerCoordinates(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerPoints_Base64(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerCoordinates_Base64(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerPointsWithCms(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerCoordinatesWithCms(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerPointsWithCms_Base64(std::string args, std::string& reply);
    void ShowDocumentSignOrFingerCoordinatesWithCms_Base64(std::string args, std::string& reply);

    // ---- teller sign-in ----
    void Login(std::string args, std::string& reply);
    void Logout(std::string args, std::string& reply);
    void LoginByHtml(std::string args, std::string& reply);
    void LogoutByHtml(std::string args, std::string& reply);

    // ---- capture on the terminal ----
    void ReadIDCard(std::string args, std::string& reply);
    void ReadIDCard_Base64(std::string args, std::string& reply);
    void GetFingerPrint(std::string args, std::string& reply);
    void GetFingerPrint_Base64(std::string args, std::string& reply);
    void GetSignName(std::string args, std::string& reply);
    void GetSignName_Base64(std::string args, std::string& reply);
    void GetPhoto_Base64(std::string args, std::string& reply);
    // Reads a code from the photo at `imgPath` on the terminal; its reply has an envelope of its
    // own ({"functionName":"iCamReadBarCode","success":...}). No request name leads here: only
    // a caller of the adapter itself reaches it, and it leaves the terminal port as it finds it.
    void CamReadBarCode(std::string args, std::string& reply);

    // ---- files between the page, this workstation and the terminal ----
    void DownLoadFile(std::string args, std::string& reply);
    void GetFileInfo(std::string args, std::string& reply);
    // The request "DeleteFile"; its reply is named "DeleteFile" too.
    void DeleteDevFile(std::string args, std::string& reply);
    void UpdateApk(std::string args, std::string& reply);
    void FileBase64Encode(std::string args, std::string& reply);
    void FileBase64Decode(std::string args, std::string& reply);

    // ---- identity cards, card modules, comparisons and recognition ----
    void SDT_ReadIDCard(std::string args, std::string& reply);
    // The request "iReadIdentityCard".
    void ReadIdentityCard(std::string args, std::string& reply);
    void SetHSMURL(std::string args, std::string& reply);
    void iReadCardBas(std::string args, std::string& reply);
    void iReadCardBas_HSM_Step1(std::string args, std::string& reply);
    void iReadCardBas_HSM_Step2(std::string args, std::string& reply);
    void iReadICCardNum(std::string args, std::string& reply);
    void IDCardOCR(std::string args, std::string& reply);
    void ImageOCR(std::string args, std::string& reply);
    void FaceValidateWithIdCard(std::string args, std::string& reply);
    void FingerValidateWithIdCard(std::string args, std::string& reply);
    void FaceValidateWithPhoto(std::string args, std::string& reply);
    void FaceValidateWithPhotoIdCard(std::string args, std::string& reply);
    void FaceValidateWithTwoPhotos(std::string args, std::string& reply);

    // ---- screen streams: the signing-screen mirror and the workstation-screen push ----
    void SignNameScreen_Start(std::string args, std::string& reply);
    void SignNameScreen_Get(std::string args, std::string& reply);
    void SignNameScreen_Status(std::string args, std::string& reply);
    void SignNameScreen_Stop(std::string args, std::string& reply);
    void StartComputerScreen(std::string args, std::string& reply);
    void StopComputerScreen(std::string args, std::string& reply);
    // ---- camera and video ----
    void CamInit(std::string args, std::string& reply);
    void CamDeinit(std::string args, std::string& reply);
    void CamOpen(std::string args, std::string& reply);
    void CamGetResolutionList(std::string args, std::string& reply);
    void CamSetResolution(std::string args, std::string& reply);
    void CamGetCurrentResolution(std::string args, std::string& reply);
    void CamSetColor(std::string args, std::string& reply);
    void CamSetCutType(std::string args, std::string& reply);
    // Starts the preview; its frames answer the request, so a started preview sends no reply.
    void CamGetVideoStream(std::string args, std::string& reply);
    void CamClose(std::string args, std::string& reply);
    void CamGetCameraImage(std::string args, std::string& reply);
    void CamSetRotateLeft(std::string args, std::string& reply);
    void CamSetRotateRight(std::string args, std::string& reply);
    void CamZoomOut(std::string args, std::string& reply);
    void CamZoomIn(std::string args, std::string& reply);
    void VideoStart(std::string args, std::string& reply);
    void VideoStop(std::string args, std::string& reply);
    void VideoGetImage(std::string args, std::string& reply);
    void VideoRotate(std::string args, std::string& reply);
    // The terminal camera's photo that ends the preview and starts it again; replies have an
    // envelope of their own ({"functionName":"iCamPhotoBase64"|"iCamPhoto","success":...}). No
    // request name leads here: only a caller of the adapter itself reaches them.
    void GetCameraImage(std::string args, std::string& reply);
    void GetCameraImage_Path(std::string args, std::string& reply);

private:
    void load_terminal_driver();
    void read_module_settings();
    void load_camera_driver();
    void load_jpeg_library();
};

// ---- process-wide state of the service ----
extern COUNTERMATE_EXPORT CLogTracker* m_LogTracker;
extern COUNTERMATE_EXPORT CDEV_HUB m_Dev_Hub;
extern COUNTERMATE_EXPORT std::string m_webMessage;
extern COUNTERMATE_EXPORT std::atomic<int> m_clientFd;
extern COUNTERMATE_EXPORT std::atomic<bool> m_isdoMethodProcessing;
extern COUNTERMATE_EXPORT std::atomic<bool> m_isExitSever;
extern COUNTERMATE_EXPORT void* handle;
extern COUNTERMATE_EXPORT void (*DestroyCounterMate)(CCounterMate*);
extern COUNTERMATE_EXPORT CCounterMate* ctm;
extern COUNTERMATE_EXPORT void* handle2;
extern COUNTERMATE_EXPORT bool m_isUVCCamera;
extern COUNTERMATE_EXPORT float m_scale;
extern COUNTERMATE_EXPORT char m_videoStreamMethod[100];
extern COUNTERMATE_EXPORT std::atomic<bool> m_isStopVideoStream;
extern COUNTERMATE_EXPORT std::atomic<bool> m_isPauseVideoStream;
extern COUNTERMATE_EXPORT std::atomic<bool> m_isPauseing;
extern COUNTERMATE_EXPORT std::thread videoStreamTh;
extern COUNTERMATE_EXPORT std::atomic<int> m_edgeDetection;
extern COUNTERMATE_EXPORT std::atomic<int> m_rotationAngle;
extern COUNTERMATE_EXPORT std::atomic<float> m_zoomInTimes;
extern COUNTERMATE_EXPORT std::atomic<int> m_CameraNo;
extern COUNTERMATE_EXPORT std::string m_Resolution;
extern COUNTERMATE_EXPORT std::atomic<bool> m_isStopScreenStream;
// 0 never started, 1 mirroring, 2 ended as the terminal reported the signing's end, 3 ended on
// another failure of the terminal.
extern COUNTERMATE_EXPORT std::atomic<int> m_signScreenStatus;
extern COUNTERMATE_EXPORT std::thread m_signStreamTh;
extern COUNTERMATE_EXPORT std::atomic<bool> m_isStopComputerScreenStream;
extern COUNTERMATE_EXPORT std::thread m_computerStreamTh;

namespace countermate {
// The service log ("SER"), made on first use and kept for the process: the lines written while
// the library loads (a missing library, say, which ends the process) reach the log too.
CLogTracker* service_log();
}  // namespace countermate

// Writes one line to the service log.
#define SERVICE_LOG(level, function, ...) \
    countermate::service_log()->WriteTrace(level, function, __VA_ARGS__)
