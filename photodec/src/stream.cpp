#include "stream.h"

namespace facet {

namespace {

constexpr uint8_t kHeader[kHeaderSize] = {0x57, 0x4C, uint8_t(kWidth), 0x00, uint8_t(kHeight), 0x00};

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

void BuildWorkingBuffer(const uint8_t* record, uint8_t* work) {
  for (size_t i = 0; i < kHeaderSize; ++i) work[i] = kHeader[i];
  const size_t n = kRecordSize - kRecordSkip;
  for (size_t i = 0; i < n; ++i) work[kHeaderSize + i] = record[kRecordSkip + i] ^ kUnscrambleMask;
  for (size_t i = kHeaderSize + n; i < kWorkingSize; ++i) work[i] = 0;
}

bool ReadHeader(StreamReader& rd, StreamHeader& h) {
  rd.skip(2);  // marker bytes
  h.width = int(rd.u16le());
  h.height = int(rd.u16le());
  const uint8_t flags = rd.u8();
  h.planes = flags >> 6;
  h.maskMode = (flags >> 4) & 3;
  h.levels = flags & 15;
  if (h.width != kWidth || h.height != kHeight) return false;
  if (h.planes != 1 && h.planes != 3) return false;
  if (h.levels > kMaxLevels) return false;
  const int step = 1 << h.levels;
  h.paddedWidth = (h.width + step - 1) / step * step;
  h.paddedHeight = (h.height + step - 1) / step * step;
  return true;
}

PlaneBudgets ComputeBudgets(uint32_t storedTotal) {
  // The stored total counts its own four bytes.
  const int64_t t = int64_t(storedTotal) - 4;
  PlaneBudgets b;
  b.budget[0] = FloorDiv(t * 85, 100) + 10;
  b.budget[1] = FloorDiv(t * 8, 100) + 10;
  b.budget[2] = t - b.budget[0] - b.budget[1] + 30;
  return b;
}

}  // namespace facet
