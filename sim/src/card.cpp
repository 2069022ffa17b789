#include "card.h"

namespace vr {

Bytes CpuCard::command(const Bytes& apdu) {
  if (apdu.size() < 4) return swOnly(kSwWrongLength);
  if (apdu[1] == 0xC0 && (apdu[0] == 0x00 || apdu[0] == 0x80)) {
    if (!hasPending_) return swOnly(kSwConditions);
    uint8_t le = apdu.size() >= 5 ? apdu[4] : 0;
    size_t n = pending_.size();
    if (le != (n & 0xFF)) return swOnly(0x6C00 | unsigned(n & 0xFF));
    hasPending_ = false;
    return withSw(std::move(pending_), kSwOk);
  }
  hasPending_ = false;
  pending_.clear();
  Bytes r = handle(apdu);
  // handle() marks a case-4 answer awaiting GET RESPONSE with SW 61 xx.
  if (t0_ && r.size() > 2 && r[r.size() - 2] == 0x61) {
    pending_.assign(r.begin(), r.end() - 2);
    hasPending_ = true;
    return swOnly(0x6100 | unsigned(pending_.size() & 0xFF));
  }
  return r;
}

Bytes CpuCard::outgoing(const Bytes& data) {
  if (t0_ && !data.empty() && data.size() <= 256) return withSw(data, 0x6100);
  return withSw(data, kSwOk);
}

Bytes CpuCard::expected(const Bytes& data, uint8_t le) {
  size_t n = data.size();
  if (le == (n & 0xFF)) return withSw(data, kSwOk);
  if (!t0_ && le == 0) return withSw(data, kSwOk);
  return swOnly(0x6C00 | unsigned(n & 0xFF));
}

}  // namespace vr
