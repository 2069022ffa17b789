#include "bankcard.h"

#include <algorithm>

#include "tlv.h"

namespace vr {

static const char kPse[] = "1PAY.SYS.DDF01";

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
  return d_.atr;
}

Bytes BankCard::select(const Bytes& name) {
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
    cid = want == 0x40 ? 0x40 : 0x00;
  ++acCount_;
  Bytes macIn = data;
  put16(macIn, atc_);
  crypto::Block ac = crypto::mac(d_.key, macIn);
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
    if (selected_ == Pse && sfi == 1) {
      if (p1 != 1) return swOnly(kSwRecordNotFound);
      Bytes e = tlv::make(0x4F, d_.aid);
      append(e, tlv::make(0x50, Bytes(d_.label.begin(), d_.label.end())));
      append(e, tlv::make(0x87, Bytes{0x01}));
      return expected(tlv::make(0x70, tlv::make(0x61, e)), lc);
    }
    if (selected_ != App) return swOnly(kSwConditions);
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
    auto it = d_.data.find(tag);
    if (it == d_.data.end()) return swOnly(kSwDataNotFound);
    return expected(tlv::make(tag, it->second), lc);
  }
  if (cla == 0x00 && ins == 0x82) {
    if (acCount_ != 1) return swOnly(kSwConditions);
    if (data.size() < 8 || data.size() > 16) return swOnly(kSwWrongLength);
    return swOnly(kSwOk);
  }
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
