// Social-security cards (generations 1 to 3) and the PSAM that authenticates them.
//
// Authentication keys: the PSAM holds two master keys, one for the card's
// internal authentication (key index 08) and one for the external
// authentication (index 0A). At issue the card receives both keys
// diversified along the card's own data:
//   ATR tail (8) | region (6 digits) "sx" | region[0..2] "0000sh"
// Each authentication diversifies once more along the random data (and, for
// generations 2 and 3, a block of zeros), so a card and a PSAM compute the
// same result exactly when they were issued from the same master keys.
#pragma once
#include <map>
#include <string>

#include "card.h"
#include "crypto.h"

namespace vr {

struct SsCardData {
  Bytes atr;
  int generation = 3;
  bool fciTag86 = true;
  bool t0 = true;
  std::string appDigits = "13";  // name digits the application answers to
  std::map<uint8_t, Bytes> ef05, ef06;  // record id -> value
  crypto::Key masterInt{}, masterExt{};
};

// The DF name "sx<digit>.sh.社会保障" in GBK.
Bytes ssDfName(char digit);
// The diversification data of one card: ATR tail, region, "sx", region
// prefix, "0000sh" (24 bytes); empty when the ATR is shorter than 8 bytes.
Bytes ssCardDiversifier(const Bytes& atr, const std::string& region6);

class SsCard : public CpuCard {
 public:
  explicit SsCard(SsCardData d);
  const char* kind() const override { return "social_security"; }
  Bytes reset() override;

 protected:
  Bytes handle(const Bytes& apdu) override;

 private:
  Bytes fci() const;
  Bytes internalAuth(const Bytes& data);
  Bytes externalAuth(const Bytes& data);
  SsCardData d_;
  crypto::Key keyInt_{}, keyExt_{};
  bool appSelected_ = false;
  int ef_ = 0;  // 0, 0xEF05 or 0xEF06
  Bytes challenge_;
};

class Psam : public CpuCard {
 public:
  Psam(Bytes atr, std::string digits, crypto::Key masterInt, crypto::Key masterExt, Bytes serial,
       bool t0);
  const char* kind() const override { return "psam"; }
  Bytes reset() override;

 protected:
  Bytes handle(const Bytes& apdu) override;

 private:
  Bytes atr_;
  std::string digits_;
  crypto::Key masterInt_, masterExt_;
  Bytes ef15_;  // issuer file: serial number from offset 0
  bool appSelected_ = false, df01_ = false;
  bool haveSession_ = false;
  crypto::Key session_{};
};

}  // namespace vr
