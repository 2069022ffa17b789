#include "zerotree.h"

#include <algorithm>

namespace facet {

namespace {

constexpr uint8_t kUnvisited = 255;
constexpr uint8_t kPositive = 0;
constexpr uint8_t kNegative = 1;
constexpr uint8_t kTreeRoot = 2;
constexpr uint8_t kObjectTreeRoot = 4;
constexpr uint8_t kNotObjectTreeRoot = 5;

uint32_t Magnitude(int32_t v) { return v < 0 ? 0u - uint32_t(v) : uint32_t(v); }

}  // namespace

ZerotreeDecoder::ZerotreeDecoder(const uint8_t* object, int width, int height, int levels)
    : object_(object),
      width_(width),
      height_(height),
      levels_(levels),
      objectBelow_(size_t(width) * height, 0),
      significant_(size_t(width) * height, 0),
      state_(size_t(width) * height, kUnvisited) {
  list_.reserve(size_t(width) * height);
  scratch_.resize(size_t(width) * height);
  // Level 2 upward: a coefficient's four children sit at twice its row and
  // column, one level finer, in the same band.
  for (int l = 2; l <= levels_; ++l) {
    const int bh = height_ >> l;
    const int bw = width_ >> l;
    for (int band = 1; band <= 3; ++band) {
      const int r0 = (band >> 1) * bh;
      const int c0 = (band & 1) * bw;
      for (int r = r0; r < r0 + bh; ++r)
        for (int c = c0; c < c0 + bw; ++c) {
          uint8_t any = 0;
          for (int k = 0; k < 4; ++k) {
            const size_t ch = size_t(2 * r + (k >> 1)) * width_ + 2 * c + (k & 1);
            any |= object_[ch] | objectBelow_[ch];
          }
          objectBelow_[size_t(r) * width_ + c] = any;
        }
    }
  }
  for (int l = levels_; l >= 1; --l) {
    if (l == 1) level1Begin_ = scan_.size();
    const int bh = height_ >> l;
    const int bw = width_ >> l;
    for (int band = 1; band <= 3; ++band) {
      const int r0 = (band >> 1) * bh;
      const int c0 = (band & 1) * bw;
      // Band 1 is scanned column by column, bands 2 and 3 row by row.
      const int outer = band == 1 ? bw : bh;
      const int inner = band == 1 ? bh : bw;
      for (int a = 0; a < outer; ++a)
        for (int b = 0; b < inner; ++b) {
          const int r = r0 + (band == 1 ? b : a);
          const int c = c0 + (band == 1 ? a : b);
          const size_t i = size_t(r) * width_ + c;
          if (object_[i] || objectBelow_[i])
            scan_.push_back({int32_t(i), int32_t(size_t(r >> 1) * width_ + (c >> 1))});
        }
    }
  }
}

void ZerotreeDecoder::becomeSignificant(size_t i, int symbol, int32_t threshold) {
  coef_[i] = symbol == kPositive ? threshold : -threshold;
  significant_[i] = 1;
  list_.push_back(int32_t(i));
}

bool ZerotreeDecoder::dominantPass(int plane) {
  const int32_t threshold = int32_t(1) << plane;
  const int lh = height_ >> levels_;
  const int lw = width_ >> levels_;
  for (int r = 0; r < lh; ++r)
    for (int c = 0; c < lw; ++c) {
      const size_t i = size_t(r) * width_ + c;
      uint8_t st = kUnvisited;
      if (object_[i] && !significant_[i]) {
        if (ended()) return false;
        st = uint8_t(models_->low.decode(*dec_));
        if (st != kTreeRoot) becomeSignificant(i, st, threshold);
      }
      const size_t parent = size_t(r >> 1) * width_ + (c >> 1);
      state_[i] = st != kUnvisited || i == 0 ? st : state_[parent];
    }

  const uint8_t* object = object_;
  const uint8_t* significant = significant_.data();
  uint8_t* state = state_.data();
  for (size_t k = 0; k < level1Begin_; ++k) {
    const size_t i = size_t(scan_[k].index);
    const uint8_t above = state[scan_[k].parent];
    if (above == kTreeRoot || above == kObjectTreeRoot) {
      state[i] = above;  // below a tree root: skipped, and so is all below it
      continue;
    }
    uint8_t st = kUnvisited;
    if (object[i]) {
      if (!significant[i]) {
        if (ended()) return false;
        st = uint8_t(models_->upper.decode(*dec_));
        if (st == kPositive || st == kNegative) becomeSignificant(i, st, threshold);
      }
    } else {
      if (ended()) return false;
      st = models_->outside.decode(*dec_) == 0 ? kObjectTreeRoot : kNotObjectTreeRoot;
    }
    state[i] = st != kUnvisited ? st : above;
  }
  // Level 1 has nothing below it: its states are never read.
  for (size_t k = level1Begin_; k < scan_.size(); ++k) {
    const size_t i = size_t(scan_[k].index);
    const uint8_t above = state[scan_[k].parent];
    if (above == kTreeRoot || above == kObjectTreeRoot || significant[i]) continue;
    if (ended()) return false;
    const int sym = models_->level1.decode(*dec_);
    if (sym == kPositive || sym == kNegative) becomeSignificant(i, sym, threshold);
  }
  return true;
}

bool ZerotreeDecoder::subordinatePass(int plane) {
  if (plane <= 0) return true;
  const uint32_t half = uint32_t(1) << (plane - 1);
  for (const int32_t i : list_) {
    if (!object_[i] || !significant_[i]) continue;
    if (ended()) return false;
    if (models_->refine.decode(*dec_)) {
      const uint32_t m = Magnitude(coef_[i]) | half;
      coef_[i] = coef_[i] < 0 ? -int32_t(m) : int32_t(m);
    }
  }
  return true;
}

// Stable merge sort by decreasing magnitude, into the preallocated scratch.
void ZerotreeDecoder::sortSignificant() {
  const size_t n = list_.size();
  const int32_t* coef = coef_;
  auto before = [coef](int32_t a, int32_t b) { return Magnitude(coef[a]) > Magnitude(coef[b]); };
  bool sorted = true;
  for (size_t i = 1; i < n && sorted; ++i) sorted = !before(list_[i], list_[i - 1]);
  if (sorted) return;
  int32_t* src = list_.data();
  int32_t* dst = scratch_.data();
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = std::min(lo + width, n);
      const size_t hi = std::min(lo + 2 * width, n);
      std::merge(src + lo, src + mid, src + mid, src + hi, dst + lo, before);
    }
    std::swap(src, dst);
  }
  if (src != list_.data()) std::copy(src, src + n, list_.data());
}

void ZerotreeDecoder::decodePlane(AritDecoder& dec, uint64_t budget, int startPlane, int32_t* coef) {
  Models models;
  dec_ = &dec;
  budget_ = budget;
  coef_ = coef;
  models_ = &models;
  std::fill(significant_.begin(), significant_.end(), 0);
  list_.clear();
  planesDecoded_ = 0;
  for (int plane = startPlane; plane >= 0 && !ended(); --plane) {
    ++planesDecoded_;
    if (dominantPass(plane)) subordinatePass(plane);
    sortSignificant();
  }
  models_ = nullptr;
  dec_ = nullptr;
}

}  // namespace facet
