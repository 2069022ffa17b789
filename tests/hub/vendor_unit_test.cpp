// The vendor family against a scripted SDK: answers of impossible lengths,
// parse failures and the SDK's missing translations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_dcrf32.h"
#include "portico.h"

using fake_dc::Answer;
using Calls = std::vector<std::string>;

namespace {

struct Vendor : ::testing::Test {
  void SetUp() override {
    fake_dc::reset();
    DevType = PORTICO_DEV_VENDOR;
    IsDcFeiJie = 0;
  }
  int apdu(const std::vector<unsigned char>& cmd) {
    std::memset(out, 'z', sizeof out);
    len = -9;
    return CPU_Protocol(3, int(cmd.size()), cmd.data(), &len, out);
  }
  unsigned char out[PORTICO_RESPONSE_SIZE + 8];
  int len = -9;
};

std::vector<unsigned char> withSw(size_t n, unsigned sw) {
  std::vector<unsigned char> r(n, 0x11);
  r.push_back(uint8_t(sw >> 8));
  r.push_back(uint8_t(sw));
  return r;
}

}  // namespace

TEST_F(Vendor, AnswerShorterThanItsStatusWordIsALengthFailure) {
  fake_dc::answers = {Answer{0, {0x90}}};
  EXPECT_EQ(apdu({0x00, 0x84, 0x00, 0x00, 0x08}), PORTICO_ERR_LENGTH);
  EXPECT_EQ(len, 1);
  EXPECT_EQ(out[0], 'z');
  fake_dc::answers = {Answer{0, {0x61, 0x08}}, Answer{0, {}}};
  EXPECT_EQ(apdu({0x00, 0x84, 0x00, 0x00, 0x08}), PORTICO_ERR_LENGTH);
  EXPECT_EQ(len, 0);
}

TEST_F(Vendor, GetResponseCarriesTheAnnouncedLengthOnTheSameInterface) {
  fake_dc::answers = {Answer{0, {0x61, 0xFF}}, Answer{0, withSw(253, 0x9000)}};
  EXPECT_EQ(apdu({0x00, 0xB0, 0x81, 0x00, 0x00}), 0x9000);
  EXPECT_EQ(len, 253);
  EXPECT_EQ(out[252], 0x11);
  EXPECT_EQ(out[253], 'z');  // the status word is not copied
  EXPECT_EQ(fake_dc::calls, (Calls{"cpuapdu 00B0810000", "cpuapdu 00C00000FF"}));

  fake_dc::reset();
  Set_Nad(3, 21);
  fake_dc::answers = {Answer{0, {0x61, 0x04}}, Answer{0, withSw(4, 0x9000)}};
  EXPECT_EQ(apdu({0x00, 0xA4, 0x04, 0x00, 0x00}), 0x9000);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(fake_dc::calls, (Calls{"pro_command 00A4040000 07", "pro_command 00C0000004 07"}));
  // The failure codes of the second exchange.
  fake_dc::answers = {Answer{0, {0x61, 0x04}}, Answer{-2, {}}};
  EXPECT_EQ(apdu({0x00, 0xA4, 0x04, 0x00, 0x00}), PORTICO_ERR_GET_RESPONSE);
  fake_dc::answers = {Answer{0, {0x61, 0x04}}, Answer{0, {0x6C, 0x04}}};
  EXPECT_EQ(apdu({0x00, 0xA4, 0x04, 0x00, 0x00}), PORTICO_ERR_GR_STATUS);
  EXPECT_EQ(len, 2);
  EXPECT_EQ(out[0], 'z');
}

TEST_F(Vendor, ResetPassesSdkResultsAndRefusesAnOversizeAnswer) {
  Set_Nad(3, 24);
  fake_dc::answers = {Answer{0, withSw(1, 0x3B00)}, Answer{-3, {}}, Answer{0x6FF0, {}},
                      Answer{0, std::vector<unsigned char>(PORTICO_ATR_SIZE + 1, 0x3B)}};
  unsigned char atr[PORTICO_ATR_SIZE];
  int n = -1;
  EXPECT_EQ(Cpu_Reset(3, &n, atr), 0x9000);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Cpu_Reset(3, &n, atr), -3);
  EXPECT_EQ(Cpu_Reset(3, &n, atr), 0x6FF0);
  std::memset(atr, 0, sizeof atr);
  EXPECT_EQ(Cpu_Reset(3, &n, atr), PORTICO_ERR_LENGTH);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(atr[0], 0);
  EXPECT_EQ(fake_dc::calls, (Calls{"setcpu 0F", "cpureset", "cpureset", "cpureset", "cpureset"}));
}

TEST_F(Vendor, ParseFailureGivesMinus1AndLeavesTheOutputsAlone) {
  fake_dc::parseResult = -3;
  char o[9][256], msg[64] = "";
  std::memset(o, 'x', sizeof o);
  EXPECT_EQ(IDCard_Read(3, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], msg), -1);
  EXPECT_STREQ(msg, "身份证读取失败!");
  for (auto& f : o) EXPECT_EQ(std::string(f, 256), std::string(256, 'x'));
  EXPECT_EQ(fake_dc::calls, (Calls{"read 3 extra", "parse resident 2"}));
  fake_dc::reset();
  fake_dc::textLen = 300;  // more than the 256 bytes asked for: not trusted
  EXPECT_EQ(IDCard_Read(3, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], msg), -1);
  EXPECT_EQ(fake_dc::calls, (Calls{"read 3 extra"}));
}

TEST_F(Vendor, UntranslatedCodesFallBackToTheHubsOwnNames) {
  const char* fields[] = {"李四", "9", "01", "19920228", "地址", "440305199202284568", "机关", "20200101", "长期"};
  for (int i = 0; i < 9; ++i) fake_dc::parsed[i] = fields[i];
  fake_dc::otherResult = -3;
  char o[9][256] = {}, msg[64] = "";
  ASSERT_EQ(IDCard_Read(3, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], msg), 0);
  EXPECT_STREQ(o[1], "未说明");
  EXPECT_STREQ(o[2], "汉");
  EXPECT_STREQ(o[8], "长期");
  EXPECT_EQ(fake_dc::calls, (Calls{"read 3 extra", "parse resident 2", "other 32 9", "other 33 01"}));
  // Null outputs are skipped.
  fake_dc::otherResult = 0;
  EXPECT_EQ(IDCard_Read(3, nullptr, o[1], nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, msg), 0);
  EXPECT_STREQ(o[1], "<9>");
}

TEST_F(Vendor, CardTypeAtByte248PicksTheParseCall) {
  fake_dc::text[248] = 'J';
  fake_dc::parsed[0] = "陈大文";
  fake_dc::parsed[1] = "1";
  fake_dc::parsed[3] = "香港";
  char o[9][256] = {}, msg[64] = "";
  ASSERT_EQ(IDCard_Read(3, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], msg), 0);
  EXPECT_STREQ(o[0], "陈大文");
  EXPECT_STREQ(o[1], "<1>");
  EXPECT_STREQ(o[4], "香港");
  EXPECT_EQ(fake_dc::calls, (Calls{"read 3 extra", "parse hkmotw 2", "other 32 1"}));

  fake_dc::reset();
  fake_dc::text[248] = 'I';
  fake_dc::text[249] = 0x4E;  // not the UCS-2 "I": a resident card
  ASSERT_EQ(IDCard_Read(3, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], msg), 0);
  EXPECT_EQ(fake_dc::calls.at(1), "parse resident 2");
  fake_dc::reset();
  fake_dc::text[248] = 'I';
  fake_dc::parsed[3] = "XYZ";
  ASSERT_EQ(IDCard_Read(3, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], o[8], msg), 0);
  EXPECT_EQ(fake_dc::calls, (Calls{"read 3 extra", "parse foreigner 2", "other 32 ", "other 34 XYZ"}));
  EXPECT_STREQ(o[2], "<XYZ>");
}
