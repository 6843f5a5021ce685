// The simulated customer's signature and the terminal's signing screen while it is written.
#pragma once

#include <string>

namespace countermate::sim {

constexpr int kSigningScreenWidth = 640;
constexpr int kSigningScreenHeight = 480;

// Whether pixel (x, y) of a 640 x 480 picture is ink once the fraction `drawn` (0 to 1) of the
// signature is written. The signature is four strokes, written one after the other, each from
// left to right.
bool SignatureInk(int x, int y, double drawn);

// The signing screen (PNG, grey, 640 x 480) with the fraction `drawn` of the signature written:
// a title bar, the signing area with its border and a dashed base line, and the ink.
std::string SigningScreenPng(double drawn);

}  // namespace countermate::sim
