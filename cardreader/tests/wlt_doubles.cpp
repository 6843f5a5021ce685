// Stand-ins for the reader maker's photo decoder, built as separate libraries for the photo
// tests, one behaviour each (chosen by the macro the build gives):
//   WLT_LEAVES_PICTURE  unpack fails for flag 310 and, for 102, leaves "./zp.bmp" holding the
//                       flags it was called with;
//   WLT_CODEC_ONLY      no unpack, only WLTCodec_Wlt2Bgr24, which fills the picture when asked
//                       for 102 x 126 x 3 bytes;
//   neither             a library without decoder entries.
#include <cstdio>
#include <cstring>

#define DOUBLE_API extern "C" __attribute__((visibility("default")))

#if defined(WLT_LEAVES_PICTURE)
// Plain C state only: a C++ library-wide object could make the library impossible to unload,
// and the next test's ./libwlt.so would then find this one still loaded.
static char g_flags[64];

DOUBLE_API int unpack(const unsigned char*, unsigned char*, int flag) {
    const size_t used = std::strlen(g_flags);
    std::snprintf(g_flags + used, sizeof g_flags - used, "%s%d", used ? "," : "", flag);
    if (flag != 102) return 0;
    if (FILE* file = std::fopen("./zp.bmp", "wb")) {
        std::fputs(g_flags, file);
        std::fclose(file);
    }
    g_flags[0] = '\0';
    return 1;
}
#elif defined(WLT_CODEC_ONLY)
DOUBLE_API int WLTCodec_Wlt2Bgr24(const unsigned char*, unsigned char* pixels, int size) {
    if (size != 102 * 126 * 3) return 0;
    std::memset(pixels, 0x7F, size_t(size));
    return 1;
}
#else
DOUBLE_API int NotADecoder(void) { return 0; }
#endif
