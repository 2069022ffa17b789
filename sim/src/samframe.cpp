#include "samframe.h"

namespace vr::sam {

static const uint8_t kPreamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};

uint8_t xorOf(const uint8_t* p, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

uint8_t parse(const Bytes& in, Request& out) {
  if (in.size() < 10) return kBadLength;
  for (int i = 0; i < 5; ++i)
    if (in[i] != kPreamble[i]) return kUnknownCommand;
  size_t len = size_t(in[5]) << 8 | in[6];
  if (len < 3 || 7 + len > in.size()) return kBadLength;
  size_t rest = in.size() - (7 + len);
  if (rest > 1 || (rest == 1 && in.back() != 0)) return kBadLength;
  if (xorOf(&in[5], len + 1) != in[7 + len - 1]) return kBadChecksum;
  out.cmd = in[7];
  out.param = in[8];
  out.extra.assign(in.begin() + 9, in.begin() + 7 + len - 1);
  return 0;
}

static Bytes frame(const Bytes& body) {
  Bytes f(kPreamble, kPreamble + 5);
  put16(f, unsigned(body.size() + 1));
  append(f, body);
  f.push_back(xorOf(&f[5], f.size() - 5));
  return f;
}

Bytes request(uint8_t cmd, const Bytes& params) {
  Bytes body{cmd};
  append(body, params);
  return frame(body);
}

Bytes reply(uint8_t sw3, const Bytes& data) {
  Bytes body{0x00, 0x00, sw3};
  append(body, data);
  return frame(body);
}

}  // namespace vr::sam
