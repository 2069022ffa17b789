#include "bytes.h"

namespace vr {

std::string toHex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}

static int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool fromHex(const std::string& s, Bytes& out) {
  Bytes b;
  int high = -1;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == ':') continue;
    int v = nibble(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      b.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return false;
  out.swap(b);
  return true;
}

Bytes hx(const char* s) {
  Bytes b;
  if (!fromHex(s, b)) b.clear();
  return b;
}

}  // namespace vr
