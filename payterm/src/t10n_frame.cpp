#include "t10n_frame.h"

#include "dc_frame.h"

namespace payterm {

size_t t10n_encode(const uint8_t* payload, size_t n, uint8_t* out) {
  if (n > kT10nPayloadMax) return 0;
  size_t o = 0;
  out[o++] = kStx;
  for (int shift = 12; shift >= 0; shift -= 4) out[o++] = static_cast<uint8_t>(0x30 + ((n >> shift) & 0x0F));
  for (size_t i = 0; i < n; ++i) {
    out[o++] = static_cast<uint8_t>(0x30 + (payload[i] >> 4));
    out[o++] = static_cast<uint8_t>(0x30 + (payload[i] & 0x0F));
  }
  uint8_t x = n > 0 ? xor_bytes(payload, n) : 0;
  out[o++] = static_cast<uint8_t>(0x30 + (x >> 4));
  out[o++] = static_cast<uint8_t>(0x30 + (x & 0x0F));
  out[o++] = kEtx;
  return o;
}

int t10n_nibble(uint8_t c) { return (c >= 0x30 && c <= 0x3F) ? c - 0x30 : -1; }

bool t10n_decode_body(const uint8_t* chars, size_t n, uint8_t* out, size_t* nout) {
  if (n % 2 != 0) return false;
  for (size_t i = 0; i < n / 2; ++i) {
    int hi = t10n_nibble(chars[2 * i]);
    int lo = t10n_nibble(chars[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  *nout = n / 2;
  return true;
}

}  // namespace payterm
