// A PBOC debit/credit chip card with one payment application.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "card.h"
#include "crypto.h"

namespace vr {

struct BankCardData {
  Bytes atr;
  bool t0 = true;
  bool pse = true;  // answers 1PAY.SYS.DDF01
  Bytes aid;
  std::string label;
  Bytes pdol;  // 9F38 of the FCI, may be empty
  Bytes aip;
  int gpoFormat = 2;
  // Records by (SFI, record number): the record template 70 with its content.
  std::map<std::pair<int, int>, Bytes> records;
  Bytes afl;
  Bytes cdol1, cdol2;
  std::map<unsigned, Bytes> data;  // GET DATA objects by tag
  std::string pin;                 // digits; empty: VERIFY not supported
  crypto::Key key{};
};

struct BankCardFields {
  std::string pan, expiry /*YYMM*/, effective, serviceCode = "220", discretionary = "00000",
      name, panSeq = "01", holderId;
};
// Builds AFL and records for the usual layout: SFI 1 record 1 holds tag 57
// (read first by account-number readers), SFI 1 record 2 the PAN and dates,
// SFI 2 record 1 the data object lists.
void buildBankRecords(const BankCardFields& f, BankCardData& d);
// Track-2 equivalent data (tag 57) for the fields.
Bytes track2Equivalent(const BankCardFields& f);

class BankCard : public CpuCard {
 public:
  explicit BankCard(BankCardData d);
  const char* kind() const override { return "pboc"; }
  Bytes reset() override;

 protected:
  Bytes handle(const Bytes& apdu) override;

 private:
  Bytes select(const Bytes& name);
  Bytes gpo(const Bytes& data);
  Bytes generateAc(uint8_t p1, const Bytes& data);
  BankCardData d_;
  enum { None, Pse, App } selected_ = None;
  bool gpoDone_ = false;
  int acCount_ = 0;
  unsigned atc_ = 0;
  int pinTries_ = 3;
};

}  // namespace vr
