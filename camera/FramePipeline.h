// One frame, from the capture thread to the caller's preview JPEG, honouring the pending photo,
// timed and automatic capture requests on the way.
#pragma once

namespace docscope {

// The body of CamGetCameraImage; the caller has checked initialisation.
void ServeFrame(unsigned char* jpegBuf, int* jpegLen, char* retVal, char* errMsg, float scale);

// The path of a time-stamped capture taken now: "./Temp/YYYYMMDDhhmmss.jpg".
void TimeStampedPath(char* path, int capacity);

}  // namespace docscope
