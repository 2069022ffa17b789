// SHA-1 (FIPS 180-4) and the DES/MAC entry points, which compute nothing.
#include <array>
#include <cstring>

#include "hidlink_internal.h"

namespace {

using State = std::array<uint32_t, 5>;

constexpr uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void sha1Block(State &h, const uint8_t *p) {
  std::array<uint32_t, 80> w;
  for (int i = 0; i < 16; i++)
    w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
  for (int i = 16; i < 80; i++) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; i++) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rol(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

uint8_t *SHA1(const uint8_t *sour, size_t len, uint8_t *digest) {
  if (!digest || (!sour && len > 0)) return digest;
  State h = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  size_t i = 0;
  for (; len - i >= 64; i += 64) sha1Block(h, sour + i);
  std::array<uint8_t, 128> tail{};
  const size_t rest = len - i;
  if (rest) std::memcpy(tail.data(), sour + i, rest);
  tail[rest] = 0x80;
  const size_t blocks = rest + 9 > 64 ? 2 : 1;
  const uint64_t bits = uint64_t(len) * 8;
  for (int b = 0; b < 8; b++) tail[blocks * 64 - 1 - b] = uint8_t(bits >> (8 * b));
  for (size_t b = 0; b < blocks; b++) sha1Block(h, tail.data() + 64 * b);
  for (int k = 0; k < 5; k++)
    for (int j = 0; j < 4; j++) digest[4 * k + j] = uint8_t(h[k] >> (24 - 8 * j));
  return digest;
}

int SingleDES(uint8_t, const uint8_t *, uint32_t, const uint8_t *, uint8_t *) { return 0; }

int TripleDES(uint8_t, const uint8_t *, uint32_t, const uint8_t *, uint8_t *) { return 0; }

int SingleMAC(const uint8_t *, const uint8_t *, uint32_t, const uint8_t *, uint8_t *) { return 0; }

int TripleMAC(const uint8_t *, const uint8_t *, uint32_t, const uint8_t *, uint8_t *) { return 0; }
