#include "sdandc_frame.h"

#include <string.h>

#include "dc_frame.h"
#include "hexconv.h"

namespace payterm {

size_t sdandc_encode(uint8_t cmd, const uint8_t* data, size_t n, char* out) {
  if (n > kSdandcDataMax) return 0;
  memcpy(out, "D&C", 3);
  size_t follow = 2 * (n + 2);
  uint8_t len[2] = {static_cast<uint8_t>(follow >> 8), static_cast<uint8_t>(follow)};
  to_hex(len, 2, out + 3);
  to_hex(&cmd, 1, out + 7);
  if (n > 0) to_hex(data, n, out + 9);
  uint8_t check = cmd ^ (n > 0 ? xor_bytes(data, n) : 0);
  to_hex(&check, 1, out + 9 + 2 * n);
  return 2 * n + 11;
}

long sdandc_length_field(const char* p) {
  uint8_t b[2];
  if (!from_hex(p, 2, b)) return -1;
  return static_cast<long>(b[0]) << 8 | b[1];
}

int sdandc_decode(const char* hex, size_t nchars, uint8_t* status, uint8_t* data,
                  size_t* dlen) {
  if (nchars < 4 || nchars % 2 != 0 || nchars > kSdandcFrameMax) return -1;
  size_t nb = nchars / 2;
  uint8_t bytes[kSdandcFrameMax / 2];
  if (!from_hex(hex, nb, bytes)) return -1;
  if (xor_bytes(bytes, nb) != 0) return -1;
  *status = bytes[0];
  *dlen = nb - 2;
  if (*dlen > 0 && data != nullptr) memcpy(data, bytes + 1, *dlen);
  return 0;
}

}  // namespace payterm
