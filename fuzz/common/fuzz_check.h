// Shared by the fuzz targets (and the corpus replays of the test suite):
// a check that aborts with its text, so that libFuzzer keeps the input, and
// a deterministic way to cut an input into the pieces a peer might send.
#ifndef HW_FUZZ_CHECK_H
#define HW_FUZZ_CHECK_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);           \
      abort();                                                                           \
    }                                                                                    \
  } while (0)

// Piece lengths 1..max drawn from a generator seeded by the input itself, so
// one input always arrives in the same pieces.
class FuzzPieces {
 public:
  FuzzPieces(const uint8_t *data, size_t size, size_t max) : max_(max) {
    state_ = 0x9E3779B97F4A7C15ull ^ size;
    for (size_t i = 0; i < size && i < 64; i++) state_ = state_ * 31 + data[i];
  }
  size_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return 1 + static_cast<size_t>(state_ % max_);
  }

 private:
  uint64_t state_;
  size_t max_;
};

#endif
