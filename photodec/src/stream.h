// The working stream: its fixed header, the unscrambled record bytes and the
// single read cursor everything is read through.
#pragma once

#include <cstddef>
#include <cstdint>

namespace facet {

constexpr int kWidth = 102;
constexpr int kHeight = 126;
constexpr size_t kRecordSize = 1024;
constexpr size_t kRecordSkip = 10;   // leading record bytes that carry no photo data
constexpr size_t kWorkingSize = 1024;
constexpr size_t kHeaderSize = 6;

// Highest level count: 2^7 already pads both sides to 128, one coefficient in
// the lowest band.
constexpr int kMaxLevels = 7;
// Coefficients are 32-bit signed: bit planes above 30 cannot be held.
constexpr int kMaxStartPlane = 30;

// Writes the header (57 4C 66 00 7E 00) and bytes 10..1023 of `record`,
// unscrambled with `mask`, into `work` (kWorkingSize bytes); the last four
// bytes stay zero.
void BuildWorkingBuffer(const uint8_t* record, uint8_t mask, uint8_t* work);

// Cards scramble the coded bytes with a one-byte mask that differs between
// card series. The format fixes bytes after unscrambling: the flags byte says
// whether a mask segment comes first, and every arithmetic-coded segment
// opens with 0x6F at a place the flags and stored lengths determine. Only
// two masks can put the first marker where the flags want it; a mask counts
// when every marker the decoder will check agrees with it, and the one that
// agrees with more fixed bytes (flags it can hold, start bit planes) wins,
// the mask-segment reading on a tie. Returns false when no mask counts.
bool RecoverMask(const uint8_t* record, uint8_t* mask);

// Sequential reader; reading past the end yields zero bytes.
class StreamReader {
 public:
  StreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t u8() {
    const uint8_t b = pos_ < size_ ? data_[pos_] : 0;
    skip(1);
    return b;
  }
  uint32_t u16le() {
    const uint32_t lo = u8();
    return lo | uint32_t(u8()) << 8;
  }
  uint32_t u32le() {
    const uint32_t lo = u16le();
    return lo | u16le() << 16;
  }
  // Saturates instead of wrapping, so a stored length can never move the
  // cursor back into the buffer.
  void skip(uint64_t n) { pos_ = n > kFar - pos_ ? kFar : pos_ + n; }
  uint64_t position() const { return pos_; }

 private:
  static constexpr uint64_t kFar = uint64_t(1) << 48;
  const uint8_t* data_;
  size_t size_;
  uint64_t pos_ = 0;
};

struct StreamHeader {
  int width = 0;
  int height = 0;
  int planes = 0;     // 3: Y, Cb, Cr; 1: grey
  int maskMode = 0;   // 0: the whole image is the object
  int levels = 0;     // wavelet levels
  int paddedWidth = 0;
  int paddedHeight = 0;
};

// Reads marker, size and flags byte. Returns false for what the decoder
// cannot hold: another size, a plane count other than 1 or 3, more than
// kMaxLevels levels.
bool ReadHeader(StreamReader& rd, StreamHeader& h);

// Byte budgets of the three plane segments for a stored total length T.
struct PlaneBudgets {
  int64_t budget[3];
};
PlaneBudgets ComputeBudgets(uint32_t storedTotal);

}  // namespace facet
