#include "stream.h"

#include <algorithm>

namespace facet {

namespace {

constexpr uint8_t kHeader[kHeaderSize] = {0x57, 0x4C, uint8_t(kWidth), 0x00, uint8_t(kHeight), 0x00};

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr uint8_t kMarker = 0x6F;
constexpr size_t kFirstStored = kHeaderSize;                        // working index of record byte 10
constexpr size_t kStoredEnd = kHeaderSize + kRecordSize - kRecordSkip;  // working bytes past it read zero

// How many fixed bytes of `record` agree with `mask`, walking the layout as
// the decoder reads it; -1 unless every marker the decoder will check is
// there (a marker past the stored bytes reads as zero, so it disagrees).
// Flags that promise no photo plane are still walked for one plane. Works
// on the record in place: no working buffer per candidate.
int Agreement(const uint8_t* record, uint8_t mask) {
  auto at = [&](uint64_t w) -> int {  // working byte w, or -1 where the decoder reads zero
    return w >= kFirstStored && w < kStoredEnd ? record[w - kHeaderSize + kRecordSkip] ^ mask : -1;
  };
  auto le32 = [&](uint64_t w) -> uint32_t {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint32_t(std::max(at(w + i), 0));
    return v;
  };
  const int flags = at(kFirstStored);
  const int planes = flags >> 6;
  int score = (planes == 1 || planes == 3) && (flags & 15) <= kMaxLevels;
  uint64_t pos = kFirstStored + 1;
  if ((flags >> 4) & 3) {
    if (at(pos + 4) != kMarker) return -1;
    score += 2;
    pos += 4 + uint64_t(le32(pos));
  }
  const PlaneBudgets budgets = ComputeBudgets(le32(pos));
  pos += 4;
  for (int p = 0; p < (planes > 0 ? planes : 1); ++p) {
    const int start = at(pos);
    if (at(pos + 1) != kMarker) return -1;
    score += 2 + (start >= 0 && start <= kMaxStartPlane);
    pos += uint64_t(std::max<int64_t>(budgets.budget[p], 1));
  }
  return score;
}

}  // namespace

void BuildWorkingBuffer(const uint8_t* record, uint8_t mask, uint8_t* work) {
  for (size_t i = 0; i < kHeaderSize; ++i) work[i] = kHeader[i];
  const size_t n = kRecordSize - kRecordSkip;
  for (size_t i = 0; i < n; ++i) work[kHeaderSize + i] = record[kRecordSkip + i] ^ mask;
  for (size_t i = kHeaderSize + n; i < kWorkingSize; ++i) work[i] = 0;
}

bool RecoverMask(const uint8_t* record, uint8_t* mask) {
  // The first marker is working byte 11 behind a mask segment's length and
  // byte 12 behind the stored total and the start bit plane.
  const uint8_t candidates[2] = {uint8_t(record[15] ^ kMarker), uint8_t(record[16] ^ kMarker)};
  int best = -1;
  for (uint8_t m : candidates) {
    const int score = Agreement(record, m);
    if (score > best) {
      best = score;
      *mask = m;
    }
  }
  return best >= 0;
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
