#include "sscard.h"

#include <cstring>

#include "tlv.h"

namespace vr {

Bytes ssDfName(char digit) {
  Bytes b{'s', 'x', static_cast<uint8_t>(digit), '.', 's', 'h', '.'};
  append(b, hx("C9E7BBE1B1A3D5CF"));  // 社会保障
  return b;
}

Bytes ssCardDiversifier(const Bytes& atr, const std::string& region6) {
  if (atr.size() < 8 || region6.size() != 6) return Bytes();
  Bytes d(atr.end() - 8, atr.end());
  append(d, region6);
  append(d, std::string("sx"));
  append(d, region6.substr(0, 2));
  append(d, std::string("0000sh"));
  return d;
}

static std::string regionOf(const std::map<uint8_t, Bytes>& ef05) {
  auto it = ef05.find(0x01);
  if (it == ef05.end() || it->second.size() < 3) return "000000";
  return toHex(it->second.data(), 3);
}

SsCard::SsCard(SsCardData d) : CpuCard(d.t0), d_(std::move(d)) {
  Bytes div = ssCardDiversifier(d_.atr, regionOf(d_.ef05));
  keyInt_ = crypto::diversify(d_.masterInt, div);
  keyExt_ = crypto::diversify(d_.masterExt, div);
}

Bytes SsCard::reset() {
  appSelected_ = false;
  ef_ = 0;
  challenge_.clear();
  return d_.atr;
}

Bytes SsCard::fci() const {
  Bytes inner;
  if (d_.fciTag86) append(inner, tlv::make(0x86, Bytes{static_cast<uint8_t>(d_.generation)}));
  append(inner, tlv::make(0x9F08, Bytes{static_cast<uint8_t>(d_.generation)}));
  Bytes body = tlv::make(0x84, ssDfName(char('0' + d_.generation)));
  append(body, tlv::make(0xA5, inner));
  return tlv::make(0x6F, body);
}

Bytes SsCard::handle(const Bytes& a) {
  if (a[0] != 0x00) return swOnly(kSwUnknownCla);
  uint8_t ins = a[1], p1 = a[2], p2 = a[3];
  Bytes data;
  uint8_t lc = a.size() > 4 ? a[4] : 0;
  if (a.size() > 5) {
    if (a.size() < size_t(5 + lc)) return swOnly(kSwWrongLength);
    data.assign(a.begin() + 5, a.begin() + 5 + lc);
  }
  switch (ins) {
    case 0xA4:
      if (p1 == 0x04) {
        for (char digit : d_.appDigits) {
          if (data == ssDfName(digit)) {
            appSelected_ = true;
            ef_ = 0;
            return outgoing(fci());
          }
        }
        return swOnly(kSwNotFound);
      }
      if (p1 == 0x02 && data.size() == 2) {
        unsigned fid = unsigned(data[0]) << 8 | data[1];
        if (!appSelected_ || (fid != 0xEF05 && fid != 0xEF06)) return swOnly(kSwNotFound);
        ef_ = int(fid);
        return swOnly(kSwOk);
      }
      return swOnly(kSwNotFound);
    case 0xB2: {
      if (p2 != 0x00) return swOnly(kSwWrongP1P2);
      if (ef_ == 0) return swOnly(kSwNoCurrentEf);
      const auto& recs = ef_ == 0xEF05 ? d_.ef05 : d_.ef06;
      auto it = recs.find(p1);
      if (it == recs.end()) return swOnly(kSwRecordNotFound);
      Bytes rec{p1, static_cast<uint8_t>(it->second.size())};
      append(rec, it->second);
      return expected(rec, lc);
    }
    case 0x88:
      if (p1 != 0 || p2 != 0) return swOnly(kSwWrongP1P2);
      if (data.size() != 16) return swOnly(kSwWrongLength);
      return internalAuth(data);
    case 0x84:
      if (lc != 8 && lc != 4) return swOnly(kSwWrongLength);
      challenge_.assign(8, 0);
      crypto::randomBytes(challenge_.data(), 8);
      return withSw(Bytes(challenge_.begin(), challenge_.begin() + lc), kSwOk);
    case 0x82:
      if (data.size() != 16) return swOnly(kSwWrongLength);
      return externalAuth(data);
    default:
      return swOnly(kSwUnknownIns);
  }
}

// The card's answer: E(rand2) for generation 1; E(rand2) XOR E(0) for 2 and 3.
Bytes SsCard::internalAuth(const Bytes& data) {
  crypto::Key k = crypto::derive(keyInt_, &data[0]);
  static const uint8_t zero[8] = {};
  if (d_.generation >= 2) k = crypto::derive(k, zero);
  crypto::Block r = crypto::encryptBlock(k, &data[8]);
  if (d_.generation >= 2) {
    crypto::Block z = crypto::encryptBlock(k, zero);
    for (int i = 0; i < 8; ++i) r[i] ^= z[i];
  }
  return outgoing(Bytes(r.begin(), r.end()));
}

Bytes SsCard::externalAuth(const Bytes& data) {
  if (challenge_.size() != 8) return swOnly(kSwConditions);
  static const uint8_t zero[8] = {};
  // With a zero random half the folded cryptogram is zero under any key.
  if (std::memcmp(&data[8], zero, 8) == 0) return swOnly(kSwWrongData);
  crypto::Key k = crypto::derive(crypto::derive(keyExt_, challenge_.data()), zero);
  challenge_.clear();  // one attempt per challenge
  crypto::Block e = crypto::encryptBlock(k, &data[8]);
  crypto::Block z = crypto::encryptBlock(k, zero);
  for (int i = 0; i < 8; ++i)
    if (uint8_t(e[i] ^ z[i]) != data[i]) return swOnly(kSwAuthFailed);
  return swOnly(kSwOk);
}

Psam::Psam(Bytes atr, std::string digits, crypto::Key masterInt, crypto::Key masterExt, Bytes serial,
           bool t0)
    : CpuCard(t0), atr_(std::move(atr)), digits_(std::move(digits)), masterInt_(masterInt),
      masterExt_(masterExt) {
  ef15_ = serial;
  ef15_.resize(30, 0x00);
}

Bytes Psam::reset() {
  appSelected_ = df01_ = haveSession_ = false;
  return atr_;
}

Bytes Psam::handle(const Bytes& a) {
  uint8_t cla = a[0], ins = a[1], p1 = a[2], p2 = a[3];
  uint8_t lc = a.size() > 4 ? a[4] : 0;
  Bytes data;
  if (a.size() > 5) {
    if (a.size() < size_t(5 + lc)) return swOnly(kSwWrongLength);
    data.assign(a.begin() + 5, a.begin() + 5 + lc);
  }
  if (cla == 0x00 && ins == 0xA4) {
    if (p1 == 0x04) {
      for (char digit : digits_) {
        if (data == ssDfName(digit)) {
          appSelected_ = true;
          df01_ = haveSession_ = false;
          Bytes body = tlv::make(0x84, data);
          append(body, tlv::make(0xA5, tlv::make(0x9F08, Bytes{uint8_t(digit - '0')})));
          return outgoing(tlv::make(0x6F, body));
        }
      }
      return swOnly(kSwNotFound);
    }
    if (p1 == 0x00 && data == Bytes{0xDF, 0x01}) {
      if (!appSelected_) return swOnly(kSwNotFound);
      df01_ = true;
      return outgoing(tlv::make(0x6F, tlv::make(0x84, Bytes{0xDF, 0x01})));
    }
    return swOnly(kSwNotFound);
  }
  if (cla == 0x00 && ins == 0xB0) {
    if (!(p1 & 0x80)) return swOnly(kSwWrongP1P2);
    if ((p1 & 0x1F) != 0x15) return swOnly(kSwNotFound);
    size_t off = p2;
    if (off + lc > ef15_.size()) return swOnly(kSwWrongOffset);
    return withSw(Bytes(ef15_.begin() + off, ef15_.begin() + off + lc), kSwOk);
  }
  if (cla == 0xBF && ins == 0xDE) {
    if (!df01_) return swOnly(kSwConditions);
    if (p1 != 0x67 || (p2 != 0x08 && p2 != 0x0A)) return swOnly(kSwWrongP1P2);
    if (data.empty() || data.size() % 8 != 0) return swOnly(kSwWrongLength);
    session_ = crypto::diversify(p2 == 0x08 ? masterInt_ : masterExt_, data);
    haveSession_ = true;
    return swOnly(kSwOk);
  }
  if (cla == 0x80 && ins == 0xFA) {
    if (!haveSession_) return swOnly(kSwConditions);
    if (data.empty() || data.size() % 8 != 0) return swOnly(kSwWrongLength);
    Bytes out(data.size());
    crypto::encrypt(session_, data.data(), data.size(), out.data());
    return outgoing(out);
  }
  if (cla != 0x00 && cla != 0x80 && cla != 0xBF) return swOnly(kSwUnknownCla);
  return swOnly(kSwUnknownIns);
}

}  // namespace vr
