// Personalisation of a bank card for offline data authentication: the
// certificate chain CA -> issuer -> card as the card's records carry it.
#include <algorithm>

#include "bankcard.h"
#include "tlv.h"

namespace vr {

Bytes staticAuthData(const BankCardData& d) {
  Bytes out;
  for (size_t i = 0; i + 4 <= d.afl.size(); i += 4) {
    int sfi = d.afl[i] >> 3;
    for (int r = d.afl[i + 1]; r < d.afl[i + 1] + d.afl[i + 3] && r <= d.afl[i + 2]; ++r) {
      auto it = d.records.find({sfi, r});
      if (it == d.records.end()) continue;
      const Bytes& rec = it->second;
      if (sfi > 10) {
        append(out, rec);
        continue;
      }
      // Template content only: skip 70 and its length.
      size_t h = rec.size() > 1 && rec[1] == 0x81 ? 3 : rec.size() > 1 && rec[1] == 0x82 ? 4 : 2;
      if (rec.size() >= h) out.insert(out.end(), rec.begin() + h, rec.end());
    }
  }
  append(out, d.aip);
  return out;
}

// A certificate recovered as 6A | body | SHA-1(body || hashExtra) | BC,
// signed with `signer`; body is padded with BB to the signer's length.
static Bytes certify(const crypto::RsaKey& signer, Bytes body, const Bytes& hashExtra) {
  size_t n = signer.n.size();
  body.resize(n - 22, 0xBB);
  Bytes hashed = body;
  append(hashed, hashExtra);
  Bytes x;
  x.reserve(n);
  x.push_back(0x6A);
  append(x, body);
  append(x, crypto::sha1(hashed));
  x.push_back(0xBC);
  return crypto::rsaPrivate(signer, x);
}

static Bytes bcdPan(const std::string& pan, size_t bytes) {
  std::string s = pan;
  s.resize(bytes * 2, 'F');
  Bytes b;
  fromHex(s, b);
  return b;
}

void personaliseOda(BankCardData& d, const OdaKeys& k, const std::string& pan) {
  Bytes expiry;
  fromHex(k.certExpiry, expiry);
  size_t nCa = k.ca.n.size(), nI = k.issuer.n.size(), nIc = k.icc.n.size();

  // Issuer certificate: format 02, issuer identifier (6 PAN digits).
  Bytes ib{0x02};
  append(ib, bcdPan(pan.substr(0, 6), 4));
  append(ib, expiry);
  append(ib, hx("000001 01 01"));
  ib.push_back(uint8_t(nI));
  ib.push_back(uint8_t(k.issuer.e.size()));
  size_t inCert = std::min(nI, nCa - 36);
  ib.insert(ib.end(), k.issuer.n.begin(), k.issuer.n.begin() + inCert);
  Bytes issuerRem(k.issuer.n.begin() + inCert, k.issuer.n.end());
  Bytes extra = issuerRem;
  append(extra, k.issuer.e);
  Bytes issuerCert = certify(k.ca, ib, extra);

  // Static data signed by SDA and by the ICC certificate: the AFL gains
  // SFI 3 (not authenticated itself) before the data are taken.
  d.afl.insert(d.afl.end(), {0x18, 0x01, 0x03, 0x00});
  d.records[{3, 3}] = tlv::make(0x70, Bytes());  // placeholder so the AFL stays whole
  Bytes sad = staticAuthData(d);

  Bytes cb{0x04};
  append(cb, bcdPan(pan, 10));
  append(cb, expiry);
  append(cb, hx("000002 01 01"));
  cb.push_back(uint8_t(nIc));
  cb.push_back(uint8_t(k.icc.e.size()));
  size_t icInCert = std::min(nIc, nI - 42);
  cb.insert(cb.end(), k.icc.n.begin(), k.icc.n.begin() + icInCert);
  Bytes iccRem(k.icc.n.begin() + icInCert, k.icc.n.end());
  extra = iccRem;
  append(extra, k.icc.e);
  append(extra, sad);
  Bytes iccCert = certify(k.issuer, cb, extra);

  Bytes ssad = certify(k.issuer, hx("03 01 DAC1"), sad);

  Bytes r1 = tlv::make(0x8F, Bytes{k.caIndex});
  append(r1, tlv::make(0x90, issuerCert));
  append(r1, tlv::make(0x9F32, k.issuer.e));
  if (!issuerRem.empty()) append(r1, tlv::make(0x92, issuerRem));
  Bytes r2 = tlv::make(0x9F46, iccCert);
  append(r2, tlv::make(0x9F47, k.icc.e));
  if (!iccRem.empty()) append(r2, tlv::make(0x9F48, iccRem));
  append(r2, tlv::make(0x9F49, hx("9F3704")));
  append(r2, tlv::make(0x9F4A, Bytes{0x82}));
  d.records[{3, 1}] = tlv::make(0x70, r1);
  d.records[{3, 2}] = tlv::make(0x70, r2);
  d.records[{3, 3}] = tlv::make(0x70, tlv::make(0x93, ssad));
  d.icc = k.icc;
}

}  // namespace vr
