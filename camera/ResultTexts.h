// The result texts and messages of the camera entries, and bounded copies into caller buffers.
#pragma once

#include <cstddef>

namespace docscope {

namespace message {
constexpr char kDependenciesMissing[] = "设备相关服务依赖环境缺失";
constexpr char kNotInitialised[] = "未初始化";
constexpr char kCameraNotConnected[] = "指定摄像头未连接";
constexpr char kCameraNotOpen[] = "指定摄像头未打开";
constexpr char kFileMissing[] = "指定文件不存在";
// Two failures beyond the set above, which would otherwise end in an endless wait or a write past
// the caller's buffer.
constexpr char kPhotoNotWritten[] = "照片保存失败";
constexpr char kFileTooLarge[] = "文件过大";
}  // namespace message

// Copies `text` into `out`, cut to capacity - 1 bytes and NUL-terminated; null `out` is skipped.
void CopyText(char* out, std::size_t capacity, const char* text);

// Writes the result code and message into the caller's retVal and errMsg buffers.
void Answer(char* retVal, char* errMsg, const char* code, const char* message = "");

}  // namespace docscope
