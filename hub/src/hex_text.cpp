// The hub's own hex conversions.
#include <cstring>

#include "portico.h"

namespace {

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

extern "C" {

int stringtohex(const unsigned char* data, int len, char* out) {
  if (!out) return 0;
  static const char digits[] = "0123456789ABCDEF";
  char* p = out + std::strlen(out);
  for (int i = 0; data && i < len; ++i) {
    *p++ = digits[data[i] >> 4];
    *p++ = digits[data[i] & 0x0F];
  }
  *p = '\0';
  return 0;
}

// Each pair is read as "%02X" reads it: its leading hex digits, 0 when it
// has none; the text is never read past its terminator.
int hextostring(const char* hex, int len, unsigned char* out) {
  if (!out) return 0;
  int count = len / 2 > 0 ? len / 2 : 1;
  size_t avail = hex ? strnlen(hex, size_t(count) * 2) : 0;
  for (int i = 0; i < count; ++i) {
    size_t at = size_t(i) * 2;
    int hi = at < avail ? digit(hex[at]) : -1;
    int lo = hi >= 0 && at + 1 < avail ? digit(hex[at + 1]) : -1;
    out[i] = static_cast<unsigned char>(hi < 0 ? 0 : lo < 0 ? hi : hi * 16 + lo);
  }
  out[count] = 0;
  return 0;
}

}  // extern "C"
