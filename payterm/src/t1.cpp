#include "t1.h"

#include <string.h>

#include "dc_frame.h"

namespace payterm {

bool atr_selects_t1(const uint8_t* atr, size_t n) {
  if (atr == nullptr || n < 3) return false;
  uint8_t t0 = atr[1];
  if (!(t0 & 0x80)) return false;
  size_t i = 2;
  if (t0 & 0x10) ++i;
  if (t0 & 0x20) ++i;
  if (t0 & 0x40) ++i;
  if (i >= n) return false;
  return (atr[i] & 0x0F) == 1;
}

size_t t1_build_iblock(uint8_t pcb, const uint8_t* inf, size_t n, uint8_t* out) {
  out[0] = 0x00;
  out[1] = pcb;
  out[2] = static_cast<uint8_t>(n);
  if (n > 0) memcpy(out + 3, inf, n);
  out[3 + n] = xor_bytes(out, 3 + n);
  return n + 4;
}

bool t1_open_block(const uint8_t* blk, size_t n, size_t* inf_len) {
  if (n < 4 || xor_bytes(blk, n) != 0) return false;
  *inf_len = n - 4;
  return true;
}

}  // namespace payterm
