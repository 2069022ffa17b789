// The QM-coder arithmetic decoder and the byte segments it reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace facet {

// One arithmetic-coded segment of the working stream: `length` bytes from
// `offset`. Position 0 holds the marker; positions at or past length - 1,
// and bytes past the end of the stream, read as 0, so a segment can never
// read outside the stream whatever its stored offset and length.
class Segment {
 public:
  static constexpr uint8_t kMarker = 0x6F;

  Segment(const uint8_t* stream, size_t streamLen, uint64_t offset, uint64_t length)
      : stream_(stream), streamLen_(streamLen), offset_(offset), length_(length) {}

  uint8_t at(uint64_t pos) const {
    if (pos + 1 >= length_) return 0;
    return raw(pos);
  }
  // The marker byte as stored (0 when the segment is empty).
  uint8_t marker() const { return length_ == 0 ? 0 : raw(0); }
  uint64_t length() const { return length_; }

 private:
  uint8_t raw(uint64_t pos) const {
    if (offset_ >= streamLen_ || pos >= streamLen_ - offset_) return 0;
    return stream_[offset_ + pos];
  }

  const uint8_t* stream_;
  size_t streamLen_;
  uint64_t offset_;
  uint64_t length_;
};

// Adaptive probability context: index into the state table and the sense of
// the more probable symbol.
struct Context {
  uint8_t index = 0;
  uint8_t mps = 0;
};

class AritDecoder {
 public:
  // Starts decoding at position 1 of the segment (after the marker).
  explicit AritDecoder(const Segment& segment);

  // False when the segment does not begin with the 0x6F marker.
  bool valid() const { return valid_; }

  // One binary decision in context `cx`.
  int decode(Context& cx);
  // One bit with the decoder's own two-symbol model.
  int decode_bit() { return decode(bitContext_); }
  // k bits, most significant first; k <= 0 gives -1.
  int decode_bits(int k);

  // Index of the next segment byte to be read: the stream-end watch compares
  // it with the plane budget.
  uint64_t position() const { return pos_; }

 private:
  void byteIn();
  void renormalise();

  Segment segment_;
  uint32_t a_ = 0x10000;  // interval register
  uint32_t c_ = 0;        // code register; bits 31..16 are compared with A
  int ct_ = 0;            // bits left before the next byte is needed
  uint64_t pos_ = 1;
  Context bitContext_;
  bool valid_;
};

}  // namespace facet
