// The customer terminal as the service sees it: an abstract class whose table of virtual
// functions is the calling interface between libCounterMateServer and libCounterMate.
//
// The order of the declarations below is part of that interface (the service calls by slot),
// so an operation is never moved, inserted or removed. The class has no data members and no
// virtual destructor; objects are made by CreateCounterMate and released by DestroyCounterMate.
//
// Results: 0 on success, a negative code on failure (GetErrMsg gives its text).
// Output text buffers belong to the caller and must be large enough. Texts marked "allocated"
// are made by the driver with the C allocator; the caller releases them with free().
#pragma once

typedef void (*CounterMateProgress)(int total_blocks, int blocks_sent);

class CCounterMate {
public:
    virtual int HIDOpenPort() = 0;                     // 0
    virtual int HIDClosePort() = 0;                    // 1
    virtual void GetErrMsg(int code, char* text) = 0;  // 2
    virtual void SetForcedReturn(bool force) = 0;      // 3
    virtual int CancelOpt() = 0;                       // 4
    virtual int PlayVoice(int voice) = 0;              // 5
    virtual int PlaySound(char* sound_file) = 0;       // 6
    virtual int StopService() = 0;                     // 7
    virtual int RestoreService() = 0;                  // 8
    virtual int Reboot() = 0;                          // 9
    virtual int GetSerialNo(char* serial_no) = 0;      // 10
    virtual int SetSerialNo(char* serial_no) = 0;      // 11
    virtual int GetDevID(char* device_id) = 0;         // 12
    virtual int GetApkVersion(char* app_version) = 0;  // 13
    virtual int SetVolume(int volume) = 0;             // 14
    virtual int InputNumber(int input_type, int min_count, int max_count, int timeout,
                            char* number) = 0;                                           // 15
    virtual int UpdateApk(char* local_apk) = 0;                                          // 16
    virtual int Evaluate(int key_count, int timeout, int* evaluation) = 0;               // 17
    virtual int EvaluateSix(int timeout, int* evaluation) = 0;                           // 18
    virtual int ShowPdfAndConfirm(int timeout, char* local_pdf, int* confirmation) = 0;  // 19
    virtual int ShowInformation(int timeout, char* html, int is_url) = 0;                // 20
    virtual int ShowAndConfirmInformation(int timeout, char* html, int is_url,
                                          int* answer) = 0;                 // 21
    virtual int PushFile(char* local_path, const char* terminal_path) = 0;  // 22
    virtual int PullFile(const char* terminal_path, char* local_path) = 0;  // 23
    virtual int ShowPdfSign(int timeout, int sign_type, char* local_pdf, char* sign_image,
                            char* sign_track, char* finger_image) = 0;  // 24
    virtual int ShowPdfSign_Base64(int timeout, int sign_type, char* local_pdf, char* sign_image,
                                   char* finger_image) = 0;  // 25
    virtual int ShowPdfSignAndFingerPoint(int timeout, int sign_type, char* local_pdf,
                                          char* signed_pdf, char* sign_image_folder,
                                          char* sign_track,
                                          char* finger_image_folder) = 0;  // 26
    virtual int ShowPdfSignAndFingerPoint_Base64(int timeout, int sign_type, char* local_pdf,
                                                 char** signed_pdf, char** sign_image,
                                                 char** finger_image) = 0;  // 27
    virtual int ShowPdfSignOrFingerCoordinates(int timeout, int sign_type, char* local_pdf,
                                               int record_video, char* positions, char* signed_pdf,
                                               char* sign_image_folder, char* sign_track,
                                               char* finger_image_folder,
                                               char* video) = 0;  // 28
    virtual int ShowPdfSignOrFingerCoordinates_Base64(int timeout, int sign_type, char* local_pdf,
                                                      int record_video, char* positions,
                                                      char** signed_pdf, char** sign_image,
                                                      char** finger_image,
                                                      char** video) = 0;  // 29
    virtual int ShowDocumentSignOrFingerPoints(int timeout, int record_video, int sign_type,
                                               char* document, char* signed_document,
                                               char* sign_image, char* sign_data,
                                               char* finger_image, char* video) = 0;  // 30
    virtual int ShowDocumentSignOrFingerCoordinates(int timeout, int record_video, int sign_type,
                                                    char* document, char* positions,
                                                    char* signed_document, char* sign_image,
                                                    char* sign_data, char* finger_image,
                                                    char* video) = 0;  // 31
    virtual int ShowDocumentSignOrFingerPoints_Base64(int timeout, int record_video, int sign_type,
                                                      char* document, char** signed_document,
                                                      char** sign_image, char** sign_data,
                                                      char** finger_image,
                                                      char** video) = 0;  // 32
    virtual int ShowDocumentSignOrFingerCoordinates_Base64(int timeout, int record_video,
                                                           int sign_type, char* document,
                                                           char* positions, char** signed_document,
                                                           char** sign_image, char** sign_data,
                                                           char** finger_image,
                                                           char** video) = 0;  // 33
    virtual int ShowDocumentSignOrFingerPointsWithCms(int timeout, int record_video, int sign_type,
                                                      char* document, char* signed_document,
                                                      char* sign_image, char* sign_data,
                                                      char* finger_image,
                                                      char* video) = 0;  // 34
    virtual int ShowDocumentSignOrFingerCoordinatesWithCms(int timeout, int record_video,
                                                           int sign_type, char* document,
                                                           char* positions, char* signed_document,
                                                           char* sign_image, char* sign_data,
                                                           char* finger_image,
                                                           char* video) = 0;  // 35
    virtual int ShowDocumentSignOrFingerPointsWithCms_Base64(int timeout, int record_video,
                                                             int sign_type, char* document,
                                                             char** signed_document,
                                                             char** sign_image, char** sign_data,
                                                             char** finger_image,
                                                             char** video) = 0;  // 36
    virtual int ShowDocumentSignOrFingerCoordinatesWithCms_Base64(
        int timeout, int record_video, int sign_type, char* document, char* positions,
        char** signed_document, char** sign_image, char** sign_data, char** finger_image,
        char** video) = 0;  // 37
    virtual int ShowPdfSignOrFingerMultiDoc(int timeout, int document_count, char* local_pdfs,
                                            int sign_type, int record_video, char* positions,
                                            char* signed_pdf_folder, char* video) = 0;  // 38
    virtual int ShowPdfSignOrFingerMultiDoc_Base64(int timeout, int document_count,
                                                   char* local_pdfs, int sign_type,
                                                   int record_video, char* positions,
                                                   char** signed_pdfs, char** video) = 0;  // 39
    virtual int ReadIDCard(int timeout, int card_source, char* answer, const char* photo,
                           const char* back_image, const char* front_image) = 0;  // 40
    virtual int ReadIDCard_Base64(int timeout, int card_source, char* answer, char* photo,
                                  char* front_image, char* back_image) = 0;  // 41
    virtual int GetFingerPrint(int timeout, int width, int height, char* image,
                               char* finger_data) = 0;  // 42
    virtual int GetFingerPrint_Base64(int timeout, int width, int height, char* image,
                                      char* finger_data) = 0;                               // 43
    virtual int GetSignName(int timeout, char* sign_image, char* sign_track) = 0;           // 44
    virtual int GetSignName_Base64(int timeout, char* sign_image) = 0;                      // 45
    virtual int ReadQR(int timeout, char* code) = 0;                                        // 46
    virtual int ReadQR_Qinglan(int timeout, char* code) = 0;                                // 47
    virtual int GetPhoto_Base64(int timeout, char* photo) = 0;                              // 48
    virtual int SignaturePlayback(int timeout, char* local_track) = 0;                      // 49
    virtual int PictureOCR(int timeout, char* local_picture, char* text) = 0;               // 50
    virtual int ShowPictures(char* local_picture, int type, int timeout, int* answer) = 0;  // 51
    virtual int GetDevAndModulesInfo(char* modules, char* device_id, char* app_version,
                                     char* firmware_version, char* module_state) = 0;  // 52
    virtual int FaceValidateWithIdCard_Base64(int timeout, int infrared, int card_source,
                                              double* score, char* answer, char* photo,
                                              char* back_image, char* front_image,
                                              char* scene_photo) = 0;  // 53
    virtual int FingerValidateWithIdCard_Base64(int timeout, double* score, char* answer,
                                                char* finger_image,
                                                char* card_finger_data) = 0;  // 54
    virtual int FaceValidateWithIdCard(int timeout, int infrared, double* score, char* answer,
                                       char* photo, char* back_image, char* front_image,
                                       char* scene_photo) = 0;  // 55
    virtual int FaceValidateWithIdCardPhoto_Base64(int timeout, char* local_card_photo,
                                                   double* score, char* scene_photo) = 0;  // 56
    virtual int FaceValidateWithPCPhoto(int timeout, char* local_card_photo, char* local_face_photo,
                                        double* score) = 0;  // 57
    virtual int FaceValidateWithFacePhoto(int timeout, char* local_face_photo,
                                          double* score) = 0;                        // 58
    virtual int Login(char* user_name, char* user_no, int star_level) = 0;           // 59
    virtual int Logout() = 0;                                                        // 60
    virtual int DownLoadFile(int file_kind, char* local_path, char* file_name) = 0;  // 61
    virtual int GetFileInfo(int file_kind, char* folder, char* file_list) = 0;       // 62
    virtual int DeleteFile(int file_kind, char* folder, char* file_name,
                           int* deleted_count) = 0;  // 63
    virtual int LoginByHtml(char* user_name, char* user_no, char* star_level, char* position,
                            char* org_name, char* head_picture) = 0;                        // 64
    virtual int EvaluateByHtml(int timeout, char* work, char* evaluation) = 0;              // 65
    virtual int LogoutByHtml() = 0;                                                         // 66
    virtual int OpenPrinter() = 0;                                                          // 67
    virtual int ClosePrinter() = 0;                                                         // 68
    virtual int PrintReceipt(char* receipt) = 0;                                            // 69
    virtual int PrintQR(char* qr_text) = 0;                                                 // 70
    virtual int GenerateQRCode(int timeout, char* qr_content) = 0;                          // 71
    virtual int StartVideo(int mode) = 0;                                                   // 72
    virtual int StopVideo() = 0;                                                            // 73
    virtual int PauseVideo() = 0;                                                           // 74
    virtual int KeepVideo() = 0;                                                            // 75
    virtual int GetVideoData(int* length, unsigned char* frame) = 0;                        // 76
    virtual int GetVideoData_Base64(char* frame) = 0;                                       // 77
    virtual int GetCapturedImage(char* local_path, unsigned char* image, int* length) = 0;  // 78
    virtual int GetCapturedImageAndBase64(char* local_path, char* image,
                                          int capacity) = 0;                 // 79
    virtual int HIDSend(unsigned char* data, int length, int timeout) = 0;   // 80
    virtual int HidRead(unsigned char* data, int* length, int timeout) = 0;  // 81
    virtual int HidWrite(unsigned char* data, int length, int timeout) = 0;  // 82
    virtual int PullFileAndBase64(char* terminal_path, char* local_path, char* base64,
                                  int capacity) = 0;                               // 83
    virtual int iReadCardBas(int card_type, char* card_info) = 0;                  // 84
    virtual int iReadCardBas_HSM_Step1(int card_type, char* card_info) = 0;        // 85
    virtual int iReadCardBas_HSM_Step2(char* key_data, char* card_info) = 0;       // 86
    virtual int iReadICCardNum(int timeout, char* card_number) = 0;                // 87
    virtual int ReadIdentityCard(char* identity_fields, char* message) = 0;        // 88
    virtual int FileBase64Encode_GetLength(char* local_path) = 0;                  // 89
    virtual int FileBase64Encode(char* local_path, char** base64) = 0;             // 90
    virtual int FileBase64Decode(char* base64, char* local_path) = 0;              // 91
    virtual int Base64Encode(unsigned char* data, int length, char* text) = 0;     // 92
    virtual int Base64Decode(char* text, int* length, unsigned char* data) = 0;    // 93
    virtual int CamReadBarCode(char* local_photo, int timeout, char* code) = 0;    // 94
    virtual int StartInstallTool() = 0;                                            // 95
    virtual int WriteDeviceInfo(char* key, char* value) = 0;                       // 96
    virtual int ReadDeviceInfo(char* key, char* value) = 0;                        // 97
    virtual int SignNameScreen_Start(int timeout) = 0;                             // 98
    virtual int SignNameScreen_GetScreen(long* length, unsigned char* image) = 0;  // 99
    virtual int SignNameScreen_GetScreenBase64(char* image) = 0;                   // 100
    virtual int SignNameScreen_End(char* sign_image) = 0;                          // 101
    virtual int StartComputerScreen() = 0;                                         // 102
    virtual int StopComputerScreen() = 0;                                          // 103
    virtual int PushFiles(char* local_path, const char* terminal_path,
                          CounterMateProgress progress) = 0;  // 104
    virtual int UpdateApk_AfterPushAPK() = 0;                 // 105
};

// The factory of libCounterMate (C linkage, looked up by name). The service binds it at run
// time into globals of the same names, so it compiles without these declarations.
#ifndef COUNTERMATE_FACTORY_BOUND_AT_RUN_TIME
extern "C" {
// A new driver object; the module log is (re)created first. Loading ./libHid.so from the
// working directory must succeed, or the process ends with status 1.
CCounterMate* CreateCounterMate();
// Destroys an object made by CreateCounterMate; null is ignored.
void DestroyCounterMate(CCounterMate* counter_mate);
}
#endif
