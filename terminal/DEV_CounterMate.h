// CDEV_CounterMate: the driver of the customer terminal behind CCounterMate.
//
// Layers, one source file each: the HID report and segment link (HidLink.cpp), the JSON command
// protocol and the one command helper every terminal operation goes through
// (CommandProtocol.cpp), file transfer (FileTransfer.cpp), the Base64 codec and file helpers
// (Base64Codec.cpp), and the operations by group.
//
// Thread-safety: operations run on the caller's thread. SetForcedReturn and CancelOpt may be
// called from another thread while an operation waits. Segment reads are serialised by one
// process-wide read lock; writes are not serialised. Reads and writes of the HID manager run
// side by side, but never while the device is opened or closed: a close refuses new ones and
// waits for those in progress (each returns within about 10 ms).
//
// Losing the terminal: when the HID manager reports the device gone (unplugged, the simulator
// hung up), the waiting send ends with -4 and the waiting read with -5 at once, the port is
// closed and the loss is logged once; later sends and reads fail the same way without waiting
// until HIDOpenPort opens the device again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CCounterMate.h"

class CHidManager;
class CJsonObject;

namespace countermate::terminal {

// Bytes of a command text and of most answers.
constexpr int kCommandBytes = 4096;
constexpr int kAnswerBytes = 4096;
constexpr int kDefaultPacketSize = 512;
// A report is assembled behind its report number in a 1025-byte buffer.
constexpr int kMaxPacketSize = 1024;
// The smallest report that carries a segment header and one data byte.
constexpr int kMinPacketSize = 4;

// The packet size configured in `config_path` (section DEVICE, key HID_DATAPACKET_SIZE).
// A missing key gives 512; a value outside 4..1024 cannot be framed and also gives 512.
int ReadPacketSize(const char* config_path);

// How an operation judges the terminal's answer after `success`.
enum class StatusRule {
    kNotRead,          // `success` alone decides
    kCommon,           // statusCode 1 gives -9, 2 gives -2, -1 gives -19; anything else succeeds
    kCancelOrTimeout,  // statusCode 1 gives -9, 2 gives -2; anything else, -1 included, goes on
};

// Splits `text` at `separator`: every separator ends a piece (empty pieces kept); a non-empty
// text adds the rest after the last separator. Returns the number of pieces.
int SplitString(const std::string& text, std::vector<std::string>& pieces, char separator);

// Replaces every occurrence of `old_value` in `text` by `new_value`, searching on after each
// inserted text, so that inserted text is never replaced again.
std::string replace_all_distinct(const std::string& text, const std::string& old_value,
                                 const std::string& new_value);
// Replaces several placeholders in one pass (at each place the first listed that matches), so
// that no inserted value is searched for any placeholder.
std::string ReplacePlaceholders(const std::string& text,
                                const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace countermate::terminal

class CDEV_CounterMate : public CCounterMate {
public:
    // Talks to the terminal through the HID manager of "./libHid.so".
    CDEV_CounterMate();
    // Talks to the terminal through `link` instead (tests put a fault-injecting or scripted
    // link here); the driver owns it. Everything else is as with libHid.
    explicit CDEV_CounterMate(std::unique_ptr<CHidManager> link);

    // ---- the interface, in its order ----
    int HIDOpenPort() override;
    int HIDClosePort() override;
    void GetErrMsg(int code, char* text) override;
    void SetForcedReturn(bool force) override;
    int CancelOpt() override;
    int PlayVoice(int voice) override;
    int PlaySound(char* sound_file) override;
    int StopService() override;
    int RestoreService() override;
    int Reboot() override;
    int GetSerialNo(char* serial_no) override;
    int SetSerialNo(char* serial_no) override;
    int GetDevID(char* device_id) override;
    int GetApkVersion(char* app_version) override;
    int SetVolume(int volume) override;
    int InputNumber(int input_type, int min_count, int max_count, int timeout,
                    char* number) override;
    int UpdateApk(char* local_apk) override;
    int Evaluate(int key_count, int timeout, int* evaluation) override;
    int EvaluateSix(int timeout, int* evaluation) override;
    int ShowPdfAndConfirm(int timeout, char* local_pdf, int* confirmation) override;
    int ShowInformation(int timeout, char* html, int is_url) override;
    int ShowAndConfirmInformation(int timeout, char* html, int is_url, int* answer) override;
    int PushFile(char* local_path, const char* terminal_path) override;
    int PullFile(const char* terminal_path, char* local_path) override;
    int ShowPdfSign(int timeout, int sign_type, char* local_pdf, char* sign_image, char* sign_track,
                    char* finger_image) override;
    int ShowPdfSign_Base64(int timeout, int sign_type, char* local_pdf, char* sign_image,
                           char* finger_image) override;
    int ShowPdfSignAndFingerPoint(int timeout, int sign_type, char* local_pdf, char* signed_pdf,
                                  char* sign_image_folder, char* sign_track,
                                  char* finger_image_folder) override;
    int ShowPdfSignAndFingerPoint_Base64(int timeout, int sign_type, char* local_pdf,
                                         char** signed_pdf, char** sign_image,
                                         char** finger_image) override;
    int ShowPdfSignOrFingerCoordinates(int timeout, int sign_type, char* local_pdf,
                                       int record_video, char* positions, char* signed_pdf,
                                       char* sign_image_folder, char* sign_track,
                                       char* finger_image_folder, char* video) override;
    int ShowPdfSignOrFingerCoordinates_Base64(int timeout, int sign_type, char* local_pdf,
                                              int record_video, char* positions, char** signed_pdf,
                                              char** sign_image, char** finger_image,
                                              char** video) override;
    int ShowDocumentSignOrFingerPoints(int timeout, int record_video, int sign_type, char* document,
                                       char* signed_document, char* sign_image, char* sign_data,
                                       char* finger_image, char* video) override;
    int ShowDocumentSignOrFingerCoordinates(int timeout, int record_video, int sign_type,
                                            char* document, char* positions, char* signed_document,
                                            char* sign_image, char* sign_data, char* finger_image,
                                            char* video) override;
    int ShowDocumentSignOrFingerPoints_Base64(int timeout, int record_video, int sign_type,
                                              char* document, char** signed_document,
                                              char** sign_image, char** sign_data,
                                              char** finger_image, char** video) override;
    int ShowDocumentSignOrFingerCoordinates_Base64(int timeout, int record_video, int sign_type,
                                                   char* document, char* positions,
                                                   char** signed_document, char** sign_image,
                                                   char** sign_data, char** finger_image,
                                                   char** video) override;
    int ShowDocumentSignOrFingerPointsWithCms(int timeout, int record_video, int sign_type,
                                              char* document, char* signed_document,
                                              char* sign_image, char* sign_data, char* finger_image,
                                              char* video) override;
    int ShowDocumentSignOrFingerCoordinatesWithCms(int timeout, int record_video, int sign_type,
                                                   char* document, char* positions,
                                                   char* signed_document, char* sign_image,
                                                   char* sign_data, char* finger_image,
                                                   char* video) override;
    int ShowDocumentSignOrFingerPointsWithCms_Base64(int timeout, int record_video, int sign_type,
                                                     char* document, char** signed_document,
                                                     char** sign_image, char** sign_data,
                                                     char** finger_image, char** video) override;
    int ShowDocumentSignOrFingerCoordinatesWithCms_Base64(int timeout, int record_video,
                                                          int sign_type, char* document,
                                                          char* positions, char** signed_document,
                                                          char** sign_image, char** sign_data,
                                                          char** finger_image,
                                                          char** video) override;
    int ShowPdfSignOrFingerMultiDoc(int timeout, int document_count, char* local_pdfs,
                                    int sign_type, int record_video, char* positions,
                                    char* signed_pdf_folder, char* video) override;
    int ShowPdfSignOrFingerMultiDoc_Base64(int timeout, int document_count, char* local_pdfs,
                                           int sign_type, int record_video, char* positions,
                                           char** signed_pdfs, char** video) override;
    int ReadIDCard(int timeout, int card_source, char* answer, const char* photo,
                   const char* back_image, const char* front_image) override;
    int ReadIDCard_Base64(int timeout, int card_source, char* answer, char* photo,
                          char* front_image, char* back_image) override;
    int GetFingerPrint(int timeout, int width, int height, char* image, char* finger_data) override;
    int GetFingerPrint_Base64(int timeout, int width, int height, char* image,
                              char* finger_data) override;
    int GetSignName(int timeout, char* sign_image, char* sign_track) override;
    int GetSignName_Base64(int timeout, char* sign_image) override;
    int ReadQR(int timeout, char* code) override;
    int ReadQR_Qinglan(int timeout, char* code) override;
    int GetPhoto_Base64(int timeout, char* photo) override;
    int SignaturePlayback(int timeout, char* local_track) override;
    int PictureOCR(int timeout, char* local_picture, char* text) override;
    int ShowPictures(char* local_picture, int type, int timeout, int* answer) override;
    int GetDevAndModulesInfo(char* modules, char* device_id, char* app_version,
                             char* firmware_version, char* module_state) override;
    int FaceValidateWithIdCard_Base64(int timeout, int infrared, int card_source, double* score,
                                      char* answer, char* photo, char* back_image,
                                      char* front_image, char* scene_photo) override;
    int FingerValidateWithIdCard_Base64(int timeout, double* score, char* answer,
                                        char* finger_image, char* card_finger_data) override;
    int FaceValidateWithIdCard(int timeout, int infrared, double* score, char* answer, char* photo,
                               char* back_image, char* front_image, char* scene_photo) override;
    int FaceValidateWithIdCardPhoto_Base64(int timeout, char* local_card_photo, double* score,
                                           char* scene_photo) override;
    int FaceValidateWithPCPhoto(int timeout, char* local_card_photo, char* local_face_photo,
                                double* score) override;
    int FaceValidateWithFacePhoto(int timeout, char* local_face_photo, double* score) override;
    int Login(char* user_name, char* user_no, int star_level) override;
    int Logout() override;
    int DownLoadFile(int file_kind, char* local_path, char* file_name) override;
    int GetFileInfo(int file_kind, char* folder, char* file_list) override;
    int DeleteFile(int file_kind, char* folder, char* file_name, int* deleted_count) override;
    int LoginByHtml(char* user_name, char* user_no, char* star_level, char* position,
                    char* org_name, char* head_picture) override;
    int EvaluateByHtml(int timeout, char* work, char* evaluation) override;
    int LogoutByHtml() override;
    int OpenPrinter() override;
    int ClosePrinter() override;
    int PrintReceipt(char* receipt) override;
    int PrintQR(char* qr_text) override;
    int GenerateQRCode(int timeout, char* qr_content) override;
    int StartVideo(int mode) override;
    int StopVideo() override;
    int PauseVideo() override;
    int KeepVideo() override;
    int GetVideoData(int* length, unsigned char* frame) override;
    int GetVideoData_Base64(char* frame) override;
    int GetCapturedImage(char* local_path, unsigned char* image, int* length) override;
    int GetCapturedImageAndBase64(char* local_path, char* image, int capacity) override;
    int HIDSend(unsigned char* data, int length, int timeout) override;
    int HidRead(unsigned char* data, int* length, int timeout) override;
    int HidWrite(unsigned char* data, int length, int timeout) override;
    int PullFileAndBase64(char* terminal_path, char* local_path, char* base64,
                          int capacity) override;
    int iReadCardBas(int card_type, char* card_info) override;
    int iReadCardBas_HSM_Step1(int card_type, char* card_info) override;
    int iReadCardBas_HSM_Step2(char* key_data, char* card_info) override;
    int iReadICCardNum(int timeout, char* card_number) override;
    int ReadIdentityCard(char* identity_fields, char* message) override;
    int FileBase64Encode_GetLength(char* local_path) override;
    int FileBase64Encode(char* local_path, char** base64) override;
    int FileBase64Decode(char* base64, char* local_path) override;
    int Base64Encode(unsigned char* data, int length, char* text) override;
    int Base64Decode(char* text, int* length, unsigned char* data) override;
    int CamReadBarCode(char* local_photo, int timeout, char* code) override;
    int StartInstallTool() override;
    int WriteDeviceInfo(char* key, char* value) override;
    int ReadDeviceInfo(char* key, char* value) override;
    int SignNameScreen_Start(int timeout) override;
    int SignNameScreen_GetScreen(long* length, unsigned char* image) override;
    int SignNameScreen_GetScreenBase64(char* image) override;
    int SignNameScreen_End(char* sign_image) override;
    int StartComputerScreen() override;
    int StopComputerScreen() override;
    int PushFiles(char* local_path, const char* terminal_path,
                  CounterMateProgress progress) override;
    int UpdateApk_AfterPushAPK() override;

    virtual ~CDEV_CounterMate();

    // ---- segment link (kinds in SegmentFraming.h) ----
    // One segment of at most P - 3 data bytes.
    int HIDSendN(int kind, const unsigned char* data, int length, int timeout);
    // A message as consecutive segments of one kind; stops at the first failed segment.
    int HidWriteN(int kind, const unsigned char* data, int length, int timeout);
    // Receives a message into `data`, appending at offset *length (callers start it at 0).
    // Kind 2 takes exactly one report. Never writes past `capacity`: a longer message is read
    // to its end and discarded, and the call returns -5. Holds the read lock throughout.
    int HidReadN(int kind, unsigned char* data, int* length, int timeout, int capacity);

    // ---- command protocol ----
    // Writes the command text and a carriage return (no terminator) into `buffer`.
    // Returns 0, or -10 when the text with its carriage return exceeds `capacity`.
    int BuildCommand(char* buffer, int capacity, const char* command, const char* param_text);
    // Sends `command` (kind 4) and copies the answer into `answer` (no terminator is added;
    // callers zero the buffer). A timeout of 0 or less is 10 s; the answer may take 2 s more.
    int SendCommand(const char* command, char* answer, int timeout,
                    int answer_capacity = countermate::terminal::kAnswerBytes);
    // 0 when `success` is the boolean true, -11 otherwise; `parsed` receives the answer.
    int ParseCommandResponse(const char* answer, CJsonObject& parsed);
    // The one command helper: builds `command` with `param` (null for none), sends it with the
    // wait in seconds, judges the answer by `rule`, and leaves the parsed answer in `answer`.
    int RunCommand(const char* command, const CJsonObject* param, int wait,
                   countermate::terminal::StatusRule rule, CJsonObject& answer);
    // RunCommand for answers of up to `answer_capacity` bytes that also keeps the answer text as
    // received in `answer_text` (may be null), for operations that hand it to their caller.
    int RunCommandKeepingText(const char* command, const CJsonObject* param, int wait,
                              countermate::terminal::StatusRule rule, CJsonObject& answer,
                              std::string* answer_text, int answer_capacity);

    // ---- raw stream reports (VideoOperations.cpp) ----
    // Reads one raw report into `report` (a buffer of the packet size) under the waiting rule;
    // *count gets its byte count. With `stop` given, the wait also ends, with 0 and *count 0,
    // as soon as *stop is non-zero (a frame reader's stop flag). Segments of messages never
    // reach it: they are kept for the message reader.
    int ReadRawReport(unsigned char* report, int* count, int timeout, const std::atomic<int>* stop);
    // Drops the raw reports that a message reader kept for the stream readers: what the
    // terminal sent before a stream starts belongs to no frame of it.
    void DropKeptRawReports();

    // ---- file transfer ----
    int PullFileData(const char* terminal_path, const char* local_path, unsigned char* buffer,
                     int* length, int capacity);
    int DEV_GetDevFileSize(const char* terminal_path, int* size);
    int DEV_GetDevFileBase64(int size, char* output);
    // *output is null unless the pull succeeds; then it holds the text, released with free.
    int PullFile_Base64_Calloc(const char* terminal_path, char** output);
    int TransFileCount(int count, const char* local_paths);

    // ---- for tests and benchmarks ----
    int PacketSize() const { return m_packet_size; }
    bool ForcedReturnPending() const { return m_forced_return.load(); }
    bool PortOpen() const { return m_port_open.load(); }
    // Replaces the whole-second wall clock that every wait on the link measures.
    void UseClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }
    // Replaces the folder (with its trailing "/") that holds the teller page template
    // "EvaluateTemplate.html" and the pages filled from it; by default the library's own folder.
    void UseModuleDirectory(std::string folder) { m_module_directory = std::move(folder); }
    // The folder of the teller pages, with its trailing "/".
    std::string ModuleDirectory() const;
    std::string ScratchDirectory() const;

private:
    // A send attempts before its first check of time and flag and fails with -4 when the link
    // is gone; a read checks first and fails with -5.
    enum class Direction { kSend, kReceive };
    // kNotYet: nothing arrived or could be written yet, or a message is still incomplete.
    enum class Attempt { kDone, kNotYet, kLinkGone };
    // Repeats `attempt` until it is done: -2 when more whole seconds than `timeout` have
    // passed, -9 when the forced-return flag is seen (it is cleared), the direction's failure
    // code at once when the link is gone (the port is then closed).
    int WaitOnLink(int timeout, Direction direction, const std::function<Attempt()>& attempt);
    int WriteReport(const unsigned char* report, int length, int timeout);
    // The two readers a report can be for. A stream runs beside the requests, so a frame reader
    // and a message reader may poll the link at once; each report goes to the reader it is for.
    // Segments of messages carry their kind (0 to 5) in their first byte; every other report is
    // a raw one (the streams' reports begin with their marker 0x06).
    enum class ReportReader { kMessages, kRaw, kAny };
    // One read for `reader` into a report buffer of the packet size: a report kept for it
    // first, else one read of the HID manager. Its byte count, 0 when nothing arrived for it
    // (a report for the other reader is then kept for that one), below 0 when the link is gone
    // or the port is not open.
    int ReadReport(unsigned char* report, ReportReader reader);
    // Keeps `report` for `reader`, unless as many as a stream can have in flight wait already;
    // the caller holds m_read_lock.
    void KeepReport(const unsigned char* report, int count, ReportReader reader);
    // Drops the reports kept for `reader` (kAny: for both).
    void DropKeptReports(ReportReader reader);
    // One call of the HID manager's write or read while the port is open, never during an open
    // or a close. Returns the manager's result, or -1 (gone) when the port is not open.
    int UseManager(const std::function<int(CHidManager&)>& call);
    // Closes the device once no thread is inside the HID manager. 0 when closed or when the
    // port was not open, -3 when the manager failed to close (the port stays open). `lost`
    // logs that the link was lost, once, by the thread that closes.
    int ClosePortWhenIdle(bool lost);
    int PushFileWithProgress(const char* local_path, const char* terminal_path,
                             CounterMateProgress progress);
    int PullIntoFile(const char* terminal_path, const char* local_path);
    int PullIntoBase64(const char* terminal_path, const char* local_path, char* base64,
                       int capacity);
    // Sends a pull announcement (kind 2) and judges the answer; `size` gets data.fileSize.
    int RequestPull(const char* terminal_path, bool line_feed, int* size);
    // Receives `size` bytes of pulled data (kind 2 reports) into `sink`, acknowledging every
    // 10th report with `acknowledgement`.
    int ReceivePulledData(int size, const std::string& acknowledgement,
                          const std::function<void(const unsigned char*, int)>& sink);
    // Receives `size` bytes of pulled data as ReceivePulledData does, collected in `data`.
    int ReceivePulledBytes(int size, std::vector<unsigned char>& data);
    // Builds, sends over `kind` and judges one command: BuildCommand, the send and
    // ParseCommandResponse in one step. The answer may take `answer_capacity` bytes; its text
    // as received goes to `answer_text` when that is not null.
    int ExchangeCommand(int kind, const char* command, const char* param_text, int wait,
                        CJsonObject& answer, std::string* answer_text = nullptr,
                        int answer_capacity = countermate::terminal::kAnswerBytes);
    int SendCommandOfKind(int kind, const char* command, char* answer, int timeout,
                          int answer_capacity);

    CHidManager* m_hid = nullptr;
    std::unique_ptr<CHidManager> m_owned_link;  // the link handed to the constructor, if any
    std::atomic<bool> m_forced_return{false};
    // Written under m_port_lock only; read without it where a stale answer is harmless.
    std::atomic<bool> m_port_open{false};
    // Guards m_port_closing and m_calls_in_manager, and is held over the manager's open and
    // close.
    std::mutex m_port_lock;
    std::condition_variable m_port_changed;   // a close ended, or the last call left the manager
    std::atomic<bool> m_port_closing{false};  // changed and waited on under m_port_lock only
    int m_calls_in_manager = 0;
    // Held over one read of the link and its routing, so that reports reach their readers in
    // the order they arrived; guards m_kept_messages and m_kept_raw.
    std::mutex m_read_lock;
    std::deque<std::vector<unsigned char>> m_kept_messages;  // segments read by a frame reader
    std::deque<std::vector<unsigned char>> m_kept_raw;       // raw reports read by a message reader
    int m_packet_size = countermate::terminal::kDefaultPacketSize;
    std::function<std::time_t()> m_clock;
    std::string m_module_directory;
};
