#include "bankcard.h"

#include <algorithm>

#include "tlv.h"

namespace vr {

static const char kPse[] = "1PAY.SYS.DDF01";
static const char kPpse[] = "2PAY.SYS.DDF01";

// Value of `tag` inside data built from the object list `dol`; empty when
// the list does not name it.
static Bytes dolValue(const Bytes& dol, const Bytes& data, unsigned tag) {
  std::vector<std::pair<unsigned, size_t>> items;
  if (!tlv::parseDol(dol, items)) return Bytes();
  size_t at = 0;
  for (auto& it : items) {
    if (at + it.second > data.size()) return Bytes();
    if (it.first == tag) return Bytes(data.begin() + at, data.begin() + at + it.second);
    at += it.second;
  }
  return Bytes();
}

// Twelve-digit BCD amounts (9F02, 9F79) as numbers and back.
static unsigned long long bcdValue(const Bytes& b) {
  unsigned long long v = 0;
  for (uint8_t x : b) v = v * 100 + (x >> 4) * 10 + (x & 15);
  return v;
}
static Bytes bcd6(unsigned long long v) {
  Bytes b(6);
  for (int i = 5; i >= 0; --i) {
    b[i] = uint8_t((v % 10) | ((v / 10) % 10) << 4);
    v /= 100;
  }
  return b;
}

static bool findInRecords(const BankCardData& d, unsigned tag, Bytes& out) {
  for (auto& r : d.records)
    if (tlv::find(r.second, tag, out)) return true;
  return false;
}

// Packs decimal digits (and D) two per byte, padding with F.
static Bytes packNibbles(std::string s) {
  if (s.size() % 2) s.push_back('F');
  Bytes b;
  fromHex(s, b);
  return b;
}

Bytes track2Equivalent(const BankCardFields& f) {
  return packNibbles(f.pan + "D" + f.expiry + f.serviceCode + f.discretionary);
}

void buildBankRecords(const BankCardFields& f, BankCardData& d) {
  Bytes r1 = tlv::make(0x57, track2Equivalent(f));
  if (!f.name.empty()) append(r1, tlv::make(0x5F20, Bytes(f.name.begin(), f.name.end())));
  append(r1, tlv::make(0x9F1F, Bytes{'0', '0', '0', '1'}));
  Bytes r2 = tlv::make(0x5A, packNibbles(f.pan));
  append(r2, tlv::make(0x5F24, packNibbles(f.expiry + "31")));
  if (!f.effective.empty()) append(r2, tlv::make(0x5F25, packNibbles(f.effective + "01")));
  append(r2, tlv::make(0x5F34, packNibbles(f.panSeq)));
  if (!f.holderId.empty()) {
    append(r2, tlv::make(0x9F61, Bytes(f.holderId.begin(), f.holderId.end())));
    append(r2, tlv::make(0x9F62, Bytes{0x00}));
  }
  Bytes r3 = tlv::make(0x8C, d.cdol1);
  append(r3, tlv::make(0x8D, d.cdol2));
  append(r3, tlv::make(0x5F28, hx("0156")));
  d.records[{1, 1}] = tlv::make(0x70, r1);
  d.records[{1, 2}] = tlv::make(0x70, r2);
  d.records[{2, 1}] = tlv::make(0x70, r3);
  d.afl = hx("08010201 10010100");
}

BankCard::BankCard(BankCardData d) : CpuCard(d.t0), d_(std::move(d)) {}

Bytes BankCard::reset() {
  selected_ = None;
  gpoDone_ = false;
  acCount_ = 0;
  issuerAuthFailed_ = false;
  lastAc_.clear();
  return d_.atr;
}

Bytes BankCard::select(const Bytes& name) {
  if (d_.qpboc && name == Bytes(kPpse, kPpse + sizeof(kPpse) - 1)) {
    selected_ = Ppse;
    Bytes e = tlv::make(0x4F, d_.aid);
    append(e, tlv::make(0x50, Bytes(d_.label.begin(), d_.label.end())));
    append(e, tlv::make(0x87, Bytes{0x01}));
    Bytes body = tlv::make(0x84, name);
    append(body, tlv::make(0xA5, tlv::make(0xBF0C, tlv::make(0x61, e))));
    return outgoing(tlv::make(0x6F, body));
  }
  if (d_.pse && !d_.ddfName.empty() && name == d_.ddfName) {
    selected_ = Ddf;
    Bytes body = tlv::make(0x84, name);
    append(body, tlv::make(0xA5, tlv::make(0x88, Bytes{0x02})));
    return outgoing(tlv::make(0x6F, body));
  }
  if (d_.pse && name == Bytes(kPse, kPse + sizeof(kPse) - 1)) {
    selected_ = Pse;
    Bytes a5 = tlv::make(0x88, Bytes{0x01});
    append(a5, tlv::make(0x5F2D, Bytes{'z', 'h'}));
    Bytes body = tlv::make(0x84, name);
    append(body, tlv::make(0xA5, a5));
    return outgoing(tlv::make(0x6F, body));
  }
  // Partial names select the application too (EMV "select next" aside).
  if (!name.empty() && name.size() <= d_.aid.size() &&
      std::equal(name.begin(), name.end(), d_.aid.begin())) {
    selected_ = App;
    gpoDone_ = false;
    acCount_ = 0;
    issuerAuthFailed_ = false;
    Bytes a5 = tlv::make(0x50, Bytes(d_.label.begin(), d_.label.end()));
    append(a5, tlv::make(0x87, Bytes{0x01}));
    if (!d_.pdol.empty()) append(a5, tlv::make(0x9F38, d_.pdol));
    append(a5, tlv::make(0xBF0C, tlv::make(0x9F4D, hx("0B0A"))));
    Bytes body = tlv::make(0x84, d_.aid);
    append(body, tlv::make(0xA5, a5));
    return outgoing(tlv::make(0x6F, body));
  }
  return swOnly(kSwNotFound);
}

Bytes BankCard::gpo(const Bytes& data) {
  if (selected_ != App) return swOnly(kSwConditions);
  if (data.size() < 2 || data[0] != 0x83 || data[1] != data.size() - 2) return swOnly(kSwWrongData);
  if (data.size() - 2 != tlv::dolLength(d_.pdol)) return swOnly(kSwWrongLength);
  Bytes pdolData(data.begin() + 2, data.end());
  Bytes ttq = dolValue(d_.pdol, pdolData, 0x9F66);
  if (contactless_ && d_.qpboc && !ttq.empty() && (ttq[0] & 0x20)) return qpbocGpo(pdolData);
  gpoDone_ = true;
  ++atc_;
  if (d_.gpoFormat == 1) {
    Bytes v = d_.aip;
    append(v, d_.afl);
    return outgoing(tlv::make(0x80, v));
  }
  Bytes v = tlv::make(0x82, d_.aip);
  append(v, tlv::make(0x94, d_.afl));
  return outgoing(tlv::make(0x77, v));
}

// qPBOC: the card decides at once. A purchase (9C 00) within the
// electronic-cash balance and the single-transaction limit is approved
// offline and debited; anything else is sent online with an ARQC.
Bytes BankCard::qpbocGpo(const Bytes& pdolData) {
  gpoDone_ = true;
  acCount_ = 2;  // no GENERATE AC follows a qPBOC answer
  ++atc_;
  unsigned long long amount = bcdValue(dolValue(d_.pdol, pdolData, 0x9F02));
  Bytes type = dolValue(d_.pdol, pdolData, 0x9C);
  unsigned long long balance = bcdValue(d_.data[0x9F79]);
  bool approve = !type.empty() && type[0] == 0x00 && amount <= balance;
  auto limit = d_.data.find(0x9F78);
  if (limit != d_.data.end() && amount > bcdValue(limit->second)) approve = false;
  if (approve) {
    balance -= amount;
    d_.data[0x9F79] = bcd6(balance);
  }
  Bytes macIn = pdolData;
  put16(macIn, atc_);
  crypto::Block ac = crypto::mac(d_.key, macIn);
  Bytes v = tlv::make(0x82, d_.aip);
  append(v, tlv::make(0x94, d_.afl));
  Bytes atc;
  put16(atc, atc_);
  append(v, tlv::make(0x9F36, atc));
  append(v, tlv::make(0x9F26, Bytes(ac.begin(), ac.end())));
  append(v, tlv::make(0x9F27, Bytes{uint8_t(approve ? 0x40 : 0x80)}));
  // Issuer application data with the CVR's first-AC bits telling TC or ARQC.
  Bytes iad = hx("07010103A00000010A0100000000005EC4F0D3");
  if (approve) iad[4] = 0x90;
  append(v, tlv::make(0x9F10, iad));
  Bytes t2, seq;
  if (findInRecords(d_, 0x57, t2)) append(v, tlv::make(0x57, t2));
  if (findInRecords(d_, 0x5F34, seq)) append(v, tlv::make(0x5F34, seq));
  if (approve) {
    append(v, tlv::make(0x9F5D, bcd6(balance)));
    // fDDA: the signature covers the terminal's unpredictable number.
    if (!d_.icc.empty()) append(v, tlv::make(0x9F4B, signDynamic(dolValue(d_.pdol, pdolData, 0x9F37))));
    logTransaction(d_.pdol, pdolData);
  }
  return outgoing(tlv::make(0x77, v));
}

// Signed dynamic application data: header 6A, format 05, SHA-1, the ICC
// dynamic number (8 random bytes), BB padding, the hash over all that and
// `extra`, trailer BC; signed with the card's private key.
Bytes BankCard::signDynamic(const Bytes& extra) {
  size_t n = d_.icc.n.size();
  Bytes x{0x6A, 0x05, 0x01, 0x09, 0x08};
  uint8_t dyn[8];
  crypto::randomBytes(dyn, sizeof dyn);
  x.insert(x.end(), dyn, dyn + 8);
  x.resize(n - 21, 0xBB);
  Bytes hashed(x.begin() + 1, x.end());
  append(hashed, extra);
  append(x, crypto::sha1(hashed));
  x.push_back(0xBC);
  return crypto::rsaPrivate(d_.icc, x);
}

void BankCard::logTransaction(const Bytes& dol, const Bytes& data) {
  if (d_.logFormat.empty()) return;
  std::vector<std::pair<unsigned, size_t>> items;
  if (!tlv::parseDol(d_.logFormat, items)) return;
  Bytes rec;
  for (auto& it : items) {
    Bytes v = dolValue(dol, data, it.first);
    if (it.first == 0x9F36) put16(v, atc_);
    v.resize(it.second, 0x00);
    append(rec, v);
  }
  d_.log.insert(d_.log.begin(), rec);
  if (d_.log.size() > 10) d_.log.pop_back();
}

Bytes BankCard::internalAuthenticate(const Bytes& ddolData) {
  if (d_.icc.empty()) return swOnly(kSwUnknownIns);
  if (selected_ != App) return swOnly(kSwConditions);
  return outgoing(tlv::make(0x80, signDynamic(ddolData)));
}

// ARPC method 1: 3DES(key, ARQC XOR (ARC || 00..00)). A wrong one makes
// the card refuse the second GENERATE AC.
Bytes BankCard::externalAuthenticate(const Bytes& data) {
  if (acCount_ != 1) return swOnly(kSwConditions);
  if (data.size() < 10 || data.size() > 16) return swOnly(kSwWrongLength);
  uint8_t in[8] = {data[8], data[9], 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8 && size_t(i) < lastAc_.size(); ++i) in[i] ^= lastAc_[i];
  crypto::Block want = crypto::encryptBlock(d_.key, in);
  if (!std::equal(want.begin(), want.end(), data.begin())) {
    issuerAuthFailed_ = true;
    return swOnly(kSwAuthFailed);
  }
  return swOnly(kSwOk);
}

// Issuer script commands (secure messaging class, MAC not checked): PUT
// DATA replaces a GET DATA object, PIN UNBLOCK resets the try counter.
Bytes BankCard::script(uint8_t ins, uint8_t p1, uint8_t p2, const Bytes& data) {
  if (acCount_ < 1) return swOnly(kSwConditions);
  if (ins == 0xDA) {
    if (data.size() < 5) return swOnly(kSwWrongLength);
    d_.data[unsigned(p1) << 8 | p2] = Bytes(data.begin(), data.end() - 4);
    return swOnly(kSwOk);
  }
  if (ins == 0x24 && p2 == 0x00) {
    pinTries_ = 3;
    return swOnly(kSwOk);
  }
  return swOnly(kSwUnknownIns);
}

Bytes BankCard::generateAc(uint8_t p1, const Bytes& data) {
  if (!gpoDone_) return swOnly(kSwConditions);
  const Bytes& dol = acCount_ == 0 ? d_.cdol1 : d_.cdol2;
  if (acCount_ >= 2) return swOnly(kSwConditions);
  if (data.size() != tlv::dolLength(dol)) return swOnly(kSwWrongLength);
  uint8_t want = p1 & 0xC0;
  uint8_t cid;
  if (acCount_ == 0)
    cid = want == 0x00 ? 0x00 : 0x80;  // the card always goes online first
  else
    cid = want == 0x40 && !issuerAuthFailed_ ? 0x40 : 0x00;
  ++acCount_;
  Bytes macIn = data;
  put16(macIn, atc_);
  crypto::Block ac = crypto::mac(d_.key, macIn);
  lastAc_.assign(ac.begin(), ac.end());
  if (acCount_ == 1) cdol1Data_ = data;
  if (cid == 0x40) logTransaction(d_.cdol1, cdol1Data_);
  Bytes v{cid};
  put16(v, atc_);
  v.insert(v.end(), ac.begin(), ac.end());
  append(v, hx("07010103A00000010A0100000000005EC4F0D3"));
  return outgoing(tlv::make(0x80, v));
}

Bytes BankCard::handle(const Bytes& a) {
  uint8_t cla = a[0], ins = a[1], p1 = a[2], p2 = a[3];
  uint8_t lc = a.size() > 4 ? a[4] : 0;
  bool hasData = a.size() > 5;
  Bytes data;
  if (hasData) {
    if (a.size() < size_t(5 + lc)) return swOnly(kSwWrongLength);
    data.assign(a.begin() + 5, a.begin() + 5 + lc);
  }
  if (cla == 0x00 && ins == 0xA4) {
    if (p1 != 0x04) return swOnly(kSwWrongP1P2);
    return select(data);
  }
  if (cla == 0x00 && ins == 0xB2) {
    if ((p2 & 0x07) != 0x04) return swOnly(kSwWrongP1P2);
    int sfi = p2 >> 3;
    if (selected_ == Pse && sfi == 1 && !d_.ddfName.empty()) {
      if (p1 != 1) return swOnly(kSwRecordNotFound);
      return expected(tlv::make(0x70, tlv::make(0x61, tlv::make(0x9D, d_.ddfName))), lc);
    }
    if ((selected_ == Pse && sfi == 1) || (selected_ == Ddf && sfi == 2)) {
      if (p1 != 1) return swOnly(kSwRecordNotFound);
      Bytes e = tlv::make(0x4F, d_.aid);
      append(e, tlv::make(0x50, Bytes(d_.label.begin(), d_.label.end())));
      append(e, tlv::make(0x87, Bytes{0x01}));
      return expected(tlv::make(0x70, tlv::make(0x61, e)), lc);
    }
    if (selected_ != App) return swOnly(kSwConditions);
    if (sfi == 11 && !d_.logFormat.empty()) {
      if (p1 < 1 || size_t(p1) > d_.log.size()) return swOnly(kSwRecordNotFound);
      return expected(d_.log[p1 - 1], lc);
    }
    auto it = d_.records.find({sfi, p1});
    if (it == d_.records.end()) return swOnly(kSwRecordNotFound);
    return expected(it->second, lc);
  }
  if (cla == 0x80 && ins == 0xA8) return gpo(data);
  if (cla == 0x80 && ins == 0xAE) return generateAc(p1, data);
  if (cla == 0x80 && ins == 0xCA) {
    unsigned tag = unsigned(p1) << 8 | p2;
    if (tag == 0x9F36) {
      Bytes v;
      put16(v, atc_);
      return expected(tlv::make(tag, v), lc);
    }
    if (tag == 0x9F17) return expected(tlv::make(tag, Bytes{uint8_t(pinTries_)}), lc);
    if (tag == 0x9F4F && !d_.logFormat.empty()) return expected(tlv::make(tag, d_.logFormat), lc);
    auto it = d_.data.find(tag);
    if (it == d_.data.end()) return swOnly(kSwDataNotFound);
    return expected(tlv::make(tag, it->second), lc);
  }
  if (cla == 0x00 && ins == 0x82) return externalAuthenticate(data);
  if (cla == 0x00 && ins == 0x88) return internalAuthenticate(data);
  if (cla == 0x84 || cla == 0x04) return script(ins, p1, p2, data);
  if (cla == 0x00 && ins == 0x20) {
    if (d_.pin.empty()) return swOnly(kSwUnknownIns);
    if (p2 != 0x80 || data.size() != 8) return swOnly(kSwWrongP1P2);
    if (pinTries_ == 0) return swOnly(kSwBlocked);
    std::string hexBlock = toHex(data);
    std::string want = "2" + std::string(1, "0123456789ABCDEF"[d_.pin.size() & 15]) + d_.pin;
    want.resize(16, 'F');
    if (hexBlock != want) {
      --pinTries_;
      return swOnly(0x63C0 | unsigned(pinTries_));
    }
    pinTries_ = 3;
    return swOnly(kSwOk);
  }
  if (cla != 0x00 && cla != 0x80) return swOnly(kSwUnknownCla);
  return swOnly(kSwUnknownIns);
}

}  // namespace vr
