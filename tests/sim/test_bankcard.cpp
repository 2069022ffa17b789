// The bank card's later additions: payment and proximity directories,
// qPBOC on the contactless interface, dynamic signatures, issuer
// authentication and scripts, the transaction log.
#include <gtest/gtest.h>

#include "bankcard.h"
#include "tlv.h"

using namespace vr;

namespace {

BankCardData data(bool qpboc = true) {
  BankCardData d;
  d.atr = hx("3B00");
  d.t0 = false;
  d.qpboc = qpboc;
  d.aid = hx("A000000333010101");
  d.label = "DEBIT";
  d.pdol = hx("9F66049F02069F03069F1A0295055F2A029A039C019F3704");
  d.cdol1 = hx("9F02069F03069F1A0295055F2A029A039C019F3704");
  d.cdol2 = hx("8A029F02069F03069F1A0295055F2A029A039C019F3704");
  d.aip = hx("7C00");
  crypto::keyFromHex("0123456789ABCDEFFEDCBA9876543210", d.key);
  d.pin = "123456";
  BankCardFields f;
  f.pan = "6217000012345678907";
  f.expiry = "3012";
  f.effective = "2012";
  buildBankRecords(f, d);
  d.data[0x9F79] = hx("000000010000");
  d.data[0x9F78] = hx("000000005000");
  d.logFormat = hx("9A039F02069C019F3602");
  return d;
}

Bytes cmd(const char* hex, const Bytes& d = Bytes()) {
  Bytes b = hx(hex);
  append(b, d);
  return b;
}
Bytes dataOf(const Bytes& r) { return Bytes(r.begin(), r.end() - 2); }
Bytes get(const Bytes& r, unsigned tag) {
  Bytes v;
  tlv::find(dataOf(r), tag, v);
  return v;
}

// PDOL data: qualifiers, amount, other, country, TVR, currency, date, type, number.
Bytes pdolData(const char* amount, uint8_t type, uint8_t ttq = 0x20) {
  Bytes p{ttq, 0, 0, 0};
  append(p, hx(amount));
  append(p, hx("000000000000 0156 0000000000 0156 260315"));
  p.push_back(type);
  append(p, hx("01020304"));
  Bytes c = hx("80A80000");
  c.push_back(uint8_t(p.size() + 2));
  c.push_back(0x83);
  c.push_back(uint8_t(p.size()));
  append(c, p);
  return c;
}

TEST(BankCardDirectories, PaymentDirectoryCanNameADirectoryFile) {
  BankCardData d = data(false);
  d.ddfName = hx("D15600000145");
  BankCard c(d);
  c.reset();
  ASSERT_EQ(0x9000u, swOf(c.command(cmd("00A404000E", Bytes{'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'}))));
  Bytes r = c.command(hx("00B2010C00"));
  EXPECT_EQ(hx("D15600000145"), get(r, 0x9D));
  Bytes fci = c.command(hx("00A4040006D15600000145"));
  EXPECT_EQ(hx("02"), get(fci, 0x88));
  r = c.command(hx("00B2011400"));
  EXPECT_EQ(hx("A000000333010101"), get(r, 0x4F));
  EXPECT_EQ(hx("6A83"), c.command(hx("00B2021400")));
}

TEST(BankCardDirectories, ProximityDirectoryOnlyForQpbocCards) {
  const Bytes ppse = cmd("00A404000E", Bytes{'2', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'});
  BankCard q(data(true));
  q.reset();
  Bytes r = q.command(ppse);
  Bytes entry;
  ASSERT_TRUE(tlv::find(get(r, 0xBF0C), 0x4F, entry));
  EXPECT_EQ(hx("A000000333010101"), entry);
  BankCard plain(data(false));
  plain.reset();
  EXPECT_EQ(hx("6A82"), plain.command(ppse));
}

TEST(BankCardQpboc, ContactlessPurchaseWithinBalanceIsApprovedAndDebited) {
  BankCard c(data());
  c.setContactless(true);
  c.reset();
  c.command(hx("00A4040008A000000333010101"));
  Bytes r = c.command(pdolData("000000001000", 0x00));
  ASSERT_EQ(0x9000u, swOf(r));
  EXPECT_EQ(hx("40"), get(r, 0x9F27));
  EXPECT_EQ(hx("000000009000"), get(r, 0x9F5D));
  EXPECT_EQ(8u, get(r, 0x9F26).size());
  EXPECT_FALSE(get(r, 0x57).empty());
  EXPECT_TRUE(get(r, 0x9F4B).empty());  // no card key: no fDDA signature
  EXPECT_EQ(hx("000000009000"), c.data().data.at(0x9F79));
  ASSERT_EQ(1u, c.data().log.size());
  EXPECT_EQ(hx("260315 000000001000 00 0001"), c.data().log[0]);
  EXPECT_EQ(c.data().log[0], dataOf(c.command(hx("00B2015C00"))));
  EXPECT_EQ(hx("9F4F0A9A039F02069C019F3602 9000"), c.command(hx("80CA9F4F00")));
}

TEST(BankCardQpboc, OtherCasesGoOnlineAndContactIgnoresQpboc) {
  BankCard c(data());
  c.setContactless(true);
  c.reset();
  c.command(hx("00A4040008A000000333010101"));
  EXPECT_EQ(hx("80"), get(c.command(pdolData("000000020000", 0x00)), 0x9F27));  // over the balance
  c.command(hx("00A4040008A000000333010101"));
  EXPECT_EQ(hx("80"), get(c.command(pdolData("000000006000", 0x00)), 0x9F27));  // over the limit
  c.command(hx("00A4040008A000000333010101"));
  EXPECT_EQ(hx("80"), get(c.command(pdolData("000000000100", 0x01)), 0x9F27));  // cash
  EXPECT_EQ(hx("000000010000"), c.data().data.at(0x9F79));
  EXPECT_TRUE(c.data().log.empty());
  BankCard contact(data());
  contact.reset();
  contact.command(hx("00A4040008A000000333010101"));
  Bytes r = contact.command(pdolData("000000001000", 0x00));
  EXPECT_TRUE(get(r, 0x9F26).empty());
  EXPECT_EQ(hx("7C00"), get(r, 0x82));
  // Without the qPBOC qualifier the contactless card answers the usual way.
  c.command(hx("00A4040008A000000333010101"));
  EXPECT_TRUE(get(c.command(pdolData("000000001000", 0x00, 0x00)), 0x9F26).empty());
}

TEST(BankCardSignatures, InternalAuthenticateSignsTheTerminalData) {
  BankCardData d = data();
  d.icc = crypto::generateRsa(768, 65537);
  BankCard c(d);
  c.reset();
  EXPECT_EQ(hx("6985"), c.command(hx("0088000004 01020304")));  // nothing selected
  c.command(hx("00A4040008A000000333010101"));
  Bytes r = c.command(hx("0088000004 01020304"));
  Bytes sdad = get(r, 0x80);
  ASSERT_EQ(96u, sdad.size());
  Bytes x = crypto::rsaPublic(d.icc, sdad);
  EXPECT_EQ(hx("6A 05 01 09 08"), Bytes(x.begin(), x.begin() + 5));
  EXPECT_EQ(0xBB, x[14]);
  EXPECT_EQ(0xBC, x.back());
  Bytes hashed(x.begin() + 1, x.end() - 21);
  append(hashed, hx("01020304"));
  EXPECT_EQ(crypto::sha1(hashed), Bytes(x.end() - 21, x.end() - 1));
  BankCard without(data());
  without.reset();
  without.command(hx("00A4040008A000000333010101"));
  EXPECT_EQ(hx("6D00"), without.command(hx("0088000004 01020304")));
}

TEST(BankCardSignatures, PersonalisationChainsCaIssuerAndCard) {
  BankCardData d = data();
  OdaKeys k;
  k.ca = crypto::generateRsa(1024, 3);
  k.issuer = crypto::generateRsa(896, 3);
  k.icc = crypto::generateRsa(768, 65537);
  k.caIndex = 0x57;
  personaliseOda(d, k, "6217000012345678907");
  EXPECT_EQ(hx("08010201 10010100 18010300"), d.afl);
  Bytes v;
  ASSERT_TRUE(tlv::find(d.records[{3, 1}], 0x8F, v));
  EXPECT_EQ(hx("57"), v);
  ASSERT_TRUE(tlv::find(d.records[{3, 1}], 0x90, v));
  Bytes x = crypto::rsaPublic(k.ca, v);
  EXPECT_EQ(hx("6A 02 621700FF 1249 000001 01 01 70 01"), Bytes(x.begin(), x.begin() + 15));
  EXPECT_EQ(Bytes(k.issuer.n.begin(), k.issuer.n.begin() + 15), Bytes(x.begin() + 15, x.begin() + 30));
  ASSERT_TRUE(tlv::find(d.records[{3, 1}], 0x92, v));  // the issuer key does not fit whole
  EXPECT_EQ(size_t(112 - (128 - 36)), v.size());
  ASSERT_TRUE(tlv::find(d.records[{3, 2}], 0x9F46, v));
  x = crypto::rsaPublic(k.issuer, v);
  EXPECT_EQ(hx("6A 04 6217000012345678907F 1249 000002 01 01 60 03"), Bytes(x.begin(), x.begin() + 21));
  ASSERT_TRUE(tlv::find(d.records[{3, 3}], 0x93, v));
  x = crypto::rsaPublic(k.issuer, v);
  EXPECT_EQ(hx("6A 03 01 DAC1 BB"), Bytes(x.begin(), x.begin() + 6));
  // The signed static data: record 1 of SFI 1 (content) and the AIP.
  Bytes sad = staticAuthData(d);
  Bytes rec = d.records[{1, 1}];
  EXPECT_EQ(Bytes(rec.begin() + 2, rec.end()), Bytes(sad.begin(), sad.end() - 2));
  EXPECT_EQ(hx("7C00"), Bytes(sad.end() - 2, sad.end()));
  EXPECT_EQ(k.icc.n, d.icc.n);
}

TEST(BankCardIssuer, ArpcDecidesTheSecondCryptogram) {
  BankCardData d = data(false);
  d.cdol1 = hx("9F0206");
  d.cdol2 = hx("8A02");
  for (bool right : {true, false}) {
    BankCard c(d);
    c.reset();
    c.command(hx("00A4040008A000000333010101"));
    ASSERT_EQ(0x9000u, swOf(c.command(pdolData("000000000100", 0x00))));
    Bytes ac1 = c.command(hx("80AE800006 000000000100 00"));
    Bytes arqc = get(ac1, 0x80);
    ASSERT_EQ(0x80, arqc[0]);
    Bytes in = Bytes(arqc.begin() + 3, arqc.begin() + 11);
    in[0] ^= '0';
    in[1] ^= '0';
    crypto::Block b = crypto::encryptBlock(d.key, in.data());
    Bytes ext = cmd("008200000A", Bytes(b.begin(), b.end()));
    append(ext, hx("3030"));
    if (!right) ext[5] ^= 0x01;
    EXPECT_EQ(right ? hx("9000") : hx("6300"), c.command(ext));
    Bytes ac2 = c.command(hx("80AE400002 3030 00"));
    EXPECT_EQ(right ? 0x40 : 0x00, get(ac2, 0x80)[0]);
    EXPECT_EQ(right ? 1u : 0u, c.data().log.size());
  }
}

TEST(BankCardIssuer, ScriptsAfterTheFirstCryptogram) {
  BankCardData d = data(false);
  d.cdol1 = hx("9F0206");
  BankCard c(d);
  c.reset();
  c.command(hx("00A4040008A000000333010101"));
  EXPECT_EQ(hx("6985"), c.command(hx("04DA9F790A 000000020000 01020304")));
  c.command(pdolData("000000000100", 0x00));
  c.command(hx("80AE800006 000000000100 00"));
  EXPECT_EQ(hx("9000"), c.command(hx("04DA9F790A 000000020000 01020304")));
  EXPECT_EQ(hx("9F7906000000020000 9000"), c.command(hx("80CA9F7909")));
  EXPECT_EQ(hx("6700"), c.command(hx("84DA9F7904 01020304")));
  EXPECT_EQ(hx("6D00"), c.command(hx("841E000004 01020304")));
  EXPECT_EQ(hx("63C2"), c.command(hx("0020008008 241234FFFFFFFFFF")));
  EXPECT_EQ(hx("9000"), c.command(hx("8424000004 01020304")));
  EXPECT_EQ(hx("9F170103 9000"), c.command(hx("80CA9F1704")));
}

}  // namespace
