// Cards without a processor: a 256-byte memory card protected by a
// three-byte PIN with three tries, and a Mifare Classic 1K card. The reader
// drives them with its own commands, which these models interpret.
#pragma once
#include <array>

#include "card.h"

namespace vr {

class MemoryCard : public Card {
 public:
  MemoryCard(Bytes atr, Bytes content, Bytes pin);
  const char* kind() const override { return "memory"; }
  Family family() const override { return Family::Memory; }
  uint8_t typeByte() const override { return 0x02; }
  Bytes reset() override;
  // 00 B0 hi lo n | 00 D0 hi lo n data | 00 20 00 00 n pin | 00 24 00 00 n pin
  // | B0 17 20 20 01 (tries left)
  Bytes command(const Bytes& apdu) override;
  const Bytes& content() const { return mem_; }

 private:
  Bytes atr_, mem_, pin_;
  int tries_ = 3;
  bool verified_ = false;
};

class MifareCard : public Card {
 public:
  // `blocks` overrides the factory content (64 blocks of 16 bytes); keys of
  // every sector are FF FF FF FF FF FF unless the trailers say otherwise.
  MifareCard(Bytes uid, const Bytes& blocks);
  const char* kind() const override { return "mifare"; }
  Family family() const override { return Family::Mifare; }
  uint8_t typeByte() const override { return 0x03; }
  Bytes reset() override;
  // The 80 11 family and 00 15 (halt).
  Bytes command(const Bytes& apdu) override;
  const uint8_t* block(int n) const { return mem_[n].data(); }

 private:
  Bytes uid_;
  std::array<std::array<uint8_t, 16>, 64> mem_{};
  int authSector_ = -1;
  bool active_ = false;
};

}  // namespace vr
