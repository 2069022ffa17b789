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
  // Answers 2PAY.SYS.DDF01 and, on the contactless interface, runs qPBOC
  // when the terminal's qualifiers (9F66) ask for it.
  bool qpboc = false;
  // When set, the payment directory names this directory file (tag 9D),
  // whose own records (SFI 2) list the application.
  Bytes ddfName;
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
  // INTERNAL AUTHENTICATE and fDDA signing key; empty: no dynamic
  // authentication.
  crypto::RsaKey icc;
  // Transaction log (SFI 11): format (9F4F) and records, newest first.
  Bytes logFormat;
  std::vector<Bytes> log;
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

// Keys and dates for offline data authentication.
struct OdaKeys {
  crypto::RsaKey ca, issuer, icc;
  uint8_t caIndex = 0;
  std::string certExpiry = "1249";  // MMYY of both certificates
};
// Adds what SDA and DDA need: SFI 3 records with the CA key index, the
// issuer and ICC public-key certificates (signed over the records the AFL
// marks and the AIP), DDOL 9F3704 and the signed static data; the ICC key
// becomes the card's. Call after the records and the AFL are final.
void personaliseOda(BankCardData& d, const OdaKeys& k, const std::string& pan);
// The static data the certificates sign: the AFL's authentication records
// (template content for SFI 1..10) followed by the AIP.
Bytes staticAuthData(const BankCardData& d);

class BankCard : public CpuCard {
 public:
  explicit BankCard(BankCardData d);
  const char* kind() const override { return "pboc"; }
  Bytes reset() override;
  void setContactless(bool on) override { contactless_ = on; }
  // The card's current data (balance after a debit, log, scripts applied).
  const BankCardData& data() const { return d_; }

 protected:
  Bytes handle(const Bytes& apdu) override;

 private:
  Bytes select(const Bytes& name);
  Bytes gpo(const Bytes& data);
  Bytes qpbocGpo(const Bytes& data);
  Bytes generateAc(uint8_t p1, const Bytes& data);
  Bytes internalAuthenticate(const Bytes& ddolData);
  Bytes externalAuthenticate(const Bytes& data);
  Bytes script(uint8_t ins, uint8_t p1, uint8_t p2, const Bytes& data);
  Bytes signDynamic(const Bytes& extra);
  void logTransaction(const Bytes& dol, const Bytes& data);
  BankCardData d_;
  enum { None, Pse, Ppse, Ddf, App } selected_ = None;
  bool contactless_ = false;
  bool gpoDone_ = false;
  int acCount_ = 0;
  unsigned atc_ = 0;
  int pinTries_ = 3;
  Bytes lastAc_;
  Bytes cdol1Data_;
  bool issuerAuthFailed_ = false;
};

}  // namespace vr
