#include "memcards.h"

#include <cstring>

namespace vr {

MemoryCard::MemoryCard(Bytes atr, Bytes content, Bytes pin)
    : atr_(std::move(atr)), mem_(std::move(content)), pin_(std::move(pin)) {
  mem_.resize(256, 0xFF);
  if (pin_.size() != 3) pin_ = Bytes{0xFF, 0xFF, 0xFF};
}

Bytes MemoryCard::reset() {
  verified_ = false;
  return atr_;
}

Bytes MemoryCard::command(const Bytes& a) {
  if (a.size() < 5) return swOnly(kSwWrongLength);
  uint8_t cla = a[0], ins = a[1];
  size_t off = size_t(a[2]) << 8 | a[3];
  size_t n = a[4];
  Bytes data(a.begin() + 5, a.end());
  if (cla == 0xB0 && ins == 0x17 && a[2] == 0x20 && a[3] == 0x20)
    return withSw(Bytes{static_cast<uint8_t>(tries_)}, kSwOk);
  if (cla != 0x00) return swOnly(kSwUnknownCla);
  switch (ins) {
    case 0xB0:
      if (off + n > mem_.size()) return swOnly(kSwWrongOffset);
      return withSw(Bytes(mem_.begin() + off, mem_.begin() + off + n), kSwOk);
    case 0xD0:
      if (data.size() != n) return swOnly(kSwWrongLength);
      if (!verified_) return swOnly(kSwSecurity);
      if (off + n > mem_.size()) return swOnly(kSwWrongOffset);
      std::copy(data.begin(), data.end(), mem_.begin() + off);
      return swOnly(kSwOk);
    case 0x20:
      if (data.size() != 3 || n != 3) return swOnly(kSwWrongLength);
      if (tries_ == 0) return swOnly(kSwBlocked);
      if (data != pin_) {
        --tries_;
        verified_ = false;
        return swOnly(0x63C0 | unsigned(tries_));
      }
      tries_ = 3;
      verified_ = true;
      return swOnly(kSwOk);
    case 0x24:
      // New PIN alone after a verification, or old and new PIN together.
      if (data.size() != n || (n != 3 && n != 6)) return swOnly(kSwWrongLength);
      if (n == 6) {
        Bytes old(data.begin(), data.begin() + 3);
        if (tries_ == 0) return swOnly(kSwBlocked);
        if (old != pin_) {
          --tries_;
          return swOnly(0x63C0 | unsigned(tries_));
        }
        tries_ = 3;
        pin_.assign(data.begin() + 3, data.end());
        return swOnly(kSwOk);
      }
      if (!verified_) return swOnly(kSwSecurity);
      pin_ = data;
      return swOnly(kSwOk);
    default:
      return swOnly(kSwUnknownIns);
  }
}

MifareCard::MifareCard(Bytes uid, const Bytes& blocks) : uid_(std::move(uid)) {
  if (uid_.size() != 4) uid_ = Bytes{0x01, 0x02, 0x03, 0x04};
  for (int s = 0; s < 16; ++s) {
    auto& t = mem_[s * 4 + 3];
    std::memset(t.data(), 0xFF, 6);
    const uint8_t access[4] = {0xFF, 0x07, 0x80, 0x69};
    std::memcpy(t.data() + 6, access, 4);
    std::memset(t.data() + 10, 0xFF, 6);
  }
  std::memcpy(mem_[0].data(), uid_.data(), 4);
  mem_[0][4] = uid_[0] ^ uid_[1] ^ uid_[2] ^ uid_[3];
  mem_[0][5] = 0x08;
  for (size_t i = 0; i < blocks.size() && i < 64 * 16; ++i) mem_[i / 16][i % 16] = blocks[i];
}

Bytes MifareCard::reset() {
  authSector_ = -1;
  active_ = true;
  return uid_;
}

static bool isTrailer(int b) { return b % 4 == 3; }

// Value block: value, ~value, value (little-endian), then addr ~addr addr ~addr.
static bool readValue(const std::array<uint8_t, 16>& b, uint32_t& v) {
  uint32_t a, na, c;
  std::memcpy(&a, b.data(), 4);
  std::memcpy(&na, b.data() + 4, 4);
  std::memcpy(&c, b.data() + 8, 4);
  v = a;
  return a == c && a == ~na;
}

static void writeValue(std::array<uint8_t, 16>& b, uint32_t v, uint8_t addr) {
  uint32_t nv = ~v;
  std::memcpy(b.data(), &v, 4);
  std::memcpy(b.data() + 4, &nv, 4);
  std::memcpy(b.data() + 8, &v, 4);
  b[12] = addr;
  b[13] = static_cast<uint8_t>(~addr);
  b[14] = addr;
  b[15] = static_cast<uint8_t>(~addr);
}

Bytes MifareCard::command(const Bytes& a) {
  if (a.size() < 5) return swOnly(kSwWrongLength);
  if (a[0] == 0x00 && a[1] == 0x15) {
    active_ = false;
    authSector_ = -1;
    return swOnly(kSwOk);
  }
  if (a[0] != 0x80 || a[1] != 0x11) return swOnly(kSwUnknownIns);
  Bytes data(a.begin() + 5, a.end());
  if (data.size() != a[4]) return swOnly(kSwWrongLength);
  uint8_t op = a[2];
  if (op == 0x09) return withSw(reset(), kSwOk);
  if (!active_) return swOnly(kSwConditions);
  if (op == 0x02) {  // key type, block, key
    if (data.size() != 8) return swOnly(kSwWrongLength);
    // The host sends key type then block; accept either order of those two bytes.
    uint8_t type = data[0], b = data[1];
    if (type != 0x60 && type != 0x61) std::swap(type, b);
    if ((type != 0x60 && type != 0x61) || b >= 64) return swOnly(kSwWrongData);
    const auto& t = mem_[(b / 4) * 4 + 3];
    const uint8_t* key = type == 0x60 ? t.data() : t.data() + 10;
    if (std::memcmp(key, &data[2], 6) != 0) {
      authSector_ = -1;
      return swOnly(kSwAuthFailed);
    }
    authSector_ = b / 4;
    return swOnly(kSwOk);
  }
  if (data.empty() || data[0] >= 64) return swOnly(kSwWrongP1P2);
  int blk = data[0];
  int sector = blk / 4;
  switch (op) {
    case 0x03:
      if (authSector_ != sector) return swOnly(kSwSecurity);
      return withSw(Bytes(mem_[blk].begin(), mem_[blk].end()), kSwOk);
    case 0x04:
      if (data.size() != 17) return swOnly(kSwWrongLength);
      if (authSector_ != sector) return swOnly(kSwSecurity);
      if (blk == 0) return swOnly(kSwConditions);
      std::copy(data.begin() + 1, data.end(), mem_[blk].begin());
      return swOnly(kSwOk);
    case 0x05:
    case 0x06:
    case 0x07: {
      if (data.size() != 5) return swOnly(kSwWrongLength);
      if (authSector_ != sector) return swOnly(kSwSecurity);
      if (blk == 0 || isTrailer(blk)) return swOnly(kSwConditions);
      uint32_t amount;
      std::memcpy(&amount, &data[1], 4);
      if (op == 0x05) {
        writeValue(mem_[blk], amount, static_cast<uint8_t>(blk));
        return swOnly(kSwOk);
      }
      uint32_t v;
      if (!readValue(mem_[blk], v)) return swOnly(kSwWrongData);
      if (op == 0x06) {
        if (v + amount < v) return swOnly(kSwWrongData);
        v += amount;
      } else {
        if (amount > v) return swOnly(kSwWrongData);
        v -= amount;
      }
      writeValue(mem_[blk], v, mem_[blk][12]);
      return swOnly(kSwOk);
    }
    default:
      return swOnly(kSwWrongP1P2);
  }
}

}  // namespace vr
