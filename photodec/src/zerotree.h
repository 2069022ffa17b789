// Embedded zerotree decoding of one plane's wavelet coefficients.
#pragma once

#include <cstdint>
#include <vector>

#include "adaptive_model.h"
#include "arit_decoder.h"

namespace facet {

class ZerotreeDecoder {
 public:
  // `object`: the wavelet-domain object mask, width x height (multiples of
  // 2^levels); it must outlive the decoder.
  ZerotreeDecoder(const uint8_t* object, int width, int height, int levels);

  // Decodes the coefficients of one plane into `coef` (width x height, zero
  // on entry) from bit plane `startPlane` (0..30) down, until bit plane -1 or
  // until the decoder's read position passes `budget`.
  void decodePlane(AritDecoder& dec, uint64_t budget, int startPlane, int32_t* coef);

  // Bit planes the last decodePlane went through, the last one possibly cut.
  int planesDecoded() const { return planesDecoded_; }

 private:
  // Per-plane models: low band, upper levels, level 1, refinement, (unused),
  // outside-object tree roots.
  struct Models {
    Adaptive_Model low{3}, upper{4}, level1{3}, refine{2}, spare{2}, outside{2};
  };

  bool ended() const { return dec_->position() > budget_; }
  bool dominantPass(int plane);
  bool subordinatePass(int plane);
  void sortSignificant();
  void becomeSignificant(size_t i, int symbol, int32_t threshold);

  const uint8_t* object_;
  int width_;
  int height_;
  int levels_;
  // Whether some coefficient below this one (levels above 1) lies in the object.
  std::vector<uint8_t> objectBelow_;
  std::vector<uint8_t> significant_;
  // State of the nearest visited coefficient on the way to the root, this
  // one included: carried down the tree instead of searched for upward.
  std::vector<uint8_t> state_;
  // Detail coefficients in scan order that may decode a symbol or are
  // looked up as parents: from level `levels` down to 2 the object
  // coefficients and those with object below, then the object coefficients
  // of level 1 (from level1Begin_ on). Nothing else is ever touched.
  struct ScanEntry {
    int32_t index;
    int32_t parent;
  };
  std::vector<ScanEntry> scan_;
  size_t level1Begin_ = 0;
  std::vector<int32_t> list_;  // significant coefficients, as indexes
  std::vector<int32_t> scratch_;

  AritDecoder* dec_ = nullptr;
  uint64_t budget_ = 0;
  int32_t* coef_ = nullptr;
  Models* models_ = nullptr;
  int planesDecoded_ = 0;
};

}  // namespace facet
