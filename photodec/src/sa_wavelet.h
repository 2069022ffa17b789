// Shape-adaptive 5/3 wavelet: the mask's forward transform and the inverse
// transform of the coefficients over the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace facet {

// Splits one line of the object mask (n even) into its low and high halves:
// object samples at even positions mark the low band, at odd positions the
// high band, at index position / 2; a run of a single sample always lands in
// the low band.
void SplitMaskLine(const uint8_t* mask, int n, uint8_t* low, uint8_t* high);

// Synthesises one line of n samples (n even): `line` holds the low band in
// [0, n/2) and the high band in [n/2, n); `mask` (bytes 0 or 1) is the object
// mask of the output line. Every run of object samples is synthesised on its
// own into `out`; samples outside the object become 0.
void SynthesiseLine(const int64_t* line, const uint8_t* mask, int n, int64_t* out);

// The object mask through the levels of the transform.
class ShapeMask {
 public:
  // Forward transform of the padded mask (width x height, multiples of
  // 2^levels). Keeps the mask each inverse step needs.
  void do_IDWT_Mask(const uint8_t* padded, int width, int height, int levels);

  // The mask in the wavelet domain: 1 where a coefficient of the object lies.
  const uint8_t* coefficients() const { return wavelet_.data(); }
  int width() const { return width_; }
  int height() const { return height_; }
  int levels() const { return levels_; }

  // Object mask of level k's region before the row step of the forward
  // transform (row by row) and before its column step (column by column).
  const uint8_t* beforeRows(int k) const { return &saved_[offset_[k]]; }
  const uint8_t* beforeColumns(int k) const { return &saved_[offset_[k] + regionSize(k)]; }

 private:
  size_t regionSize(int k) const { return size_t(width_ >> (k - 1)) * (height_ >> (k - 1)); }

  int width_ = 0;
  int height_ = 0;
  int levels_ = 0;
  std::vector<uint8_t> wavelet_;
  std::vector<uint8_t> saved_;
  std::vector<size_t> offset_;
};

// Inverse shape-adaptive transform, coarsest level first, in place over the
// coefficient plane (mask.width() x mask.height()). Results saturate at the
// 32-bit range.
void SA_IDWT(int32_t* plane, const ShapeMask& mask);

}  // namespace facet
