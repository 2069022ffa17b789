// Standard base64 (RFC 4648 alphabet, "=" padding).
#include <array>
#include <cstdlib>

#include "hidlink_internal.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

char *base64_encode(const uint8_t *bytes, size_t len) {
  if (!bytes) len = 0;
  auto *text = static_cast<char *>(std::malloc((len + 2) / 3 * 4 + 1));
  if (!text) return nullptr;
  size_t o = 0, i = 0;
  for (; i + 2 < len; i += 3) {
    uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
    text[o++] = kAlphabet[v >> 18];
    text[o++] = kAlphabet[(v >> 12) & 63];
    text[o++] = kAlphabet[(v >> 6) & 63];
    text[o++] = kAlphabet[v & 63];
  }
  if (i < len) {
    uint32_t v = uint32_t(bytes[i]) << 16;
    if (i + 1 < len) v |= uint32_t(bytes[i + 1]) << 8;
    text[o++] = kAlphabet[v >> 18];
    text[o++] = kAlphabet[(v >> 12) & 63];
    text[o++] = (i + 1 < len) ? kAlphabet[(v >> 6) & 63] : '=';
    text[o++] = '=';
  }
  text[o] = '\0';
  return text;
}

int base64_decode(const char *text, uint32_t text_len, uint8_t *out, uint32_t out_size) {
  if (!text || (!out && text_len > 0) || text_len % 4 != 0) return -1;
  uint32_t o = 0;
  for (uint32_t i = 0; i < text_len; i += 4) {
    const bool last = i + 4 == text_len;
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    std::array<int, 4> s{};
    for (int k = 0; k < 4 - pad; k++) {
      s[k] = sextet(text[i + k]);
      if (s[k] < 0) return -1;
    }
    uint32_t v = uint32_t(s[0]) << 18 | uint32_t(s[1]) << 12 | uint32_t(s[2]) << 6 | uint32_t(s[3]);
    uint32_t n = uint32_t(3 - pad);
    if (out_size - o < n) return -1;
    out[o++] = uint8_t(v >> 16);
    if (n > 1) out[o++] = uint8_t(v >> 8);
    if (n > 2) out[o++] = uint8_t(v);
  }
  return int(o);
}
