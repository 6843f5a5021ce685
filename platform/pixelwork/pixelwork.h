// libpixelwork: JPEG transforms for frames and photos of the terminal's own camera.
//
// Every entry reads a source JPEG (bytes and length) and writes a new JPEG into the caller's
// destination buffer, its length into *dstLen, and returns 0. The destination has no size
// argument: each entry writes at most the capacity below, the smallest work buffer the service
// hands it (3 MiB for preview frames, 2 MiB for photos). On any non-zero result the destination
// and *dstLen are left exactly as they were, so the caller keeps its untransformed image.
// Entries are safe to call from several threads at once.
#pragma once

#include <cstddef>

#define PIXELWORK_EXPORT __attribute__((visibility("default")))

// Results.
enum PixelworkResult {
  kPixelworkOk = 0,
  kPixelworkBadArgument = -1,  // null pointer, non-positive length, factor out of range
  kPixelworkUndecodable = -2,  // not a JPEG, damaged, or larger than kPixelworkLargestSource
  kPixelworkTooLarge = -3,     // the result would not fit the destination's capacity
  kPixelworkNoDocument = -4,   // jpegcutandrotate found no document to cut
  kPixelworkFailed = -5,       // the JPEG or image library failed
};

constexpr std::size_t kPixelworkPreviewCapacity = 3145728;  // jpegedge, jpegzoom
constexpr std::size_t kPixelworkPhotoCapacity =
    2097152;  // jpegtranspose, jpegcutandrotate, jpeggray

// Sources of more pixels than this are refused before decoding (a damaged header can claim
// gigapixels); the terminal's cameras deliver at most 3 megapixels.
constexpr long kPixelworkLargestSource = 40000000;

// Zoom factors run from above 0 up to this; the service steps them by 0.2.
constexpr float kPixelworkLargestZoom = 5.0f;

extern "C" {

// The source turned clockwise by quarterTurns (1 to 3) quarter turns. The turn is lossless
// (JPEG blocks are moved, not re-encoded) whenever the picture's sides are whole JPEG blocks, as
// at every common camera size; otherwise the picture is decoded, turned and re-encoded so that no
// edge pixel is lost. mode is reserved (the service passes 1) and ignored.
PIXELWORK_EXPORT int jpegtranspose(int mode, int quarterTurns, const unsigned char* src, int srcLen,
                                   unsigned char* dst, int* dstLen);

// The preview frame with the document outlined in green, found as libframepack finds it. A
// frame without a document is handed back unchanged, byte for byte.
PIXELWORK_EXPORT int jpegedge(const unsigned char* src, int srcLen, unsigned char* dst,
                              int* dstLen);

// The document cut out of the photo, turned upright and cropped, as libcropalign cuts it.
// factor (above 0, at most 1) is the scale at which the document is searched before it is cut
// from the full picture: 0.5 searches a half-size copy, as the camera does on its preview.
// kPixelworkNoDocument when no document is found.
PIXELWORK_EXPORT int jpegcutandrotate(const unsigned char* src, int srcLen, unsigned char* dst,
                                      int* dstLen, float factor);

// The source zoomed in about its centre, as a zoom button does: zoom is the step above no zoom,
// so the magnification is 1 + zoom (0.2 shows the central 1/1.2 of each side, 5.0 the central
// sixth), scaled back to the source's size. zoom must be above 0 and at most both limit and
// kPixelworkLargestZoom; the service passes limit 5.0.
PIXELWORK_EXPORT int jpegzoom(const unsigned char* src, int srcLen, unsigned char* dst, int* dstLen,
                              float zoom, float limit);

// The source in grey: its luminance kept losslessly, colour dropped.
PIXELWORK_EXPORT int jpeggray(const unsigned char* src, int srcLen, unsigned char* dst,
                              int* dstLen);

}  // extern "C"
