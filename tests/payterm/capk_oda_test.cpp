// The CA key table and offline data authentication: certificate chains
// made with test keys (the published CA keys have no private half) and
// the built-in keys checked against their check values.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "bankcard.h"
#include "capk.h"
#include "oda.h"
#include "payterm.h"
#include "ptcard.h"
#include "tempdir.h"
#include "tlv.h"
#include "trace.h"

using payterm::Capk;
using payterm::CapkTable;
using payterm::RsaPublic;
using payterm::YearMonth;

namespace {

std::string g_trace;
void capture(const char* text, size_t n) { g_trace.append(text, n); }

// Keys made once per run: a CA key with exponent 3 as the published ones
// have, issuer and card keys with 65537.
struct Keys {
  vr::crypto::RsaKey ca = vr::crypto::generateRsa(1152, 3);
  vr::crypto::RsaKey issuer = vr::crypto::generateRsa(1024, 65537);
  vr::crypto::RsaKey icc = vr::crypto::generateRsa(768, 65537);
};
const Keys& keys() {
  static Keys k;
  return k;
}

std::string hex(const vr::Bytes& b) { return vr::toHex(b); }

struct KeyText {
  std::string rid = "A000000333", index = "F1", hash = "01", arith = "01", modulus, exponent,
              expiry = "20491231", check;
};
KeyText ca_text(uint8_t index) {
  KeyText t;
  char ix[3];
  snprintf(ix, sizeof ix, "%02X", index);
  t.index = ix;
  t.modulus = hex(keys().ca.n);
  t.exponent = hex(keys().ca.e);
  vr::Bytes in = vr::hx("A000000333");
  in.push_back(index);
  vr::append(in, keys().ca.n);
  vr::append(in, keys().ca.e);
  t.check = hex(vr::crypto::sha1(in));
  return t;
}

Capk capk_of(const KeyText& t) {
  Capk k;
  EXPECT_TRUE(payterm::capk_from_text(t.rid.c_str(), t.index.c_str(), t.hash.c_str(),
                                      t.arith.c_str(), t.modulus.c_str(), t.exponent.c_str(),
                                      t.expiry.c_str(), t.check.c_str(), &k));
  return k;
}

std::string capk_section(int n, const KeyText& t) {
  return "[CAPK" + std::to_string(n) + "]\nRID=" + t.rid + "\nCAPKI=" + t.index +
         "\nHashInd=" + t.hash + "\nArithInd=" + t.arith + "\nModul=" + t.modulus +
         "\nExponent=" + t.exponent + "\nExpireDate=" + t.expiry + "\nCheckSum=" + t.check + "\n";
}

TEST(CaKeys, BuiltInKeysPassTheirCheckValues) {
  CapkTable t;
  ASSERT_EQ(4, t.load(nullptr));
  const uint8_t rid[5] = {0xA0, 0x00, 0x00, 0x03, 0x33};
  const uint8_t indexes[4] = {0x03, 0x08, 0x09, 0x0A};
  const int sizes[4] = {176, 144, 176, 128};
  for (int i = 0; i < 4; ++i) {
    const Capk* k = t.find(rid, indexes[i]);
    ASSERT_NE(nullptr, k) << i;
    EXPECT_EQ(sizes[i], k->modLen);
    EXPECT_EQ(1, k->expLen);
    EXPECT_EQ(0x03, k->exponent[0]);
    EXPECT_EQ(0x01, k->hashInd);
    EXPECT_TRUE(payterm::capk_check_value_ok(*k));
    // one flipped modulus bit breaks it
    Capk bad = *k;
    bad.modulus[10] ^= 0x01;
    EXPECT_FALSE(payterm::capk_check_value_ok(bad));
  }
  EXPECT_EQ(nullptr, t.find(rid, 0x04));
}

TEST(CaKeys, LoadingStopsAtTheFirstKeyWithAWrongCheckValue) {
  KeyText good = ca_text(0xF1), bad = ca_text(0xF2), after = ca_text(0xF3);
  bad.check[0] = bad.check[0] == '0' ? '1' : '0';
  payterm::CapkText rows[3];
  const KeyText* src[3] = {&good, &bad, &after};
  for (int i = 0; i < 3; ++i)
    rows[i] = {src[i]->rid.c_str(),      src[i]->index.c_str(),    src[i]->hash.c_str(),
               src[i]->arith.c_str(),    src[i]->modulus.c_str(),  src[i]->exponent.c_str(),
               src[i]->expiry.c_str(),   src[i]->check.c_str()};
  g_trace.clear();
  payterm::set_trace_receiver(capture);
  CapkTable t;
  EXPECT_EQ(1, t.load_rows(rows, 3));
  payterm::set_trace_receiver(nullptr);
  EXPECT_EQ("A000000333F2 认证中心公钥非法\n", g_trace);
  const uint8_t rid[5] = {0xA0, 0x00, 0x00, 0x03, 0x33};
  EXPECT_NE(nullptr, t.find(rid, 0xF1));
  EXPECT_EQ(nullptr, t.find(rid, 0xF3));
}

TEST(CaKeys, RowsOutOfFormAreRefused) {
  KeyText t = ca_text(0xF1);
  Capk k;
  EXPECT_FALSE(payterm::capk_from_text("A0000003", t.index.c_str(), "01", "01", t.modulus.c_str(),
                                       "03", "20491231", t.check.c_str(), &k));
  EXPECT_FALSE(payterm::capk_from_text(t.rid.c_str(), "F1", "01", "01", t.modulus.c_str(),
                                       "01000100", "20491231", t.check.c_str(), &k));
  EXPECT_FALSE(payterm::capk_from_text(t.rid.c_str(), "F1", "01", "01",
                                       std::string(498, 'A').c_str(), "03", "20491231",
                                       t.check.c_str(), &k));
  EXPECT_FALSE(payterm::capk_from_text(t.rid.c_str(), "F1", "01", "01", t.modulus.c_str(), "03",
                                       "2049123X", t.check.c_str(), &k));
  EXPECT_FALSE(payterm::capk_from_text(t.rid.c_str(), "G1", "01", "01", t.modulus.c_str(), "03",
                                       "20491231", t.check.c_str(), &k));
}

TEST(CaKeys, FileKeysJoinTheBuiltInOnes) {
  TempWorkDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_EQ(0, mkdir("emv", 0700));
  KeyText a = ca_text(0xF1), b = ca_text(0x08);  // b replaces the built-in 08
  TempWorkDir::write("emv/CAPK.txt", capk_section(1, a) + capk_section(2, b));
  CapkTable t;
  ASSERT_EQ(6, t.load("emv/CAPK.txt"));
  const uint8_t rid[5] = {0xA0, 0x00, 0x00, 0x03, 0x33};
  const Capk* k = t.find(rid, 0x08);
  ASSERT_NE(nullptr, k);
  EXPECT_EQ(keys().ca.n.size(), k->modLen);
  EXPECT_EQ(0x20, k->expiry[0]);
  EXPECT_EQ(0x49, k->expiry[1]);
  // A bad first key keeps the second out as well.
  KeyText bad = a;
  bad.modulus[5] = bad.modulus[5] == 'A' ? 'B' : 'A';
  TempWorkDir::write("emv/CAPK.txt", capk_section(1, bad) + capk_section(2, b));
  EXPECT_EQ(4, t.load("emv/CAPK.txt"));
  EXPECT_EQ(4, t.load("missing.txt"));
}

// A personalised card's records and the values authentication takes.
struct Chain {
  vr::BankCardData d;
  Capk ca;
  vr::Bytes pan, sad;
  vr::Bytes get(unsigned tag) const {
    vr::Bytes v;
    for (auto& r : d.records)
      if (vr::tlv::find(r.second, tag, v)) return v;
    return vr::Bytes();
  }
};

Chain chain(const std::string& expiry = "1249") {
  Chain c;
  c.d = ptcard::bank_data();
  vr::OdaKeys k;
  k.ca = keys().ca;
  k.issuer = keys().issuer;
  k.icc = keys().icc;
  k.caIndex = 0xF1;
  k.certExpiry = expiry;
  vr::personaliseOda(c.d, k, "6217000012345678907");
  c.ca = capk_of(ca_text(0xF1));
  c.pan = c.get(0x5A);
  c.sad = vr::staticAuthData(c.d);
  return c;
}

const YearMonth kToday = {2026, 3};

int issuer_of(const Chain& c, const vr::Bytes& cert, RsaPublic* out, YearMonth today = kToday) {
  vr::Bytes rem = c.get(0x92), exp = c.get(0x9F32);
  return payterm::recover_issuer_key(c.ca, cert.data(), cert.size(), rem.data(), rem.size(),
                                     exp.data(), exp.size(), c.pan.data(), c.pan.size(), today,
                                     out);
}

int icc_of(const Chain& c, const RsaPublic& issuer, const vr::Bytes& sad, const vr::Bytes& pan,
           RsaPublic* out) {
  vr::Bytes cert = c.get(0x9F46), rem = c.get(0x9F48), exp = c.get(0x9F47);
  return payterm::recover_icc_key(issuer, cert.data(), cert.size(), rem.data(), rem.size(),
                                  exp.data(), exp.size(), sad.data(), sad.size(), pan.data(),
                                  pan.size(), kToday, out);
}

TEST(Oda, RsaPublicOperationAgreesWithTheCardsArithmetic) {
  vr::Bytes in(keys().icc.n.size());
  vr::crypto::randomBytes(in.data(), in.size());
  in[0] = 0x01;  // below the modulus
  vr::Bytes mine(in.size());
  ASSERT_TRUE(payterm::rsa_public(keys().icc.n.data(), keys().icc.n.size(), keys().icc.e.data(),
                                  keys().icc.e.size(), in.data(), in.size(), mine.data()));
  EXPECT_EQ(vr::crypto::rsaPublic(keys().icc, in), mine);
  EXPECT_FALSE(payterm::rsa_public(keys().icc.n.data(), keys().icc.n.size(), keys().icc.e.data(),
                                   keys().icc.e.size(), in.data(), in.size() - 1, mine.data()));
}

TEST(Oda, CertificateChainRecoversTheIssuerAndCardKeys) {
  Chain c = chain();
  RsaPublic issuer, icc;
  ASSERT_EQ(0, issuer_of(c, c.get(0x90), &issuer));
  EXPECT_EQ(keys().issuer.n, vr::Bytes(issuer.n, issuer.n + issuer.nLen));
  EXPECT_EQ(keys().issuer.e, vr::Bytes(issuer.e, issuer.e + issuer.eLen));
  ASSERT_EQ(0, icc_of(c, issuer, c.sad, c.pan, &icc));
  EXPECT_EQ(keys().icc.n, vr::Bytes(icc.n, icc.n + icc.nLen));
  vr::Bytes ssad = c.get(0x93);
  EXPECT_EQ(0, payterm::verify_static(issuer, ssad.data(), ssad.size(), c.sad.data(), c.sad.size()));
}

TEST(Oda, TamperedOrForeignCertificatesAreRejected) {
  Chain c = chain();
  RsaPublic issuer, icc;
  vr::Bytes cert = c.get(0x90);
  cert[cert.size() / 2] ^= 0x01;
  EXPECT_EQ(PAYTERM_E_ODA_ISSUER, issuer_of(c, cert, &issuer));
  cert = c.get(0x90);
  cert.pop_back();
  EXPECT_EQ(PAYTERM_E_ODA_ISSUER, issuer_of(c, cert, &issuer));
  // An issuer certificate for other card numbers.
  Chain other = c;
  other.pan = vr::hx("4111111111111111");
  EXPECT_EQ(PAYTERM_E_ODA_ISSUER, issuer_of(other, c.get(0x90), &issuer));
  // Expired at the end of its month.
  EXPECT_EQ(0, issuer_of(c, c.get(0x90), &issuer, YearMonth{2049, 12}));
  EXPECT_EQ(PAYTERM_E_ODA_ISSUER, issuer_of(c, c.get(0x90), &issuer, YearMonth{2050, 1}));

  ASSERT_EQ(0, issuer_of(c, c.get(0x90), &issuer));
  vr::Bytes sad = c.sad;
  sad[3] ^= 0x40;  // a signed record changed
  EXPECT_EQ(PAYTERM_E_ODA_ICC, icc_of(c, issuer, sad, c.pan, &icc));
  EXPECT_EQ(PAYTERM_E_ODA_ICC, icc_of(c, issuer, c.sad, vr::hx("6217000012345678908F"), &icc));
  vr::Bytes ssad = c.get(0x93);
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE,
            payterm::verify_static(issuer, ssad.data(), ssad.size(), sad.data(), sad.size()));
}

TEST(Oda, DynamicSignatureOfTheCardVerifies) {
  Chain c = chain();
  RsaPublic issuer, icc;
  ASSERT_EQ(0, issuer_of(c, c.get(0x90), &issuer));
  ASSERT_EQ(0, icc_of(c, issuer, c.sad, c.pan, &icc));
  vr::BankCard card(c.d);
  card.reset();
  auto send = [&](vr::Bytes apdu) {
    vr::Bytes r = card.command(apdu);
    if (r.size() == 2 && r[0] == 0x61) r = card.command(vr::Bytes{0x00, 0xC0, 0x00, 0x00, r[1]});
    return r;
  };
  ASSERT_EQ(0x9000u, vr::swOf(send(vr::hx("00A4040008A000000333010101"))));
  vr::Bytes un = vr::hx("0A0B0C0D");
  vr::Bytes r = send(vr::hx("0088000004 0A0B0C0D"));
  ASSERT_EQ(0x9000u, vr::swOf(r));
  vr::Bytes sdad;
  ASSERT_TRUE(vr::tlv::find(r, 0x80, sdad));
  uint8_t dyn[8];
  size_t dn = 0;
  EXPECT_EQ(0, payterm::verify_dynamic(icc, sdad.data(), sdad.size(), un.data(), un.size(), dyn, &dn));
  EXPECT_EQ(8u, dn);
  vr::Bytes otherUn = vr::hx("0A0B0C0E");
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE, payterm::verify_dynamic(icc, sdad.data(), sdad.size(),
                                                             otherUn.data(), otherUn.size(), dyn, &dn));
  sdad[20] ^= 0x80;
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE,
            payterm::verify_dynamic(icc, sdad.data(), sdad.size(), un.data(), un.size(), dyn, &dn));
  // Signed by the issuer key instead: the format byte is not the dynamic one.
  vr::Bytes ssad = c.get(0x93);
  EXPECT_EQ(PAYTERM_E_ODA_SIGNATURE,
            payterm::verify_dynamic(issuer, ssad.data(), ssad.size(), un.data(), un.size(), dyn, &dn));
}

}  // namespace
