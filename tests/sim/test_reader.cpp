// The firmware model: units by node address, waits, the ID-card module.
#include <gtest/gtest.h>

#include "reader.h"
#include "samframe.h"
#include "textconv.h"

using namespace vr;

namespace {

struct ReaderTest : ::testing::Test {
  void SetUp() override {
    std::string dir = getenv("HW_SOURCE_DIR") ? getenv("HW_SOURCE_DIR") : ".";
    std::string err;
    ASSERT_TRUE(loadProfile(dir + "/sim/profiles/demo.json", profile, err)) << err;
    reader.load(profile);
  }
  Bytes run(uint8_t nad, const char* hex, int64_t now = 0) {
    Outcome o = reader.execute(nad, hx(hex), now);
    EXPECT_FALSE(o.waits) << hex;
    return o.reply;
  }
  Profile profile;
  Reader reader;
};

}  // namespace

TEST_F(ReaderTest, SystemUnitVersionSerialBeepLed) {
  Bytes v = run(0, "0019000000");
  EXPECT_EQ(std::string(v.begin(), v.end() - 2), "VREADER-FW 1.4.0");
  Bytes sn = run(0, "0019010114");
  ASSERT_EQ(sn.size(), 22u);
  EXPECT_EQ(std::string(sn.begin(), sn.begin() + 12), "VR2026000001");
  EXPECT_EQ(sn[12], 0);
  EXPECT_EQ(run(0, "00190102 03 414243"), hx("6985"));  // not erased first
  EXPECT_EQ(run(0, "001901EE02"), hx("9000"));
  EXPECT_EQ(run(0, "00190102 03 414243"), hx("9000"));
  sn = run(0, "0019010114");
  EXPECT_EQ(Bytes(sn.begin(), sn.begin() + 4), hx("41424300"));
  EXPECT_EQ(run(0, "00190102 04 414243"), hx("6700"));
  EXPECT_EQ(run(0, "B0F2000200"), hx("9000"));
  EXPECT_EQ(run(0, "B017002300 05"), hx("9000"));
  EXPECT_EQ(run(0, "B017002300"), hx("6700"));
  EXPECT_NE(reader.stateJson().find("\"beeps\":1,\"last_beep\":2,\"led\":5"), std::string::npos);
  EXPECT_EQ(run(0, "00EE000000"), hx("6D00"));
  EXPECT_EQ(run(0x1D, "0019000000"), hx("6A81"));
}

TEST_F(ReaderTest, SlotsResetCardsAndPassApdus) {
  Bytes atr = run(0x12, "0012000000");
  EXPECT_EQ(atr, hx("3B6C00000A1A2B3C4D5E6F708192A3B4C5D6 9000"));
  EXPECT_TRUE(reader.powered(0x12));
  EXPECT_EQ(run(0x12, "8017000001"), hx("9000"));
  EXPECT_EQ(run(0x12, "0059000001"), hx("01 9000"));
  EXPECT_EQ(run(0x12, "00A4020002EF05"), hx("6A82"));  // the card answers: no application selected
  EXPECT_EQ(run(0x12, "0015000000"), hx("9000"));
  EXPECT_EQ(run(0x12, "00A4020002EF05"), hx("6FF3"));
  EXPECT_EQ(run(0x15, "0012000000"), hx("6FF0"));
  EXPECT_EQ(run(0x17, "0012000000"), hx("6FF0"));
  std::string err;
  ASSERT_TRUE(reader.remove("contact", err));
  EXPECT_EQ(run(0x12, "8017000001"), hx("6FF0"));
  ASSERT_TRUE(reader.insert("psam3", "psam", err));
  EXPECT_EQ(swOf(run(0x18, "0012000000")), 0x9000u);
  EXPECT_FALSE(reader.insert("psam3", "nothing", err));
  EXPECT_FALSE(reader.insert("slot9", "psam", err));
  EXPECT_FALSE(reader.insert("idcard", "psam", err));
  EXPECT_FALSE(reader.insert("contact", "id_li", err));
}

TEST_F(ReaderTest, MemoryAndMifareCardsAnswerReaderCommands) {
  std::string err;
  ASSERT_TRUE(reader.insert("contact", "memory", err));
  ASSERT_TRUE(reader.insert("contactless", "mifare", err));
  EXPECT_EQ(run(0x12, "0059000001"), hx("02 9000"));
  EXPECT_EQ(run(0x12, "00B0000004"), hx("48574D45 9000"));
  EXPECT_EQ(run(0x12, "B017202001"), hx("03 9000"));
  EXPECT_EQ(run(0x15, "8011090000"), hx("A1B2C3D4 9000"));
  EXPECT_EQ(run(0x15, "8011020008 6004 FFFFFFFFFFFF"), hx("9000"));
  EXPECT_EQ(run(0x15, "8011030001 04"), hx("00112233445566778899AABBCCDDEEFF 9000"));
}

TEST_F(ReaderTest, KeypadWaitsForKeysAndTimesOut) {
  Outcome o = reader.execute(0, hx("00F9080A03001B49"), 1000);
  ASSERT_TRUE(o.waits);
  EXPECT_EQ(o.deadlineMs, 1000 + 10000);
  EXPECT_EQ(reader.waiting(), WaitKind::Keys);
  EXPECT_FALSE(reader.expire(10999));
  auto r = reader.typeKeys("1234");
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, hx("04 31323334 0D 9000"));
  EXPECT_EQ(reader.waiting(), WaitKind::None);
  reader.setTimeScale(0.01);
  o = reader.execute(0, hx("00F9080A03001B49"), 0);
  EXPECT_EQ(o.deadlineMs, 100);
  auto t = reader.expire(100);
  ASSERT_TRUE(t);
  EXPECT_EQ(*t, hx("6902"));
  // keys typed before the wait are kept for it; cancel discards them
  EXPECT_FALSE(reader.typeKeys("9"));
  EXPECT_EQ(run(0, "00F9080603001B49"), hx("01 39 0D 9000"));
  EXPECT_FALSE(reader.typeKeys("8"));
  EXPECT_EQ(run(0, "B0F9000001 83"), hx("9000"));
  EXPECT_TRUE(reader.execute(0, hx("00F9080603001B49"), 0).waits);
  EXPECT_EQ(run(0, "00F9080603"), hx("6700"));
}

TEST_F(ReaderTest, StripeSwipeTracksAndClear) {
  EXPECT_EQ(run(0x1A, "8017030600"), hx("9000"));
  EXPECT_EQ(run(0x1A, "0019060100"), hx("9000"));
  Outcome o = reader.execute(0x1A, hx("0019201400"), 0);
  ASSERT_TRUE(o.waits);
  EXPECT_EQ(o.deadlineMs, 20000);
  auto r = reader.swipe(profile.stripes.at("bank"));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, hx("9000"));
  Bytes t2 = run(0x1A, "00B0020000");
  EXPECT_EQ(std::string(t2.begin(), t2.end() - 2), ";6222020012345671=30122201234567890");
  EXPECT_EQ(run(0x1A, "00B0030000"), hx("9000"));
  EXPECT_EQ(run(0x1A, "00B0040000"), hx("6A86"));
  EXPECT_EQ(run(0x1A, "0019210000"), hx("9000"));
  EXPECT_EQ(run(0x1A, "00B0020000"), hx("9000"));
  // a swipe ahead of the wait is kept for it
  EXPECT_FALSE(reader.swipe(profile.stripes.at("bank3")));
  EXPECT_EQ(run(0x1A, "0019201400"), hx("9000"));
  Bytes t3 = run(0x1A, "00B0030000");
  EXPECT_EQ(t3.size(), profile.stripes.at("bank3").track3.size() + 2);
  EXPECT_EQ(run(0x1A, "8017030200"), hx("9000"));
  EXPECT_EQ(run(0x1A, "00B0030000"), hx("9000"));  // track 3 no longer read
}

TEST_F(ReaderTest, ScannerIntervalModeAndCodes) {
  EXPECT_EQ(run(0x1C, "8017030100"), hx("9000"));
  EXPECT_EQ(run(0x1C, "8017030200"), hx("6A86"));
  Bytes set = hx("B0D000000E");
  append(set, std::string("FP-3N010=0500;"));
  EXPECT_EQ(reader.execute(0x1C, set, 0).reply, hx("9000"));
  set[4] = 0x00;  // the driver's form with Lc 00
  set[17] = '9';
  EXPECT_EQ(reader.execute(0x1C, set, 0).reply, hx("9000"));
  EXPECT_NE(reader.stateJson().find("\"interval\":509"), std::string::npos);
  set[10] = 'X';
  EXPECT_EQ(reader.execute(0x1C, set, 0).reply, hx("6A80"));
  Outcome o = reader.execute(0x1C, hx("B0B0001E00"), 0);
  ASSERT_TRUE(o.waits);
  EXPECT_EQ(o.deadlineMs, 30000);
  auto r = reader.present(Bytes{'A', 'B'});
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, hx("4142 9000"));
  EXPECT_FALSE(reader.present(Bytes{'C'}));
  EXPECT_EQ(run(0x1C, "00B0000300"), hx("43 9000"));  // the driver's scan command
}

TEST_F(ReaderTest, IdModuleReadsTextAndPhotoInTheFrameLayout) {
  EXPECT_EQ(run(0x1B, "AAAAAA9669000312FFEE"), hx("6FF3"));  // not powered
  EXPECT_EQ(run(0x1B, "0012000000"), hx("9000"));
  Bytes id = run(0x1B, "AAAAAA9669000312FFEE00");
  EXPECT_EQ(swOf(id), 0x9000u);
  EXPECT_EQ(id[9], 0x90);
  EXPECT_EQ(swOf(run(0x1B, "AAAAAA9669000461FF78E2")), 0x9000u);
  EXPECT_EQ(run(0x1B, "AAAAAA9669000330013200"), hx("AAAAAA9669 0004 000041 45 6F41"));  // read before find
  Bytes find = run(0x1B, "AAAAAA96690003200122");
  EXPECT_EQ(find, hx("AAAAAA9669 0008 00009F 00000000 97 9000"));
  EXPECT_EQ(swOf(run(0x1B, "AAAAAA96690003200221")), 0x9000u);
  Bytes rd = run(0x1B, "AAAAAA96690003300132");
  ASSERT_EQ(rd.size(), 1297u);
  EXPECT_EQ(Bytes(rd.begin() + 5, rd.begin() + 14), hx("0508 000090 0100 0400"));
  std::string name;
  ASSERT_TRUE(text::ucs2leToUtf8(&rd[14], 4, name));
  EXPECT_EQ(name, "李四");
  std::string number;
  ASSERT_TRUE(text::ucs2leToUtf8(&rd[14 + 122], 36, number));
  EXPECT_EQ(number, "440305199202284568");
  EXPECT_EQ(rd[14 + 30], '1');
  EXPECT_EQ(swOf(rd), 0x9000u);
  uint8_t x = 0;
  for (size_t i = 5; i < rd.size() - 3; ++i) x ^= rd[i];
  EXPECT_EQ(x, rd[rd.size() - 3]);
  EXPECT_EQ(run(0x1B, "AAAAAA9669000312FFEF"), hx("AAAAAA9669 0004 000010 14 6F10"));
}

TEST_F(ReaderTest, IdModuleWithoutCardFailsAtFind) {
  std::string err;
  ASSERT_TRUE(reader.remove("idcard", err));
  run(0x1B, "0012000000");
  EXPECT_EQ(run(0x1B, "AAAAAA96690003200122"), hx("AAAAAA9669 0004 000080 84 6F80"));
  EXPECT_EQ(run(0x1B, "AAAAAA96690003200221"), hx("AAAAAA9669 0004 000081 85 6F81"));
  IdReadResult r = reader.readIdCard();
  EXPECT_EQ(r.status, 0x80);
}

TEST_F(ReaderTest, VendorIdReadReturnsTextPhotoAndCardType) {
  std::string err;
  ASSERT_TRUE(reader.insert("idcard", "id_foreign", err));
  IdReadResult r = reader.readIdCard();
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.text.size(), 256u);
  EXPECT_EQ(r.photo.size(), 1024u);
  EXPECT_EQ(r.text[248], 'I');
  EXPECT_EQ(r.text[249], 0);
}
