// The card photo: decoded by the reader maker's libwlt.so into a 102 x 126 picture, written as
// a 24-bit BMP, and handed on as a file or as Base64 text.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CardgateInternal.h"
#include "WriteAll.h"

namespace {

constexpr int kPhotoWidth = 102;
constexpr int kPhotoHeight = 126;
constexpr size_t kPixelBufferSize = 38809;
constexpr int kMinPhotoBlock = 1024;
constexpr char kScratchWlt[] = "/tmp/tempKvx.wlt";
constexpr char kScratchBmp[] = "/tmp/tempKvx.bmp";
constexpr char kDecoderPicture[] = "./zp.bmp";
constexpr char kScratchLock[] = "/tmp/tempKvx.lock";

using UnpackFunction = int (*)(const unsigned char*, unsigned char*, int);
using Wlt2BgrFunction = int (*)(const unsigned char*, unsigned char*, int);

bool Exists(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0;
}

void PutLittleEndian(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back((unsigned char)(value >> (8 * i)));
}

using countermate::WriteAll;

// Creates `path` anew for writing; a file, link or anything else already there is not followed.
int CreateFresh(const char* path, int extraFlags) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | extraFlags, 0644);
}

bool CopyFile(const char* from, const char* to) {
    const int source = open(from, O_RDONLY | O_CLOEXEC);
    if (source < 0) return false;
    struct stat status {};
    if (fstat(source, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(source);
        return false;
    }
    struct stat target {};
    if (lstat(to, &target) == 0 && S_ISREG(target.st_mode)) unlink(to);
    const int destination = CreateFresh(to, 0);
    bool copied = destination >= 0;
    unsigned char block[65536];
    while (copied) {
        const ssize_t got = read(source, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            copied = got == 0;
            break;
        }
        copied = WriteAll(destination, block, size_t(got));
    }
    close(source);
    if (destination >= 0 && close(destination) != 0) copied = false;
    if (!copied && destination >= 0) unlink(to);
    return copied;
}

void* LoadDecoder() {
    void* library = dlopen("./libwlt.so", RTLD_NOW | RTLD_GLOBAL);
    if (library) return library;
    Writelog_Arg("./libwlt.so load fail,error = %s", dlerror());
    char folder[PATH_MAX] = "";
    if (getcwd(folder, sizeof folder)) {
        const std::string inFolder = std::string(folder) + "/libwlt.so";
        library = dlopen(inFolder.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (library) return library;
        Writelog_Arg("%s load fail,error = %s", inFolder.c_str(), dlerror());
    }
    library = dlopen("libwlt.so", RTLD_NOW | RTLD_GLOBAL);
    if (!library)
        Writelog_Arg("libwlt.so load fail,error = %s,ret = %d", dlerror(), CARDGATE_NO_DECODER);
    return library;
}

// Runs the decoder on the photo: 1 when it delivered a picture, else its result or -147.
int RunDecoder(void* library, const unsigned char* photo, unsigned char* pixels) {
    Writelog("find unpack");
    unlink(kDecoderPicture);
    std::memset(pixels, 0, kPixelBufferSize);
    if (auto unpack = reinterpret_cast<UnpackFunction>(dlsym(library, "unpack"))) {
        int result = unpack(photo, pixels, 310);
        if (result != 1) result = unpack(photo, pixels, 102);
        Writelog_Arg("unpack = %d", result);
        return result;
    }
    if (auto codec = reinterpret_cast<Wlt2BgrFunction>(dlsym(library, "WLTCodec_Wlt2Bgr24"))) {
        const int result = codec(photo, pixels, kPhotoWidth * kPhotoHeight * 3);
        Writelog_Arg("WLTCodec = %d", result);
        return result;
    }
    Writelog_Arg("WLTCodec load = %d", 0);
    Writelog_Arg("WLTCodec = %d", CARDGATE_NO_DECODER);
    return CARDGATE_NO_DECODER;
}

// Holds the lock that makes one photo at a time use the fixed scratch names in /tmp, across
// every process on the machine: two decodes at once would otherwise swap or lose each other's
// customer photo. Without a lock file (another user's, say) the photo is decoded unguarded.
class ScratchLock {
public:
    ScratchLock() : m_fd(open(kScratchLock, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666)) {
        if (m_fd >= 0) {
            while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~ScratchLock() {
        if (m_fd >= 0) close(m_fd);  // closing releases the lock
    }
    ScratchLock(const ScratchLock&) = delete;
    ScratchLock& operator=(const ScratchLock&) = delete;

private:
    int m_fd;
};

}  // namespace

int MoveFile(const char* from, const char* to) {
    if (!from || !to || !*from || !*to) return CARDGATE_FILE;
    if (rename(from, to) == 0) return 0;
    if (errno != EXDEV) return CARDGATE_FILE;
    if (!CopyFile(from, to)) return CARDGATE_FILE;
    unlink(from);
    return 0;
}

int SaveBmp(const unsigned char* pixels, const char* path, int width, int height) {
    if (!pixels || !path || width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return CARDGATE_BAD_ARGUMENT;
    const uint32_t rowBytes = uint32_t(width) * 3;
    const uint32_t stride = (rowBytes + 3) & ~3u;
    const uint32_t imageSize = stride * uint32_t(height);
    std::vector<unsigned char> file;
    file.reserve(54 + imageSize);
    file.push_back('B');
    file.push_back('M');
    PutLittleEndian(file, imageSize + 54, 4);
    PutLittleEndian(file, 0, 4);  // two reserved words
    PutLittleEndian(file, 54, 4);
    PutLittleEndian(file, 40, 4);
    PutLittleEndian(file, uint32_t(width), 4);
    PutLittleEndian(file, uint32_t(height), 4);  // positive: rows bottom-up, as supplied
    PutLittleEndian(file, 1, 2);
    PutLittleEndian(file, 24, 2);
    PutLittleEndian(file, 0, 4);  // no compression
    PutLittleEndian(file, imageSize, 4);
    file.insert(file.end(), 16, 0);  // resolutions, colours used and important
    for (int row = 0; row < height; ++row) {
        const unsigned char* source = pixels + size_t(row) * rowBytes;
        for (int x = 0; x < width; ++x) {
            file.push_back(source[3 * x + 2]);
            file.push_back(source[3 * x + 1]);
            file.push_back(source[3 * x]);
        }
        file.insert(file.end(), stride - rowBytes, 0);
    }
    unlink(path);
    const int fd = CreateFresh(path, O_APPEND);
    if (fd < 0) return CARDGATE_FILE;
    const bool written = WriteAll(fd, file.data(), file.size());
    if (close(fd) != 0 || !written) return CARDGATE_FILE;
    return 0;
}

int DecodeToBmp(const unsigned char* photo, char* bmpName) {
    if (!photo) return CARDGATE_BAD_ARGUMENT;
    unlink(kScratchWlt);
    unlink(kScratchBmp);
    void* library = LoadDecoder();
    if (!library) return CARDGATE_NO_DECODER;
    std::vector<unsigned char> pixels(kPixelBufferSize, 0);
    const int decoded = RunDecoder(library, photo, pixels.data());
    int result = 0;
    if (decoded == CARDGATE_NO_DECODER) {
        result = CARDGATE_NO_DECODER;
    } else if (decoded != 1) {
        result = CARDGATE_CONVERSION;
    } else if (!Exists(kDecoderPicture)) {
        const int saved = SaveBmp(pixels.data(), kScratchBmp, kPhotoWidth, kPhotoHeight);
        Writelog_Arg("SaveBmp ret = %d", saved);
        if (saved != 0) result = CARDGATE_CONVERSION;
    } else {
        Writelog_Arg("BMPFile = %s", kScratchBmp);
        if (MoveFile(kDecoderPicture, kScratchBmp) != 0) result = CARDGATE_FILE;
        unlink(kDecoderPicture);
    }
    dlclose(library);
    unlink(kScratchWlt);
    if (result == 0 && bmpName) std::strcpy(bmpName, kScratchBmp);
    Writelog_Arg("DecodeWlt ret = %d", result);
    return result;
}

int _SDT_ParsePhotoInfo(const unsigned char* photo, int photoLen, int mode, char* out) {
    if (mode == 0) return 0;
    if (!photo || photoLen < kMinPhotoBlock || (mode != 1 && mode != 2) || !out)
        return CARDGATE_BAD_ARGUMENT;
    ScratchLock scratch;
    char bmpName[64] = "";
    int result = DecodeToBmp(photo, bmpName);
    if (result == 0 && mode == 1) {
        const int encoded = GetFileBase64(bmpName, out);
        result = encoded < 0 ? encoded : 0;
    } else if (result == 0) {
        MoveFile(bmpName, out);
        if (!Exists(out)) result = CARDGATE_FILE;
    }
    unlink(kScratchBmp);
    return result;
}
