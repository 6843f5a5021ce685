#include "CameraScene.h"

#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

namespace countermate::sim {
namespace {

constexpr int kWidth = kCameraSceneWidth;
constexpr int kHeight = kCameraSceneHeight;
constexpr int kSheetWidth = 280;
constexpr int kSheetHeight = 380;
constexpr int kMargin = 28;
constexpr int kJpegQuality = 80;
constexpr double kPi = 3.14159265358979323846;

// A picture of RGB pixels, row by row.
struct Picture {
    int width;
    int height;
    std::vector<uint8_t> rgb;

    Picture(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3) {}
    uint8_t* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    void Set(int x, int y, int red, int green, int blue) {
        uint8_t* pixel = At(x, y);
        pixel[0] = static_cast<uint8_t>(red);
        pixel[1] = static_cast<uint8_t>(green);
        pixel[2] = static_cast<uint8_t>(blue);
    }
};

uint32_t Hash(uint32_t x, uint32_t y) {
    uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

int Clamp(double value) { return value < 0 ? 0 : value > 255 ? 255 : static_cast<int>(value); }

// The desk: dark brown wood grain with fine noise.
Picture Desk() {
    Picture desk(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double grain = 10 * std::sin(y / 6.0 + 2.5 * std::sin(x / 70.0)) +
                                 5 * std::sin(x / 23.0 + y / 41.0);
            const double noise = static_cast<int>(Hash(x, y) % 13) - 6;
            desk.Set(x, y, Clamp(78 + grain + noise), Clamp(60 + grain * 0.8 + noise),
                     Clamp(46 + grain * 0.6 + noise));
        }
    }
    return desk;
}

bool InInk(int u, int v) {
    // A heading, then lines of words (gaps between them), a short last line per paragraph.
    if (v >= 30 && v < 42) return u >= kMargin && u < kMargin + 140;
    if (v < 62 || v >= kSheetHeight - 90) return false;
    const int line = (v - 62) / 14;
    if ((v - 62) % 14 >= 4) return false;
    const int length = line % 5 == 4
                           ? 90 + static_cast<int>(Hash(line, 7) % 60)
                           : kSheetWidth - 2 * kMargin - static_cast<int>(Hash(line, 3) % 24);
    if (u < kMargin || u >= kMargin + length) return false;
    return (u + line * 37) % 41 >= 5;
}

// The sheet in its own coordinates: paper with a slight shading, text and a stamp.
Picture Sheet() {
    Picture sheet(kSheetWidth, kSheetHeight);
    for (int v = 0; v < kSheetHeight; ++v) {
        for (int u = 0; u < kSheetWidth; ++u) {
            const double shade = -(u + v) / 40.0 + static_cast<int>(Hash(u + 999, v) % 5) - 2;
            const double stamp = std::hypot(u - (kSheetWidth - 70), v - (kSheetHeight - 55));
            if (InInk(u, v)) {
                sheet.Set(u, v, 38, 38, 48);
            } else if (stamp > 24 && stamp < 29) {
                sheet.Set(u, v, 196, 44, 40);
            } else {
                sheet.Set(u, v, Clamp(243 + shade), Clamp(240 + shade), Clamp(232 + shade));
            }
        }
    }
    return sheet;
}

struct SceneParts {
    Picture desk = Desk();
    Picture sheet = Sheet();
};

const SceneParts& Parts() {
    static const SceneParts parts;
    return parts;
}

bool OnSheet(double u, double v) { return u >= 0 && v >= 0 && u < kSheetWidth && v < kSheetHeight; }

// Frame `index`: the sheet drifts on a small loop and turns between 1 and 7 degrees, casting a
// shadow down and to the right.
Picture Frame(int index) {
    const SceneParts& parts = Parts();
    const double phase = 2 * kPi * index / kCameraSceneFrames;
    const double angle = (4 + 3 * std::cos(phase)) * kPi / 180;
    const double centre_x = kWidth / 2.0 + 28 * std::sin(phase);
    const double centre_y = kHeight / 2.0 + 14 * std::sin(2 * phase);
    const double c = std::cos(angle), s = std::sin(angle);
    // The sheet coordinates of the point the shadow at a pixel comes from.
    const double shadow_u = -6 * c - 7 * s, shadow_v = 6 * s - 7 * c;
    Picture frame(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        const double dy = y - centre_y;
        double u = -centre_x * c + dy * s + kSheetWidth / 2.0;
        double v = centre_x * s + dy * c + kSheetHeight / 2.0;
        for (int x = 0; x < kWidth; ++x, u += c, v -= s) {
            uint8_t* pixel = frame.At(x, y);
            if (OnSheet(u, v)) {
                const uint8_t* paper = parts.sheet.At(static_cast<int>(u), static_cast<int>(v));
                pixel[0] = paper[0], pixel[1] = paper[1], pixel[2] = paper[2];
                continue;
            }
            const uint8_t* desk = parts.desk.At(x, y);
            const bool shadow = OnSheet(u + shadow_u, v + shadow_v);
            for (int channel = 0; channel < 3; ++channel) {
                pixel[channel] = shadow ? static_cast<uint8_t>(desk[channel] * 3 / 5)
                                        : desk[channel];
            }
        }
    }
    return frame;
}

std::string Jpeg(tjhandle compressor, Picture& picture) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::string bytes;
    if (tjCompress2(compressor, picture.rgb.data(), picture.width, 0, picture.height, TJPF_RGB,
                    &jpeg, &size, TJSAMP_420, kJpegQuality, TJFLAG_FASTDCT) == 0) {
        bytes.assign(reinterpret_cast<const char*>(jpeg), size);
    }
    tjFree(jpeg);
    return bytes;
}

}  // namespace

std::shared_ptr<const std::string> CameraSceneJpeg(int index) {
    static std::mutex lock;  // guards frames and compressor
    static std::vector<std::shared_ptr<const std::string>> frames(kCameraSceneFrames);
    static tjhandle compressor = tjInitCompress();
    const int frame = (index % kCameraSceneFrames + kCameraSceneFrames) % kCameraSceneFrames;
    std::lock_guard<std::mutex> guard(lock);
    if (!frames[frame]) {
        Picture picture = Frame(frame);
        frames[frame] = std::make_shared<const std::string>(Jpeg(compressor, picture));
    }
    return frames[frame];
}

}  // namespace countermate::sim
