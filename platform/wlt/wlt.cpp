// libwlt.so as CounterMate ships it: decodes the simulated reader's test photos (TestPhoto.h)
// and answers failure for anything else, such as a real card's photo. A counter with a real
// reader replaces this file with the reader maker's libwlt.so.
#include "TestPhoto.h"

#define WLT_API extern "C" __attribute__((visibility("default")))

// Decodes the 1024-byte photo block into 102 x 126 RGB pixels, bottom row first. The flag
// (310 or 102 as the card library passes it) selects nothing here. 1 on success, 0 otherwise.
WLT_API int unpack(const unsigned char* photo, unsigned char* pixels, int flag) {
    return countermate::testphoto::Decode(photo, pixels) ? 1 : 0;
}
