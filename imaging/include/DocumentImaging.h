// Document imaging libraries: libcropalign, libcropalignmem and libframepack.
//
// libframepack turns each preview frame into JPEG bytes and, in document-cut mode, finds the
// largest document-like rectangle in it, outlines it in green and reports it as a DocumentBox.
// When a photo is taken, cropalign cuts that document out of the full-resolution frame, turns it
// upright and crops it to its own extent: libcropalign writes an image file, libcropalignmem
// JPEG bytes. The libraries are loaded with dlopen and their entries bound by name, so the
// entries have C linkage; images travel as cv::Mat headers by value whose pixels are only read.
// OpenCV exceptions raised by malformed images pass to the caller.
#pragma once

#include <cstddef>
#include <cstdint>

#include <opencv2/core.hpp>

#define DOCUMENT_IMAGING_EXPORT __attribute__((visibility("default")))

// One corner of a document quadrilateral, in pixels.
struct DocumentCorner {
  int32_t x;
  int32_t y;
};

// The document found in a preview frame, in preview coordinates: the four corners of its
// minimum-area rectangle in the rectangle's own corner order, then the tilt in degrees (the
// rectangle's angle, plus 90 when its first side is the longer one). 36 bytes, no padding.
struct DocumentBox {
  DocumentCorner corner[4];
  float angle;
};
static_assert(sizeof(DocumentBox) == 36, "DocumentBox is four int32 pairs and a float");
static_assert(offsetof(DocumentBox, angle) == 32, "DocumentBox angle follows the corners");

// Largest JPEG that framepack hands back: the preview buffer that the camera's callers own is
// 10 MiB. A frame whose JPEG would be larger is not copied and *jpegLen is set to 0.
constexpr std::size_t kFramepackCapacity = 10485760;

// Size of the buffer that callers of the memory form of cropalign must provide: 10 MiB, the
// size the product uses for a full-resolution photo file. A document whose JPEG would be larger
// is not written, exactly as when no document is found: *outLen keeps its value.
constexpr std::size_t kCropalignMemoryCapacity = 10485760;

// A cut region is emitted only when its upright bounding rectangle covers more than this many
// pixels; framepack takes a rectangle only when its truncated sides multiply to more than it.
constexpr int kSmallestDocumentArea = 5999;

// framepack outlines a rectangle only when every corner coordinate is at most this.
constexpr int kLargestOutlineCoordinate = 4000;

extern "C" {

// Turns src by angle degrees (counter-clockwise) about its centre on a black square canvas large
// enough for any angle, and leaves in dst the centred window of the turned image's size, clipped
// to the canvas (a square turned near 45 degrees is a pixel or two larger than the canvas).
// Exported by libcropalign and libcropalignmem. dst may be src.
DOCUMENT_IMAGING_EXPORT void rotate_arbitrarily_angle(cv::Mat& src, cv::Mat& dst, float angle);

// libframepack. frame: 8-bit 3-channel BGR preview. Writes the JPEG (OpenCV's default quality)
// into jpegOut, at most kFramepackCapacity bytes, and its length into *jpegLen. cutType 1 runs
// document detection on the grey image; colorMode 1 or 3 renders the preview in grey. *box is
// written only when a rectangle of more than kSmallestDocumentArea is found; *found is 1 when it
// was also outlined (all coordinates at most kLargestOutlineCoordinate), else 0.
DOCUMENT_IMAGING_EXPORT void framepack(cv::Mat frame, unsigned char* jpegOut, int* jpegLen,
                                       int cutType, int colorMode, DocumentBox* box, int* found);

}  // extern "C"

// Both cut libraries export a C function named cropalign with different parameters, so each is
// declared here as the type of the entry a caller binds with dlsym.
//
// src: the full-resolution 8-bit BGR frame; scale: preview side / full side, so box corners are
// multiplied by 1/scale; box: what framepack reported on the preview. src is masked to the box
// and turned by the smallest turn that straightens the box (its angle reduced to (-45, 45]
// degrees, so the document stays the way round it was photographed). The region under the last
// qualifying contour of the turned document is emitted; when none qualifies, or the
// scale is not a positive number that maps the corners into int range, nothing is written.
// reserved is ignored.

// libcropalign: writes the region with cv::imwrite, so the format follows outPath's extension.
using CropalignToFile = void (*)(cv::Mat src, const char* outPath, int reserved, float scale,
                                 DocumentBox box);

// libcropalignmem: JPEG bytes (OpenCV's default quality) into outBuf, which must hold
// kCropalignMemoryCapacity bytes, and their count into *outLen.
using CropalignToMemory = void (*)(cv::Mat src, unsigned char* outBuf, int* outLen, int reserved,
                                   float scale, DocumentBox box);
