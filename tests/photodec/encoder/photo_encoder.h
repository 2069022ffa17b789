// Test-only encoder of photo records: writes streams in the decoder's format
// from an RGB image and its face mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qm_encoder.h"

namespace facet_test {

constexpr int kW = 102;
constexpr int kH = 126;

struct Portrait {
  std::vector<uint8_t> rgb;   // kW x kH, R G B, top row first
  std::vector<uint8_t> mask;  // kW x kH, 1 inside the face mask
};

struct BgPoint {
  int x, y;
  uint8_t rgb[3];
};

struct EncoderOptions {
  int levels = 4;
  bool grey = false;
  int maskMode = 1;         // 0: no mask segment, the whole image is the object
  int backgroundMode = 0;   // 0: one colour, 1: polygon through the points
  uint8_t colour[3] = {200, 220, 240};
  BgPoint points[4] = {{101, 0, {255, 0, 0}}, {101, 125, {0, 255, 0}}, {0, 125, {0, 0, 255}}, {0, 0, {255, 255, 255}}};
  int trailingBit = 0;      // the bit after the contours, which carries nothing
  bool noContours = false;  // write the mask segment with zero contours
  size_t capacity = 1020;   // length of the working stream to fill
  long long planeTotal = -1;  // stored total minus 4; -1: as much as fits
};

struct Encoded {
  std::vector<uint8_t> stream;  // the working stream, header included
  long long planeTotal = 0;
  size_t maskOffset = 0;        // offset of the mask length field (0: none)
  size_t planeOffset[3] = {0, 0, 0};  // offsets of the planes' start bytes
  std::vector<uint8_t> planeBytes[3];  // full coded bytes of each plane
  int startPlane[3] = {0, 0, 0};
};

// Freeman chain of one contour: start point and directions.
struct Chain {
  int x = 0, y = 0;
  std::vector<int> dirs;
};
// Outer boundaries of the 8-connected regions of `mask`, each traced
// clockwise from its top-left pixel.
std::vector<Chain> TraceContours(const std::vector<uint8_t>& mask, int w, int h);

// Encodes a mask segment body (without the marker) for the given chains.
std::vector<uint8_t> EncodeMaskSegment(const std::vector<Chain>& chains, const EncoderOptions& opt);

// Forward shape-adaptive 5/3 transform in place over a padded plane and its
// mask (both pw x ph); the mask ends in the wavelet domain.
void ForwardTransform(std::vector<int32_t>& plane, std::vector<uint8_t>& mask, int pw, int ph, int levels);

// Zerotree coding of one plane; returns the coded bytes (no marker) and the
// start bit plane.
std::vector<uint8_t> EncodePlane(const std::vector<int32_t>& coef, const std::vector<uint8_t>& object, int pw,
                                 int ph, int levels, int* startPlane);

Encoded EncodeStream(const Portrait& p, const EncoderOptions& opt);

// Scrambling mask of the records the tests make unless they choose one; the
// decoder recovers any mask from the record itself.
constexpr uint8_t kRecordMask = 0x3C;

// 1024-byte record carrying bytes 6..1019 of a working stream, scrambled
// with `mask`.
std::vector<uint8_t> MakeRecord(const std::vector<uint8_t>& stream, uint8_t mask = kRecordMask);

// A synthetic 102 x 126 portrait: head, hair, eyes, mouth, neck and
// shoulders, soft edges; `variant` shifts shapes and colours a little.
Portrait MakePortrait(int variant = 0);

// PSNR in dB over the RGB channels of the pixels inside `mask`; `decoded`
// comes bottom row first, as the decoder writes it.
double PsnrInMask(const Portrait& original, const uint8_t* decoded);

}  // namespace facet_test
