#include "SigningScreen.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "PngEncoder.h"

namespace countermate::sim {
namespace {

struct Stroke {
    int from, to;  // the columns it covers, written from `from` on
};
constexpr Stroke kStrokes[] = {{80, 190}, {205, 330}, {345, 455}, {470, 560}};

int StrokeColumns() {
    int columns = 0;
    for (const Stroke& stroke : kStrokes) columns += stroke.to - stroke.from;
    return columns;
}

double PenLine(int x) { return 240 + 60 * std::sin(x / 40.0) + 20 * std::sin(x / 9.0); }
double PenSlope(int x) { return 1.5 * std::cos(x / 40.0) + 20 / 9.0 * std::cos(x / 9.0); }

// The signing area and its furniture.
constexpr int kAreaLeft = 40, kAreaRight = 600, kAreaTop = 70, kAreaBottom = 410;
constexpr int kBaseLine = 340;

uint8_t ScreenShade(int x, int y) {
    if (y < 40) return 70;  // title bar
    const bool inside = x >= kAreaLeft && x < kAreaRight && y >= kAreaTop && y < kAreaBottom;
    if (!inside) return 225;
    if (x == kAreaLeft || x == kAreaRight - 1 || y == kAreaTop || y == kAreaBottom - 1) return 140;
    if (y == kBaseLine && x > kAreaLeft + 30 && x < kAreaRight - 30 && x / 8 % 2 == 0) return 180;
    return 255;
}

}  // namespace

bool SignatureInk(int x, int y, double drawn) {
    int written = static_cast<int>(drawn * StrokeColumns() + 0.5);
    for (const Stroke& stroke : kStrokes) {
        const int reach = stroke.from + std::min(written, stroke.to - stroke.from);
        if (x >= stroke.from && x < reach) {
            // An even pen width: wider across the column where the line is steep.
            const double slope = PenSlope(x);
            return std::abs(y - PenLine(x)) < 2.5 * std::sqrt(1 + slope * slope);
        }
        written -= std::min(written, stroke.to - stroke.from);
    }
    return false;
}

std::string SigningScreenPng(double drawn) {
    const auto pixel = [drawn](int x, int y) {
        const uint8_t shade = SignatureInk(x, y, drawn) ? 0 : ScreenShade(x, y);
        return Rgb{shade, shade, shade};
    };
    return EncodePng(kSigningScreenWidth, kSigningScreenHeight, PngKind::kGrey, pixel);
}

}  // namespace countermate::sim
