// Hex text and trimming helpers.
#include "Qmxtool.h"

#include <cstdio>
#include <cstring>

namespace {

// Scans one group of hex characters the way sscanf with a width of the
// group's size does, without reading past it; a group that is no number
// gives 0.
unsigned scanGroup(const char *p, std::size_t width) {
  char group[8] = {};
  std::memcpy(group, p, width);
  const char format[] = {'%', static_cast<char>('0' + width), 'x', '\0'};
  unsigned v = 0;
  if (std::sscanf(group, format, &v) != 1)
    return 0;
  return v;
}

// True when text has at least len characters before its terminator.
bool holds(const char *text, int len) {
  return len >= 0 && strnlen(text, static_cast<std::size_t>(len)) == static_cast<std::size_t>(len);
}

}  // namespace

int StringToHex(char *src, int n, char *dst, int dstSize, char *err) {
  if (src == nullptr || dst == nullptr || n < 0)
    return -1;
  // The existing text counts: appending must fit the whole buffer.
  std::size_t used = dstSize > 0 ? strnlen(dst, static_cast<std::size_t>(dstSize)) : 0;
  if (dstSize <= 0 || static_cast<long long>(dstSize) <= static_cast<long long>(used) + 2LL * n) {
    if (err != nullptr)
      std::strcpy(err, "StringToHex目标字符串长度申请不足!");
    return -1;
  }
  static const char digits[] = "0123456789ABCDEF";
  char *p = dst + used;
  for (int i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(src[i]);
    *p++ = digits[b >> 4];
    *p++ = digits[b & 0x0F];
  }
  *p = '\0';
  return 0;
}

int Hextostring(char *hex, char *out, int hexLen) {
  if (hex == nullptr || out == nullptr || !holds(hex, hexLen))
    return -1;
  int count = hexLen / 2;
  for (int i = 0; i < count; ++i)
    out[i] = static_cast<char>(scanGroup(hex + 2 * i, 2));
  out[count] = '\0';
  return 0;
}

int tool_HexToShort(char *hex, int len, unsigned short *out) {
  if (hex == nullptr || out == nullptr || len % 4 != 0 || !holds(hex, len))
    return -1;
  for (int i = 0; i < len / 4; ++i)
    out[i] = static_cast<unsigned short>(scanGroup(hex + 4 * i, 4));
  return 0;
}

int tool_HexHLSwap(char *hex, int len, char *out) {
  if (hex == nullptr || out == nullptr || len % 4 != 0 || !holds(hex, len))
    return -1;
  char *p = out + std::strlen(out);
  for (int i = 0; i < len; i += 4) {
    *p++ = hex[i + 2];
    *p++ = hex[i + 3];
    *p++ = hex[i];
    *p++ = hex[i + 1];
  }
  *p = '\0';
  return 0;
}

char *tool_StrTrim(char *s) {
  if (s == nullptr)
    return s;
  std::size_t start = std::strspn(s, " \t");
  std::size_t len = std::strlen(s + start);
  std::memmove(s, s + start, len + 1);
  while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t'))
    s[--len] = '\0';
  return s;
}
