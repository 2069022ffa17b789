// Social-security card number, identification code and region: the card
// opening, the number read with its retries, and every failure.
#include <cstring>

#include "client_fixture.h"
#include "session.h"

namespace {

struct CardNumber : ClientTest {
  void SetUp() override {
    ClientTest::SetUp();
    std::memset(cardNo, '.', sizeof cardNo - 1);
  }
  char cardNo[12] = {};
};

const char kSelect[] = "12 00A404000F7378312E73682EC9E7BBE1B1A3D5CF";

}  // namespace

TEST_F(CardNumber, ContactCardNumberWithTheExactCommands) {
  start();
  ASSERT_EQ(QMX_ReadCarNo(cardNo, err), 0) << err;
  EXPECT_EQ(std::string(cardNo), "A10000001..");  // nine bytes, nothing more
  Lines log = exchanges();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], "12 0012000000 > 3B6C00000A1A2B3C4D5E6F708192A3B4C5D69000");
  EXPECT_EQ(log[1], std::string(kSelect) + " > 611C");
  EXPECT_EQ(log[2].substr(0, 18), "12 00C000001C > 6F");
  EXPECT_EQ(log[3], "12 00A4020002EF05 > 9000");
  EXPECT_EQ(log[4], "12 00B207000B > 0709413130303030303031" "9000");
  EXPECT_TRUE(sessionOpen());
}

TEST_F(CardNumber, IdentificationCodeIsAppendedAndTheRegionIsItsStart) {
  start();
  char certId[40] = {};
  ASSERT_EQ(QMX_ReadCardCertID(cardNo, certId, err), 0) << err;
  EXPECT_EQ(std::string(cardNo), "A10000001..");
  EXPECT_STREQ(certId, "110100D15600000503A1B2C3D4E5F607");
  Lines cmds = sent();
  ASSERT_EQ(cmds.size(), 7u);
  EXPECT_EQ(Lines(cmds.begin() + 4, cmds.end()),
            (Lines{"12 00B2010012", "12 00B207000B", "12 00B2010012"}));
  char region[8];
  std::memset(region, '.', 7);
  region[7] = 0;
  ASSERT_EQ(QMX_ReadCardCity(region, err), 0) << err;
  EXPECT_STREQ(region, "110100.");
  EXPECT_TRUE(sessionOpen());
}

TEST_F(CardNumber, CardOnlyInTheContactlessSlotIsReadThroughIt) {
  start("dc");
  ctl("remove contact");
  ctl("insert contactless ss3_cl");
  ASSERT_EQ(QMX_ReadCarNo(cardNo, err), 0) << err;
  EXPECT_EQ(std::string(cardNo, 9), "A10000001");
  Lines cmds = sent();
  ASSERT_GE(cmds.size(), 5u);
  EXPECT_EQ(cmds[0], "12 02");  // the contact slot is tried first and is empty
  EXPECT_EQ(cmds[1], "15 03");
  for (size_t i = 2; i < cmds.size(); ++i) EXPECT_EQ(cmds[i].substr(0, 5), "15 05") << cmds[i];
  EXPECT_EQ(cmds.back(), "15 0500B207000B");
}

TEST_F(CardNumber, WrongLeIsRetriedWithTheLowByteOfTheStatus) {
  start();
  ctl("fault sw 6C0B nad=0x12 cmd=00B207");
  ASSERT_EQ(QMX_ReadCarNo(cardNo, err), 0) << err;
  EXPECT_EQ(std::string(cardNo, 9), "A10000001");
  Lines log = exchanges();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[4], "12 00B207000B > 6C0B");
  EXPECT_EQ(log[5].substr(0, 19), "12 00B207000B > 070");
  // A retry that fails as well gives -35.
  clearLog();
  ctl("fault sw 6C0C nad=0x12 cmd=00B207");
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), -35);
  EXPECT_STREQ(err, "读社保卡号错误");
  EXPECT_EQ(sent().back(), "12 00B207000C");
}

TEST_F(CardNumber, MissingRecordGivesMinus36WithoutRetry) {
  start();
  ctl("insert contact ss3_no_card_no");
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), -36);
  EXPECT_STREQ(err, "读社保卡号错误");
  EXPECT_EQ(sent().back(), "12 00B207000B");
  EXPECT_EQ(std::string(cardNo), "...........");
  std::memset(err, 0, sizeof err);
  char certId[40] = {};
  EXPECT_EQ(QMX_ReadCardCertID(cardNo, certId, err), -36);
  EXPECT_STREQ(certId, "");
  EXPECT_TRUE(sessionOpen());
}

TEST_F(CardNumber, HubFailureCodePassesTheBitwiseTestAndIsRetriedWithLeFC) {
  start("dc");
  ctl("insert contact ss3_no_card_no");
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), -35);  // the vendor hub turns 6A83 into -4
  EXPECT_STREQ(err, "读社保卡号错误");
  Lines cmds = sent();
  EXPECT_EQ(Lines(cmds.end() - 2, cmds.end()), (Lines{"12 0400B207000B", "12 0400B20700FC"}));
}

TEST_F(CardNumber, OpeningFailuresGiveTheirCodesAndKeepTheSession) {
  start();
  ctl("remove contact");
  char certId[40] = {}, region[8] = {};
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), -1);
  EXPECT_STREQ(err, "社保卡复位失败!请重新插入社保卡。");
  EXPECT_EQ(sent(), (Lines{"12 0012000000", "15 0012000000"}));  // the contact slot, then the antenna
  EXPECT_EQ(QMX_ReadCardCertID(cardNo, certId, err), -1);
  EXPECT_STREQ(err, "社保卡复位失败!请重新插入社保卡。");
  EXPECT_EQ(QMX_ReadCardCity(region, err), -1);
  EXPECT_STREQ(err, "读取地区编码失败!");
  EXPECT_TRUE(sessionOpen());

  ctl("insert contact ss3");
  ctl("fault sw 6A82 nad=0x12 cmd=00C0");
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), -2);
  EXPECT_STREQ(err, "选择社保应用失败");
  ctl("fault sw 6A82 nad=0x12 cmd=00A4020002EF05");
  EXPECT_EQ(QMX_ReadCarNo(cardNo, err), -3);
  EXPECT_STREQ(err, "选择EF05失败");
  ctl("fault sw 6A82 nad=0x12 cmd=00B201");
  EXPECT_EQ(QMX_ReadCardCertID(cardNo, certId, err), -4);
  EXPECT_STREQ(err, "读取卡识别码失败");
  ctl("fault sw 6581 nad=0x12 cmd=00B201");
  EXPECT_EQ(QMX_ReadCardCity(region, err), -1);
  EXPECT_STREQ(err, "读取地区编码失败!");
  EXPECT_STREQ(certId, "");
  EXPECT_EQ(region[0], 0);
  EXPECT_EQ(std::string(cardNo), "...........");
  EXPECT_TRUE(sessionOpen());
}
