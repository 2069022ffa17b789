#include "dc_frame.h"

#include <string.h>

namespace payterm {

uint8_t xor_bytes(const uint8_t* p, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

size_t dc_build_body(uint8_t seq, uint8_t cmd, const uint8_t* data, uint8_t len,
                     uint8_t* body) {
  body[0] = seq;
  body[1] = cmd;
  body[2] = len;
  if (len > 0) memcpy(body + 3, data, len);
  body[3 + len] = xor_bytes(body, 3u + len);
  return 4u + len;
}

size_t dc_stuff(const uint8_t* in, size_t n, uint8_t* out) {
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    out[o++] = in[i];
    if (in[i] == kDle) out[o++] = kDle;
  }
  return o;
}

DcReplyParser::Result DcReplyParser::push(uint8_t v) {
  body_[n_++] = v;
  if (n_ >= 4 && n_ == 4u + body_[2]) phase_ = kTrailerDle;
  return kMore;
}

DcReplyParser::Result DcReplyParser::feed(uint8_t b) {
  switch (phase_) {
    case kTrailerDle:
      if (b != kDle) return kBadFrame;
      phase_ = kTrailerEtx;
      return kMore;
    case kTrailerEtx:
      if (b != kEtx) return kBadFrame;
      return xor_bytes(body_, n_ - 1) == body_[n_ - 1] ? kDone : kBadCheck;
    case kBody:
      break;
  }
  if (pending_dle_) {
    pending_dle_ = false;
    if (b != kDle) return kBadFrame;
    return push(kDle);
  }
  if (b == kDle) {
    pending_dle_ = true;
    return kMore;
  }
  return push(b);
}

}  // namespace payterm
