// A card in one of the reader's slots.
#pragma once
#include <memory>
#include <string>

#include "bytes.h"

namespace vr {

// Status words of the card models (ISO 7816-4 meanings).
enum : unsigned {
  kSwOk = 0x9000,
  kSwWrongLength = 0x6700,
  kSwAuthFailed = 0x6300,
  kSwSecurity = 0x6982,
  kSwBlocked = 0x6983,
  kSwConditions = 0x6985,
  kSwNoCurrentEf = 0x6986,
  kSwWrongData = 0x6A80,
  kSwNotFound = 0x6A82,
  kSwRecordNotFound = 0x6A83,
  kSwWrongP1P2 = 0x6A86,
  kSwDataNotFound = 0x6A88,
  kSwWrongOffset = 0x6B00,
  kSwUnknownIns = 0x6D00,
  kSwUnknownCla = 0x6E00,
  kSwNoPrecise = 0x6F00,
};

class Card {
 public:
  enum class Family { Cpu, Memory, Mifare };
  virtual ~Card() = default;
  virtual const char* kind() const = 0;
  virtual Family family() const { return Family::Cpu; }
  // Card-type byte the reader reports for 00 59.
  virtual uint8_t typeByte() const { return 0x01; }
  // Cold reset: volatile state is lost; returns the answer to reset.
  virtual Bytes reset() = 0;
  // One command; the answer carries its status word.
  virtual Bytes command(const Bytes& apdu) = 0;
  // Told by the slot it sits in; cards with interface-specific behaviour
  // (qPBOC) listen.
  virtual void setContactless(bool) {}
};

// T=0 behaviour shared by the processor cards: a case-4 answer is announced
// with 61 xx and fetched by GET RESPONSE; a case-2 command with the wrong Le
// gets 6C xx.
class CpuCard : public Card {
 public:
  explicit CpuCard(bool t0) : t0_(t0) {}
  Bytes command(const Bytes& apdu) final;

 protected:
  virtual Bytes handle(const Bytes& apdu) = 0;
  // Answer of a command with data in (case 4).
  Bytes outgoing(const Bytes& data);
  // Answer of a command without data in (case 2) whose Le is `le`.
  Bytes expected(const Bytes& data, uint8_t le);
  bool t0() const { return t0_; }

 private:
  bool t0_;
  Bytes pending_;
  bool hasPending_ = false;
};

}  // namespace vr
