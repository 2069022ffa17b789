// Profiles: what loads, what is refused and why.
#include <gtest/gtest.h>

#include "profile.h"
#include "sscard.h"

using namespace vr;

namespace {
std::string withCard(const std::string& card) {
  return std::string(R"({"cards": {"c": )") + card + "}}";
}
}  // namespace

TEST(Profile, DemoLoadsEveryKindWithValidNumbers) {
  std::string dir = getenv("HW_SOURCE_DIR") ? getenv("HW_SOURCE_DIR") : ".";
  Profile p;
  std::string err;
  ASSERT_TRUE(loadProfile(dir + "/sim/profiles/demo.json", p, err)) << err;
  for (const char* k : {"ss3", "ss2", "ss1", "psam", "bank", "memory", "mifare", "id_li"})
    EXPECT_TRUE(p.cards.count(k)) << k;
  EXPECT_EQ(p.slots.at("contact"), "ss3");
  EXPECT_EQ(p.cards.at("id_li").id->photo.size(), 1024u);
  EXPECT_TRUE(idNumberValid(p.cards.at("id_li").id->number));
  EXPECT_EQ(p.qrcodes.count("ecard"), 1u);
  Profile e;
  ASSERT_TRUE(loadProfile("empty", e, err)) << err;  // found by name in the profile folder
  EXPECT_TRUE(e.cards.empty());
}

TEST(Profile, CheckCharacterFollowsModEleven) {
  EXPECT_EQ(idCheckChar("11010519900307281"), '3');
  EXPECT_EQ(idCheckChar("44030519920228456"), '8');
  EXPECT_EQ(idCheckChar("1101051990030728"), '?');
  EXPECT_EQ(idCheckChar("1101051990030728A"), '?');
  EXPECT_FALSE(idNumberValid("110105199003072812"));
}

TEST(Profile, RefusesBadInputWithTheMemberAtFault) {
  struct Case {
    std::string json, needle;
  } cases[] = {
      {"[1,2]", "not a JSON object"},
      {"{", "not a JSON object"},
      {withCard(R"({"type": "toaster"})"), "unknown type"},
      {withCard(R"({"type": "social_security", "card_no": "A1", "social_no": "110105199003072813"})"), "cert_id"},
      {withCard(R"({"type": "social_security", "cert_id": "1101", "card_no": "A1", "social_no": "110105199003072813"})"),
       "cert_id must be 16 bytes"},
      {withCard(R"({"type": "social_security", "cert_id": "110100D15600000503A1B2C3D4E5F607", "card_no": "A1", "social_no": "110105199003072812"})"),
       "check digit"},
      {withCard(R"({"type": "social_security", "generation": 4, "cert_id": "110100D15600000503A1B2C3D4E5F607", "card_no": "A1", "social_no": "110105199003072813"})"),
       "generation"},
      {withCard(R"({"type": "social_security", "atr": "3B", "cert_id": "110100D15600000503A1B2C3D4E5F607", "card_no": "A1", "social_no": "110105199003072813"})"),
       "atr must be 2 to 33 bytes"},
      {withCard(R"({"type": "psam", "key_internal": "00"})"), "key_internal"},
      {withCard(R"({"type": "pboc", "pan": "12ab"})"), "pan"},
      {withCard(R"({"type": "idcard", "number": "440305199202284568", "name": "一二三四五六七八九十一二三四五六"})"),
       "name does not fit"},
      {withCard(R"({"type": "idcard", "number": "440305199202284568", "photo": "!!!!"})"), "photo"},
      {R"({"cards": {}, "slots": {"contact": "ghost"}})", "no card named ghost"},
      {withCard(R"({"type": "psam"})").insert(1, R"("slots": {"drawer": "c"}, )"), "unknown slot"},
      {withCard(R"({"type": "psam"})").insert(1, R"("slots": {"idcard": "c"}, )"), "idcard antenna"},
      {R"({"reader": {"serial": "012345678901234567890"}})", "serial"},
  };
  for (auto& c : cases) {
    Profile p;
    std::string err;
    EXPECT_FALSE(parseProfile(c.json, p, err)) << c.json;
    EXPECT_NE(err.find(c.needle), std::string::npos) << c.json << " -> " << err;
  }
  Profile p;
  std::string err;
  EXPECT_FALSE(loadProfile("/nonexistent/profile.json", p, err));
  EXPECT_NE(err.find("cannot read"), std::string::npos);
}

TEST(Profile, RecordOverridesReplaceAndRemoveRecords) {
  std::string json = withCard(R"({"type": "social_security", "cert_id": "110100D15600000503A1B2C3D4E5F607",
    "card_no": "A10000001", "social_no": "110105199003072813", "t0": false,
    "records": {"EF05": {"07": "41414141414141414141"}, "EF06": {"0D": ""}}})");
  Profile p;
  std::string err;
  ASSERT_TRUE(parseProfile(json, p, err)) << err;
  auto card = p.cards.at("c").make();
  card->reset();
  Bytes sel = hx("00A404000F");
  append(sel, ssDfName('1'));
  EXPECT_EQ(swOf(card->command(sel)), 0x9000u);  // t0 false: the FCI comes at once
  EXPECT_EQ(card->command(hx("00A4020002EF05")), hx("9000"));
  EXPECT_EQ(card->command(hx("00B207000B")), hx("6C0C"));
  EXPECT_EQ(card->command(hx("00B207000C")), hx("070A 41414141414141414141 9000"));
  EXPECT_EQ(card->command(hx("00A4020002EF06")), hx("9000"));
  EXPECT_EQ(card->command(hx("00B20D0006")), hx("6A83"));
}

TEST(Profile, SocialSecurityCardWithATwoByteAnswerToReset) {
  std::string json = withCard(R"({"type": "social_security", "atr": "3B00",
    "cert_id": "110100D15600000503A1B2C3D4E5F607", "card_no": "A10000001", "social_no": "110105199003072813"})");
  Profile p;
  std::string err;
  ASSERT_TRUE(parseProfile(json, p, err)) << err;
  auto card = p.cards.at("c").make();
  EXPECT_EQ(card->reset(), hx("3B00"));
  Bytes sel = hx("00A404000F");
  append(sel, ssDfName('1'));
  EXPECT_EQ(swOf(card->command(sel)) & 0xFF00u, 0x6100u);  // the application answers
  EXPECT_EQ(card->command(hx("00A4020002EF05")), hx("9000"));
}
