// libcardgate: the identity-card reader library.
//
// Layers, lowest first: the reader log (hourly trace files), the transports (termios serial
// port, libusb-1.0 bulk, interrupt or HID-report control transfers), the reader's command
// frame and the link framing, and the SDT card API with the identity-data parsers.
//
// Every entry has C linkage and is found by name (dlsym). Results are 0 or the reader's
// status byte (0x90 success, 0x9F card found) on success and negative codes on failure (the
// CARDGATE_* codes below); the card commands answer 1 when no reader is open. The library keeps
// one current reader (the global device) and is not thread-safe: one caller at a time.
#pragma once

#include <stdint.h>
#include <termios.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CARDGATE_API __attribute__((visibility("default")))

typedef struct libusb_device libusb_device;
typedef struct libusb_device_handle libusb_device_handle;
typedef struct libusb_context libusb_context;

// The open-device record: 272 bytes, copied whole to callers by the open functions.
typedef struct ReaderHandle {
    int32_t devType;         // 0 none, 1 USB, 2 serial
    int32_t fd;              // serial port descriptor
    int32_t baud;            // serial speed in bits per second
    char path[64];           // serial device path or USB device path
    struct termios termios;  // serial settings as applied
    int32_t usbFd;           // descriptor handed in for USB; <= 0 opens by enumeration; 8 once open
    int32_t vid;
    int32_t pid;
    libusb_device_handle* devHandle;
    libusb_context* usbContext;
    int32_t transType;  // 0 control (HID reports), 2 bulk, 3 interrupt
    int32_t inEndpoint;
    int32_t outEndpoint;
    int32_t configValue;
    int32_t interfaceNumber;
    int32_t timeoutMs;     // transfer time limit
    int32_t timeout2;      // stored only
    int32_t protocolMode;  // link framing: 0 byte frames, 1 ASCII-nibble frames
    int32_t openMode;      // mode number given to the USB open
    unsigned char reserved[68];
} ReaderHandle;

enum {
    CARDGATE_NO_DEVICE = -97,
    CARDGATE_PATH_NOT_FOUND = -99,
    CARDGATE_SETTINGS_FAILED = -100,
    CARDGATE_RECEIVE_FAILED = -113,
    CARDGATE_SEND_FAILED = -114,
    CARDGATE_NO_START_BYTE = -115,
    CARDGATE_NO_END_BYTE = -116,
    CARDGATE_CHECKSUM = -118,
    CARDGATE_NOTHING_RECEIVED = -119,
    CARDGATE_NO_MEMORY = -129,
    CARDGATE_SEND_LENGTH = -130,
    CARDGATE_BAD_ARGUMENT = -131,
    CARDGATE_FILE = -146,
    CARDGATE_NO_DECODER = -147,
    CARDGATE_CONVERSION = -148,
    CARDGATE_LOG_NOT_OPENED = -257,
    CARDGATE_LOG_OFF = -258,
    CARDGATE_LOG_NO_MEMORY = -260,
};

// ---- Reader log: "<root>/<module>/YYYYMMDD/log_HH.txt", default /tmp/kvxlog, on. ----
CARDGATE_API void InitLogLib(void);
CARDGATE_API void RealseLogLib(void);
CARDGATE_API void SetLogInfo(const char* rootPath, const char* moduleName, int maxFileSize,
                             int keepDays);
CARDGATE_API void SetlogWriteflag(int on);
CARDGATE_API int Writelog(const char* text);
CARDGATE_API int Writelog_Arg(const char* format, ...) __attribute__((format(printf, 1, 2)));
CARDGATE_API int Writelog_Hex(const unsigned char* data, int len);
CARDGATE_API int CreatDir(const char* path);
CARDGATE_API int DeleteExpiredFile(const char* folder, int days);

// ---- Transport ----
CARDGATE_API int StdOpenCom(const char* path, int baud, ReaderHandle* out);
CARDGATE_API int OpenComByPath(ReaderHandle* h);
CARDGATE_API int SetComParam(int fd, int baud, int dataBits, int parity, int stopBits,
                             ReaderHandle* h);
CARDGATE_API int StdOpenUsbByVidPid(int vid, int pid, int fd, ReaderHandle* out);
CARDGATE_API int StdOpenUsbByPath(const char* devpath, int fd, ReaderHandle* out);
CARDGATE_API int OpenLibUSB(ReaderHandle* h);
CARDGATE_API int OpenLibUSBByPath(ReaderHandle* h);
CARDGATE_API int StdSetTimeout(ReaderHandle* h, int timeoutMs, int timeout2);
// Receives take *len on entry as the capacity of `data` when it is positive (8192 otherwise);
// bytes beyond the capacity are dropped. *len receives the byte count.
CARDGATE_API int StdSendData(ReaderHandle* h, const unsigned char* data, int len);
CARDGATE_API int StdRecvData(ReaderHandle* h, unsigned char* data, int* len);
CARDGATE_API int ComSendData(ReaderHandle* h, const unsigned char* data, int len);
CARDGATE_API int ComRecvData(ReaderHandle* h, unsigned char* data, int* len);
CARDGATE_API int LibUSBSendData(ReaderHandle* h, const unsigned char* data, int len);
CARDGATE_API int LibUSBRecvData(ReaderHandle* h, unsigned char* data, int* len);
CARDGATE_API int StdCOMReadByte(ReaderHandle* h, unsigned char* out);
CARDGATE_API int CheckFD(int fd, int direction, int ms);
CARDGATE_API int StdCloseDev(ReaderHandle* h);
CARDGATE_API int OpenDevCom(const char* path, int baud, int* size);
CARDGATE_API int OpenDevHid(int openMode, int vid, int pid, const char* devpath, int fd, int* size);
CARDGATE_API int CloseDevice(void);
CARDGATE_API int SetDevTimeout(int timeoutMs, int timeout2);
CARDGATE_API int SeDevMode(void* handle, int protocolMode);
CARDGATE_API int GetCurDevType(void);
CARDGATE_API int libusb_open_fd(libusb_device* device, libusb_device_handle** handle, int fd);
CARDGATE_API int libusb_open_fd2(libusb_device* device, libusb_device_handle** handle, int fd);
CARDGATE_API libusb_device* libusb_get_device2(libusb_context* context, const char* path);
CARDGATE_API int libusb_open2(libusb_device* device, libusb_device_handle** handle, int fd);

// ---- Frames ----
CARDGATE_API int GAProtocol(void* handle, int n, const unsigned char* payload, int* size,
                            unsigned char* out);
CARDGATE_API int AssemblyProtocol(int mode, const unsigned char* payload, int L,
                                  unsigned char* frame, int* frameLen);
CARDGATE_API int AssemblyProtocol2(int mode, const unsigned char* payload, int L,
                                   unsigned char* frame, int* frameLen);
CARDGATE_API int AnalysisProtocol(int mode, unsigned char* frame, int* len);
CARDGATE_API int AnalysisProtocol2(int mode, unsigned char* frame, int* len);
CARDGATE_API int ByteToLength(const unsigned char* p);
CARDGATE_API int ComSendProtocol(ReaderHandle* h, unsigned char* data, int len);
CARDGATE_API int ComRecvProtocol(ReaderHandle* h, unsigned char* out, int* len);
CARDGATE_API int USBSendProtocol(ReaderHandle* h, unsigned char* data, int len);
CARDGATE_API int USBRecvProtocol(ReaderHandle* h, unsigned char* out, int* len);
CARDGATE_API int ComSendProtocol2(ReaderHandle* h, unsigned char* data, int len);
CARDGATE_API int ComRecvProtocol2(ReaderHandle* h, unsigned char* out, int* len);
CARDGATE_API int USBSendProtocol2(ReaderHandle* h, unsigned char* data, int len);
CARDGATE_API int USBRecvProtocol2(ReaderHandle* h, unsigned char* out, int* len);
CARDGATE_API int ComRecvProtocolBybyte(ReaderHandle* h, unsigned char* out, int* len);
CARDGATE_API int ManageDevData(void* handle, int len, const unsigned char* data, int* size,
                               unsigned char* out);
CARDGATE_API int ManageDevData2(void* handle, int len, const unsigned char* data, int* size,
                                unsigned char* out);
CARDGATE_API unsigned char BCC(const unsigned char* data, int len);
CARDGATE_API unsigned char MTBCC(const unsigned char* data, int len);
CARDGATE_API unsigned char cr_bcc(const unsigned char* data, int len);

// ---- SDT card API ----
CARDGATE_API int SDT_OpenDev(int port, int mode, const char* path, int baudOrFd);
CARDGATE_API int _SDT_OpenUsbByFD(int fd);
CARDGATE_API int _SDT_OpenUsbByPath(int fd, const char* path);
CARDGATE_API int _SDT_OpenComBypath(const char* path, int baud);
CARDGATE_API int _SDT_CloseDev(void);
CARDGATE_API int _SDT_ResetSAM(void);
CARDGATE_API int _SDT_SetMaxRFByte(int n);
CARDGATE_API int _SDT_GetSAMStatus(void);
CARDGATE_API int _SDT_GetSAMID(unsigned char* id);
CARDGATE_API int _SDT_GetSAMIDToStr(void);
CARDGATE_API int _SDT_StartFindIDCard(unsigned char* out);
CARDGATE_API int _SDT_SelectIDCard(unsigned char* out);
// Text up to 512 bytes, photo and fingerprint up to 2048 bytes each: a response declaring more
// is refused (17) rather than written past the caller's buffers.
CARDGATE_API int _SDT_ReadBaseMsg(unsigned char* text, unsigned int* textLen, unsigned char* photo,
                                  unsigned int* photoLen);
CARDGATE_API int _SDT_ReadBaseFPMsg(unsigned char* text, unsigned int* textLen,
                                    unsigned char* photo, unsigned int* photoLen, unsigned char* fp,
                                    unsigned int* fpLen);
CARDGATE_API int _SDT_ReadNewAppMsg(unsigned char* out, int* len);
CARDGATE_API int _SDT_ReadBaseMsgToFile(void);
CARDGATE_API int _SDT_ReadBaseFPMsgToFile(void);

// ---- Identity data ----
CARDGATE_API int _SDT_ParseIDCardTextInfo(const unsigned char* text, int textLen, int* cardKind,
                                          char* out);
CARDGATE_API int _SDT_ParsePhotoInfo(const unsigned char* photo, int photoLen, int mode, char* out);
CARDGATE_API int GetIDUnicodeInfo(int kind, int len, const unsigned char* src, char* out);
CARDGATE_API int ParseCHNIDTextInfo(const unsigned char* text, int textLen, char* name, char* sex,
                                    char* nation, char* birth, char* address, char* idNumber,
                                    char* authority, char* validFrom, char* validUntil,
                                    char* extra);
CARDGATE_API int ParseForeignerTextInfo(const unsigned char* text, int textLen, char* englishName,
                                        char* sex, char* cardNumber, char* nationality,
                                        char* chineseName, char* validFrom, char* validUntil,
                                        char* birth, char* cardVersion, char* authorityCode,
                                        char* cardKind, char* reserved);
CARDGATE_API int ParseHKMoTwTextInfo(const unsigned char* text, int textLen, char* name, char* sex,
                                     char* field32, char* birth, char* address, char* idNumber,
                                     char* authority, char* validFrom, char* validUntil,
                                     char* passNumber, char* issueCount, char* field242,
                                     char* cardKind, char* reserved);
CARDGATE_API int GetIDNation(const char* code, int len, char* out);
CARDGATE_API int GetCountry(const char* code, char* out);
CARDGATE_API int SaveBmp(const unsigned char* pixels, const char* path, int width, int height);
CARDGATE_API int DecodeToBmp(const unsigned char* photo, char* bmpName);

// ---- Conversions and helpers ----
CARDGATE_API int WCToMB(const unsigned char* src, char* dst, int len);
CARDGATE_API int code_convert(const char* from, const char* to, const char* in, int inLen,
                              char* out, int outLen);
CARDGATE_API int UnicodeToUTF_8(const uint64_t* codes, int count, char* dst);
CARDGATE_API int encode(const unsigned char* data, int len, char* out);
CARDGATE_API int decode(const char* text, int textLen, unsigned char* out, int outCap);
CARDGATE_API int GetFileBase64(const char* path, char* out);
CARDGATE_API void HexToAsc(const unsigned char* data, char* out, int len);
CARDGATE_API void AscToHex(const char* text, unsigned char* out, int len);
CARDGATE_API int AsciiToDec(const char* text, unsigned char* out, int len);
CARDGATE_API void CmdPaste(int cmd, const unsigned char* data, int len, unsigned char* out,
                           int* outLen);
CARDGATE_API void ParseMagData(const char* src, int len, char* out, int* outLen);
CARDGATE_API int ParseIDCardString(int mode, const unsigned char* block, int blockLen,
                                   int* cardKind, char* text, char* fpHex, unsigned int* photoLen,
                                   unsigned char* photo);
// Moves with rename, or copy and delete across file systems; never through a shell.
CARDGATE_API int MoveFile(const char* from, const char* to);
CARDGATE_API void GetTempPath(char* out);
CARDGATE_API int ConverWltToBmp(void);

#ifdef __cplusplus
}
#endif
