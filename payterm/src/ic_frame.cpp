#include "ic_frame.h"

#include <string.h>

namespace payterm {

uint8_t sum_bytes(const uint8_t* p, size_t n) {
  unsigned s = 0;
  for (size_t i = 0; i < n; ++i) s += p[i];
  return static_cast<uint8_t>(s);
}

size_t ic_seal_frame(const uint8_t* frame, uint8_t* out) {
  uint8_t l = frame[0];
  if (l < 2) return 0;
  memcpy(out, frame, l);
  out[l] = sum_bytes(frame, l);
  return l + 1u;
}

uint8_t ic_reply_check(const uint8_t* data, uint8_t n) {
  return static_cast<uint8_t>(n + sum_bytes(data, n));
}

void ic_aux_hex(uint8_t b, char out[2]) {
  static const char kDigits[] = "0123456789ABCDEF";
  out[0] = kDigits[b >> 4];
  out[1] = kDigits[b & 0x0F];
}

}  // namespace payterm
