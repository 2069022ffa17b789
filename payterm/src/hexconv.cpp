#include "hexconv.h"

#include "payterm.h"

namespace payterm {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void to_hex(const unsigned char* in, size_t n, char* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kDigits[in[i] >> 4];
    out[2 * i + 1] = kDigits[in[i] & 0x0F];
  }
}

bool from_hex(const char* in, size_t n, unsigned char* out) {
  for (size_t i = 0; i < n; ++i) {
    int hi = hex_digit(in[2 * i]);
    if (hi < 0) return false;
    int lo = hex_digit(in[2 * i + 1]);
    if (lo < 0) return false;
    out[i] = static_cast<unsigned char>(hi << 4 | lo);
  }
  return true;
}

}  // namespace payterm

int StdCharsToHexChars(const unsigned char* in, char* out, int n) {
  if (in == nullptr || out == nullptr || n <= 0) return 0;
  payterm::to_hex(in, static_cast<size_t>(n), out);
  return 2 * n;
}

int HexCharsToStdChars(const char* in, unsigned char* out, int n) {
  if (in == nullptr || out == nullptr || n <= 0) return 0;
  return payterm::from_hex(in, static_cast<size_t>(n), out) ? n : 0;
}
