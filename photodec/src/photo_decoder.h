// The whole decoding pipeline over a working stream held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "face_mask.h"
#include "stream.h"

namespace facet {

class PhotoDecoder {
 public:
  // Decodes the working stream `stream` (header first; bytes past `size`
  // read as zero). On FACET_OK writes the image into `out` (kWidth x kHeight
  // pixels, R G B, bottom row first); on failure leaves `out` untouched and
  // returns a negative FACET_E_ code.
  int decode(const uint8_t* stream, size_t size, uint8_t* out);

  // What the last decode found, for inspection.
  const StreamHeader& header() const { return header_; }
  const std::vector<uint8_t>& mask() const { return mask_; }  // top row first
  bool hasBackground() const { return hasBackground_; }
  const Background& background() const { return background_; }
  int planesDecoded(int plane) const { return planesDecoded_[plane]; }

 private:
  void compose(const uint8_t* planes, uint8_t* out);

  StreamHeader header_;
  std::vector<uint8_t> mask_;
  bool hasBackground_ = false;
  Background background_;
  int planesDecoded_[3] = {0, 0, 0};
};

}  // namespace facet
