// Card models through known exchanges.
#include <gtest/gtest.h>

#include <cstring>

#include "bankcard.h"
#include "memcards.h"
#include "profile.h"
#include "sscard.h"
#include "tlv.h"

using namespace vr;

namespace {

Profile demo() {
  Profile p;
  std::string err;
  std::string dir = getenv("HW_SOURCE_DIR") ? getenv("HW_SOURCE_DIR") : ".";
  EXPECT_TRUE(loadProfile(dir + "/sim/profiles/demo.json", p, err)) << err;
  return p;
}

std::unique_ptr<Card> make(const Profile& p, const std::string& name) { return p.cards.at(name).make(); }

Bytes cmd(const char* hex, const Bytes& data = Bytes()) {
  Bytes b = hx(hex);
  append(b, data);
  return b;
}

// Sends a command and completes a 61 xx answer with GET RESPONSE.
Bytes send(Card& c, const Bytes& apdu) {
  Bytes r = c.command(apdu);
  if (r.size() == 2 && r[0] == 0x61) r = c.command(Bytes{0x00, 0xC0, 0x00, 0x00, r[1]});
  return r;
}

Bytes dataOf(const Bytes& r) { return Bytes(r.begin(), r.end() - 2); }

// The social-security authentication as a reading host performs it.
struct AuthRun {
  unsigned internalSw = 0, externalSw = 0;
  bool internalMatches = false;
  int generation = 0;
};

AuthRun authenticate(Card& card, Card& psam) {
  AuthRun run;
  Bytes atr = card.reset();
  Bytes fci = send(card, cmd("00A404000F", ssDfName('1')));
  EXPECT_EQ(swOf(fci), 0x9000u);
  Bytes gen;
  bool tag86 = tlv::find(dataOf(fci), 0x86, gen);
  EXPECT_EQ(send(card, cmd("00A4020002EF05")), hx("9000"));
  Bytes rec1 = send(card, cmd("00B2010012"));
  Bytes rec3 = send(card, cmd("00B2030006"));
  EXPECT_EQ(swOf(rec1), 0x9000u);
  std::string cert = toHex(&rec1[2], 16);
  run.generation = tag86 ? gen[0] : cert.compare(0, 2, "11") == 0 ? 2 : 1;
  std::string region = cert.substr(0, 6);
  bool v3 = rec3[2] > '2';
  Bytes rand1 = hx("1111111111111111"), rand2 = hx("2222222222222222"), rand3 = hx("3333333333333333");
  Bytes ia = send(card, cmd("0088000010", Bytes()) );  // wrong length first: refused
  EXPECT_EQ(swOf(ia), 0x6700u);
  Bytes both = rand1;
  append(both, rand2);
  ia = send(card, cmd("0088000010", both));
  Bytes challenge;
  if (v3) {
    Bytes ch = card.command(cmd("0084000008"));
    EXPECT_EQ(swOf(ch), 0x9000u);
    challenge = dataOf(ch);
  }
  // PSAM side
  psam.reset();
  EXPECT_EQ(swOf(send(psam, cmd("00A404000F", ssDfName(char('0' + run.generation))))), 0x9000u);
  EXPECT_EQ(swOf(send(psam, cmd("00A4000002DF01"))), 0x9000u);
  Bytes div = ssCardDiversifier(atr, region);
  append(div, rand1);
  if (run.generation != 1) append(div, Bytes(8, 0));
  Bytes c1 = hx("BFDE6708");
  c1.push_back(uint8_t(div.size()));
  append(c1, div);
  EXPECT_EQ(psam.command(c1), hx("9000"));
  Bytes enc = rand2;
  if (run.generation != 1) append(enc, Bytes(8, 0));
  Bytes c2 = hx("80FA0000");
  c2.push_back(uint8_t(enc.size()));
  append(c2, enc);
  Bytes pr = send(psam, c2);
  EXPECT_EQ(swOf(pr), 0x9000u);
  Bytes expect(8);
  for (int i = 0; i < 8; ++i) expect[i] = run.generation == 1 ? pr[i] : uint8_t(pr[i] ^ pr[i + 8]);
  run.internalSw = swOf(ia);
  run.internalMatches = ia.size() >= 10 && Bytes(ia.begin(), ia.begin() + 8) == expect;
  if (!v3) return run;
  Bytes ediv = ssCardDiversifier(atr, region);
  append(ediv, challenge);
  append(ediv, Bytes(8, 0));
  Bytes c3 = hx("BFDE670A28");
  append(c3, ediv);
  EXPECT_EQ(psam.command(c3), hx("9000"));
  Bytes c4 = hx("80FA000010");
  append(c4, rand3);
  append(c4, Bytes(8, 0));
  Bytes er = send(psam, c4);
  Bytes crypt(8);
  for (int i = 0; i < 8; ++i) crypt[i] = uint8_t(er[i] ^ er[i + 8]);
  Bytes ext = hx("0082000A10");
  append(ext, crypt);
  append(ext, rand3);
  run.externalSw = swOf(card.command(ext));
  return run;
}

}  // namespace

TEST(SocialSecurityCard, GenerationThreeAndItsPsamAuthenticateBothWays) {
  Profile p = demo();
  auto card = make(p, "ss3");
  auto psam = make(p, "psam");
  AuthRun run = authenticate(*card, *psam);
  EXPECT_EQ(run.generation, 3);
  EXPECT_EQ(run.internalSw, 0x9000u);
  EXPECT_TRUE(run.internalMatches);
  EXPECT_EQ(run.externalSw, 0x9000u);
}

TEST(SocialSecurityCard, PsamWithAnotherKeyGivesADifferentInternalResult) {
  Profile p = demo();
  auto card = make(p, "ss3");
  auto psam = make(p, "psam_other");
  AuthRun run = authenticate(*card, *psam);
  EXPECT_EQ(run.internalSw, 0x9000u);
  EXPECT_FALSE(run.internalMatches);
  EXPECT_EQ(run.externalSw, 0x6300u);
}

TEST(SocialSecurityCard, GenerationsOneAndTwoAreRecognisedAndMatch) {
  Profile p = demo();
  for (auto [name, gen] : {std::pair<const char*, int>{"ss2", 2}, {"ss1", 1}}) {
    auto card = make(p, name);
    auto psam = make(p, "psam");
    AuthRun run = authenticate(*card, *psam);
    EXPECT_EQ(run.generation, gen) << name;
    EXPECT_TRUE(run.internalMatches) << name;
    EXPECT_EQ(run.externalSw, 0u) << name;  // versions below 3 have no external authentication
  }
}

TEST(SocialSecurityCard, T0AnswersAndWrongLe) {
  Profile p = demo();
  auto card = make(p, "ss3");
  card->reset();
  Bytes r = card->command(cmd("00A404000F", ssDfName('1')));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], 0x61);
  uint8_t n = r[1];
  EXPECT_EQ(card->command(Bytes{0x00, 0xC0, 0x00, 0x00, uint8_t(n + 1)}), (Bytes{0x6C, n}));
  Bytes fci = card->command(Bytes{0x00, 0xC0, 0x00, 0x00, n});
  EXPECT_EQ(fci.size(), size_t(n) + 2);
  EXPECT_EQ(Bytes(fci.begin(), fci.begin() + 4), hx("6F1A840F"));
  EXPECT_NE(toHex(fci).find("860103"), std::string::npos);
  EXPECT_EQ(card->command(hx("00C0000010")), hx("6985"));  // nothing pending any more
  EXPECT_EQ(card->command(hx("00B207000B")), hx("6986"));  // no EF yet
  EXPECT_EQ(card->command(hx("00A4020002EF05")), hx("9000"));
  EXPECT_EQ(card->command(hx("00B207000C")), hx("6C0B"));
  EXPECT_EQ(card->command(hx("00B207000B")), cmd("0709", Bytes{'A', '1', '0', '0', '0', '0', '0', '0', '1', 0x90, 0x00}));
  EXPECT_EQ(card->command(hx("00B2080014")), hx("6A83"));  // record 8 lives in EF06
  EXPECT_EQ(card->command(hx("00A4020002EF06")), hx("9000"));
  EXPECT_EQ(card->command(hx("00B24E0016")), hx("6A83"));  // no name extension on this card
  Bytes name = card->command(hx("00B2090020"));
  EXPECT_EQ(Bytes(name.begin(), name.begin() + 6), hx("091ED5C5C8FD"));  // 张三 in GBK
  EXPECT_EQ(card->command(hx("00A4020002EF07")), hx("6A82"));
}

TEST(SocialSecurityCard, NameExtensionRecordExistsWhenGiven) {
  Profile p = demo();
  auto card = make(p, "ss3_ext");
  card->reset();
  send(*card, cmd("00A404000F", ssDfName('1')));
  card->command(hx("00A4020002EF06"));
  Bytes r = card->command(hx("00B24E0016"));
  ASSERT_EQ(r.size(), 24u);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), hx("4E14414243"));
  EXPECT_EQ(swOf(r), 0x9000u);
}

TEST(SocialSecurityCard, ExternalAuthenticationNeedsAFreshChallenge) {
  Profile p = demo();
  auto card = make(p, "ss3");
  card->reset();
  Bytes ext = hx("0082000A10 0000000000000000 0102030405060708");
  EXPECT_EQ(card->command(ext), hx("6985"));
  EXPECT_EQ(swOf(card->command(hx("0084000008"))), 0x9000u);
  // a zero random half would make the all-zero cryptogram valid under any key
  EXPECT_EQ(card->command(hx("0082000A10 00000000000000000000000000000000")), hx("6A80"));
  EXPECT_EQ(card->command(ext), hx("6300"));
  EXPECT_EQ(card->command(ext), hx("6985"));  // the challenge was used up
}

TEST(SocialSecurityCard, ChallengesDiffer) {
  Profile p = demo();
  auto card = make(p, "ss3");
  card->reset();
  EXPECT_NE(card->command(hx("0084000008")), card->command(hx("0084000008")));
}

TEST(Psam, RefusesGenerationsItDoesNotHoldAndOutOfOrderCommands) {
  Psam psam(hx("3B00"), "1", crypto::Key{}, crypto::Key{}, hx("0102030405060708090A"), false);
  psam.reset();
  EXPECT_EQ(psam.command(cmd("00A404000F", ssDfName('3'))), hx("6A82"));
  EXPECT_EQ(psam.command(hx("80FA000008 1122334455667788")), hx("6985"));
  EXPECT_EQ(psam.command(hx("BFDE670808 0102030405060708")), hx("6985"));  // DF01 not selected
  EXPECT_EQ(swOf(psam.command(cmd("00A404000F", ssDfName('1')))), 0x9000u);
  EXPECT_EQ(swOf(psam.command(hx("00A4000002DF01"))), 0x9000u);
  EXPECT_EQ(psam.command(hx("BFDE670905 0102030405")), hx("6A86"));
  EXPECT_EQ(psam.command(hx("BFDE670805 0102030405")), hx("6700"));
  EXPECT_EQ(psam.command(hx("00B095010A")), hx("02030405060708090A00 9000"));
}

TEST(BankCard, SelectAndTrackTwoRecordAnswerAsT0Card) {
  Profile p = demo();
  auto card = make(p, "bank");
  card->reset();
  Bytes r = card->command(hx("00A4040008A000000333010101"));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], 0x61);
  Bytes fci = card->command(Bytes{0x00, 0xC0, 0x00, 0x00, r[1]});
  Bytes pdol;
  ASSERT_TRUE(tlv::find(dataOf(fci), 0x9F38, pdol));
  Bytes rec = card->command(hx("00B2010C00"));
  ASSERT_EQ(rec.size(), 2u);
  EXPECT_EQ(rec[0], 0x6C);
  Bytes full = card->command(Bytes{0x00, 0xB2, 0x01, 0x0C, rec[1]});
  std::string h = toHex(dataOf(full));
  size_t at = h.find("571");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(h.substr(at + 4, h.find('D', at + 4) - at - 4), "6217000012345678907");
  EXPECT_EQ(card->command(hx("00B2050C00")), hx("6A83"));
}

TEST(BankCard, PaymentDirectoryGpoRecordsGetDataAndGenerateAc) {
  Profile p = demo();
  auto card = make(p, "bank");
  card->reset();
  EXPECT_EQ(swOf(send(*card, cmd("00A404000E", Bytes{'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'}))), 0x9000u);
  Bytes dir = card->command(hx("00B2010C00"));
  dir = card->command(Bytes{0x00, 0xB2, 0x01, 0x0C, dir[1]});
  Bytes aid;
  ASSERT_TRUE(tlv::find(dataOf(dir), 0x4F, aid));
  EXPECT_EQ(aid, hx("A000000333010101"));
  EXPECT_EQ(card->command(hx("00B2020C00")), hx("6A83"));
  Bytes sel = hx("00A4040008");
  append(sel, aid);
  Bytes fci = send(*card, sel);
  Bytes pdol;
  ASSERT_TRUE(tlv::find(dataOf(fci), 0x9F38, pdol));
  size_t n = tlv::dolLength(pdol);
  EXPECT_EQ(swOf(send(*card, hx("80A80000028300"))), 0x6700u);
  Bytes gpo = hx("80A80000");
  gpo.push_back(uint8_t(n + 2));
  gpo.push_back(0x83);
  gpo.push_back(uint8_t(n));
  append(gpo, Bytes(n, 0));
  Bytes g = send(*card, gpo);
  Bytes afl, aip;
  ASSERT_TRUE(tlv::find(dataOf(g), 0x94, afl));
  ASSERT_TRUE(tlv::find(dataOf(g), 0x82, aip));
  EXPECT_EQ(aip, hx("7C00"));
  // every record the AFL names can be read
  Bytes cdol1;
  for (size_t i = 0; i + 4 <= afl.size(); i += 4) {
    for (int rn = afl[i + 1]; rn <= afl[i + 2]; ++rn) {
      Bytes rr = card->command(Bytes{0x00, 0xB2, uint8_t(rn), uint8_t(afl[i] | 4), 0x00});
      ASSERT_EQ(rr[0], 0x6C);
      rr = card->command(Bytes{0x00, 0xB2, uint8_t(rn), uint8_t(afl[i] | 4), rr[1]});
      ASSERT_EQ(swOf(rr), 0x9000u);
      tlv::find(dataOf(rr), 0x8C, cdol1);
    }
  }
  ASSERT_FALSE(cdol1.empty());
  Bytes bal = card->command(hx("80CA9F7909"));
  EXPECT_EQ(bal, hx("9F7906000000010000 9000"));
  EXPECT_EQ(card->command(hx("80CA9F5000")), hx("6A88"));
  Bytes ac = hx("80AE8000");
  size_t cl = tlv::dolLength(cdol1);
  ac.push_back(uint8_t(cl));
  append(ac, Bytes(cl, 0));
  Bytes a1 = send(*card, ac);
  ASSERT_EQ(swOf(a1), 0x9000u);
  EXPECT_EQ(a1[0], 0x80);
  EXPECT_EQ(a1[2], 0x80);  // ARQC
  Bytes again = send(*card, ac);
  EXPECT_EQ(swOf(again), 0x6700u);  // the second GENERATE AC takes CDOL2 data
}

TEST(BankCard, PinVerificationCountsTries) {
  Profile p = demo();
  auto card = make(p, "bank");
  card->reset();
  send(*card, hx("00A4040008A000000333010101"));
  EXPECT_EQ(card->command(hx("0020000008 26123456FFFFFFFF")), hx("6A86"));
  EXPECT_EQ(card->command(hx("0020008008 2612345FFFFFFFFF")), hx("63C2"));
  EXPECT_EQ(card->command(hx("0020008008 26123456FFFFFFFF")), hx("9000"));
}

TEST(MemoryCard, PinGuardsWritesAndLocksAfterThreeFailures) {
  MemoryCard m(hx("A2131091"), hx("0102"), hx("123456"));
  m.reset();
  EXPECT_EQ(m.command(hx("00B0000004")), hx("0102FFFF 9000"));
  EXPECT_EQ(m.command(hx("00D0001002 AABB")), hx("6982"));
  EXPECT_EQ(m.command(hx("0020000003 123456")), hx("9000"));
  EXPECT_EQ(m.command(hx("00D0001002 AABB")), hx("9000"));
  EXPECT_EQ(m.command(hx("00B0001002")), hx("AABB9000"));
  EXPECT_EQ(m.command(hx("00B000FF02")), hx("6B00"));
  EXPECT_EQ(m.command(hx("0024000006 123456 654321")), hx("9000"));
  for (const char* want : {"63C2", "63C1", "63C0", "6983"})
    EXPECT_EQ(m.command(hx("0020000003 000000")), hx(want));
  EXPECT_EQ(m.command(hx("B017202001")), hx("00 9000"));
}

TEST(MifareCard, AuthenticatedBlocksReadWriteAndCount) {
  MifareCard m(hx("A1B2C3D4"), Bytes());
  EXPECT_EQ(m.command(hx("8011090000")), hx("A1B2C3D4 9000"));
  EXPECT_EQ(m.command(hx("8011030001 04")), hx("6982"));
  EXPECT_EQ(m.command(hx("8011020008 6104 000000000000")), hx("6300"));
  EXPECT_EQ(m.command(hx("8011020008 6004 FFFFFFFFFFFF")), hx("9000"));
  EXPECT_EQ(m.command(hx("8011040011 05 00112233445566778899AABBCCDDEEFF")), hx("9000"));
  EXPECT_EQ(m.command(hx("8011030001 05")), hx("00112233445566778899AABBCCDDEEFF 9000"));
  EXPECT_EQ(m.command(hx("8011050005 06 64000000")), hx("9000"));
  EXPECT_EQ(m.command(hx("8011060005 06 0A000000")), hx("9000"));
  EXPECT_EQ(m.command(hx("8011070005 06 14000000")), hx("9000"));
  EXPECT_EQ(m.command(hx("8011030001 06")), hx("5A000000 A5FFFFFF 5A000000 06F906F9 9000"));
  EXPECT_EQ(m.command(hx("8011070005 06 FF000000")), hx("6A80"));
  EXPECT_EQ(m.command(hx("8011030001 08")), hx("6982"));  // another sector
  EXPECT_EQ(m.command(hx("0015000000")), hx("9000"));
  EXPECT_EQ(m.command(hx("8011030001 05")), hx("6985"));
}
