// Result codes of the terminal driver: 0 success, negative failures (GetErrMsg gives the texts).
#pragma once

namespace countermate::terminal {

enum ResultCode : int {
    kSuccess = 0,
    kBadArgument = -1,
    kTimedOut = -2,
    kPortNotOpen = -3,
    kSendFailed = -4,
    kReceiveFailed = -5,
    kFileMissing = -6,
    kIllegalData = -7,
    kFileOperationFailed = -8,
    kCancelled = -9,
    kMessageTooLong = -10,
    kDeviceFailed = -11,
    kSignatureImageFailed = -12,
    kNotSupported = -13,
    kAlreadyLatest = -14,
    kVideoControlFailed = -15,
    kEmptyFile = -16,
    kTerminalFailed = -19,
    kUnexpectedPacket = -20,
    kLibraryLoadFailed = -21,
    kSignatureRefused = -22,
};

}  // namespace countermate::terminal
