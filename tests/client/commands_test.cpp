// Command building and reply parsing of the card operations, in process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "card_commands.h"

using namespace tessera;

namespace {

std::string hex(const unsigned char *p, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    s += b;
  }
  return s;
}

const unsigned char kTail[8] = {0x6F, 0x70, 0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6};
const unsigned char kRand[8] = {1, 2, 3, 4, 5, 6, 7, 8};

}  // namespace

TEST(SocialSecurityCommands, SelectCarriesTheGbkNameWithTheGenerationDigit) {
  unsigned char cmd[kSelectSsseLen];
  buildSelectSsse('3', cmd);
  EXPECT_EQ(hex(cmd, sizeof cmd), "00A404000F7378332E73682EC9E7BBE1B1A3D5CF");
  buildSelectSsse('1', cmd);
  EXPECT_EQ(hex(cmd, 8), "00A404000F737831");
}

TEST(SocialSecurityCommands, GenerationFromTag86ElseFromTheIdentificationCode) {
  unsigned char fci[130] = {0x6F, 0x1D, 0x84, 0x02, 0x73, 0x78, 0xA5, 0x03, 0x86, 0x01, 0x03};
  EXPECT_EQ(cardGeneration(fci, 128, "350203"), '3');
  unsigned char none[130] = {0x6F, 0x05, 0x84, 0x03, 0x86, 0x02, 0x01};
  EXPECT_EQ(cardGeneration(none, 128, "110108D156"), '2');
  EXPECT_EQ(cardGeneration(none, 128, "350203D156"), '1');
  EXPECT_EQ(cardGeneration(none, 128, "1"), '1');
  // The FCI is text: a tag after its first zero byte is not seen.
  unsigned char afterZero[130] = {0x6F, 0x00, 0x86, 0x01, 0x03};
  EXPECT_EQ(cardGeneration(afterZero, 128, "110100"), '2');
  // Tag and length in the last two bytes: the generation byte is beyond.
  unsigned char atEnd[130];
  std::memset(atEnd, 0x41, sizeof atEnd);
  atEnd[126] = 0x86;
  atEnd[127] = 0x01;
  EXPECT_EQ(cardGeneration(atEnd, 128, "350203"), '0');
}

TEST(SocialSecurityCommands, DiversificationAndEncryptionLengthsByGeneration) {
  unsigned char cmd[45];
  EXPECT_EQ(diversifyLc('1'), 0x20);
  EXPECT_EQ(diversifyLc('3'), 0x28);
  EXPECT_EQ(encryptLc('1'), 0x08);
  EXPECT_EQ(encryptLc('2'), 0x10);
  const std::string body = "6F708192A3B4C5D6" "313130313030" "7378" "3131" "303030307368" "0102030405060708";
  ASSERT_EQ(buildDiversify(0x08, 0x20, kTail, "110100", kRand, cmd), 37);
  EXPECT_EQ(hex(cmd, 37), "BFDE670820" + body);
  ASSERT_EQ(buildDiversify(0x0A, 0x28, kTail, "110100", kRand, cmd), 45);
  EXPECT_EQ(hex(cmd, 45), "BFDE670A28" + body + "0000000000000000");
  ASSERT_EQ(buildEncrypt(0x08, kRand, cmd), 13);
  EXPECT_EQ(hex(cmd, 13), "80FA0000080102030405060708");
  ASSERT_EQ(buildEncrypt(0x10, kRand, cmd), 21);
  EXPECT_EQ(hex(cmd, 21), "80FA0000100102030405060708" "0000000000000000");
  const unsigned char two[16] = {0xFF, 0x00, 0x0F, 0xF0, 1, 2, 3, 4, 0x0F, 0x00, 0xFF, 0xF0, 1, 2, 3, 5};
  unsigned char folded[8];
  foldBlocks(two, folded);
  EXPECT_EQ(hex(folded, 8), "F000F00000000001");
}

TEST(SocialSecurityCommands, CardNumberRetryIsABitwiseTest) {
  for (int sw : {0x6C0B, 0x6C00, 0x6D00, 0x6E00, 0x6FFF, 0xEC00, -4, -1})
    EXPECT_TRUE(cardNoRetry(sw)) << std::hex << sw;
  for (int sw : {0x9000, 0x6A83, 0x6B00, 0x6400, 0x0C00, 0})
    EXPECT_FALSE(cardNoRetry(sw)) << std::hex << sw;
}

TEST(BankCardRecord, AccountBetweenTag57AndTheSeparator) {
  const char *start = nullptr;
  int len = 0;
  const char rec19[] = "70335710" "6217000012345678907D30122200000F" "5F20095A48414E472F53414E";
  ASSERT_EQ(accountFromRecordHex(rec19, &start, &len), 0);
  EXPECT_EQ(std::string(start, size_t(len)), "6217000012345678907");
  const char rec16[] = "70125711" "6222020012345671D3012220";
  ASSERT_EQ(accountFromRecordHex(rec16, &start, &len), 0);
  EXPECT_EQ(std::string(start, size_t(len)), "6222020012345671");
  EXPECT_EQ(accountFromRecordHex("70125711621700001234567D30122200000000000F", &start, &len), -8);
  EXPECT_EQ(accountFromRecordHex("7012571162170000123456789012D301", &start, &len), -8);
  EXPECT_EQ(accountFromRecordHex("7010570E621700001234567D3012220000000F", &start, &len), -10);
  EXPECT_EQ(accountFromRecordHex("", &start, &len), -10);
  EXPECT_EQ(accountFromRecordHex("701257116217000012345678907", &start, &len), -9);
  EXPECT_EQ(accountFromRecordHex("571", &start, &len), -9);
}

TEST(StripeAccount, TrackTwoBeforeTheSeparatorWithoutSentinel) {
  char out[256];
  bool t3 = true;
  ASSERT_EQ(accountFromTracks(";6222020012345671=30122201234567890", "", out, sizeof out, &t3), 0);
  EXPECT_STREQ(out, "6222020012345671");
  EXPECT_FALSE(t3);
  ASSERT_EQ(accountFromTracks("6222020012345671=3012", ";99123=", out, sizeof out, &t3), 0);
  EXPECT_STREQ(out, "6222020012345671");
  EXPECT_EQ(accountFromTracks(";6222020012345671D3012", "", out, sizeof out, &t3), -3);
  EXPECT_FALSE(t3);
  EXPECT_EQ(accountFromTracks(";=3012", "", out, sizeof out, &t3), -3);
  EXPECT_EQ(accountFromTracks("", "", out, sizeof out, &t3), -2);
  char tiny[8];
  EXPECT_EQ(accountFromTracks("62220200=1", "", tiny, sizeof tiny, &t3), -3);
  ASSERT_EQ(accountFromTracks("6222020=1", "", tiny, sizeof tiny, &t3), 0);
  EXPECT_STREQ(tiny, "6222020");
}

TEST(StripeAccount, TrackThreeAfterSentinelAndFormatCode) {
  char out[256];
  bool t3 = false;
  ASSERT_EQ(accountFromTracks("", ";996222020012345671=1561560000", out, sizeof out, &t3), 0);
  EXPECT_STREQ(out, "6222020012345671");
  EXPECT_TRUE(t3);
  ASSERT_EQ(accountFromTracks("", "996222020012345671=1561560000", out, sizeof out, &t3), 0);
  EXPECT_STREQ(out, "6222020012345671");
  for (const char *bad : {";126222020012345671=15615", "126222020012345671=1", ";996222020012345671",
                          ";9=1", ";99=1", "9=", "9"}) {
    std::strcpy(out, "untouched");
    EXPECT_EQ(accountFromTracks("", bad, out, sizeof out, &t3), -3) << bad;
    EXPECT_TRUE(t3);
    EXPECT_STREQ(out, "untouched") << bad;
  }
}

TEST(ReaderCommands, ScannerIntervalKeepsFourDigits) {
  unsigned char cmd[kScanIntervalLen];
  ASSERT_TRUE(buildScanInterval(500, cmd));
  EXPECT_EQ(hex(cmd, 5), "B0D000000E");
  EXPECT_EQ(std::string(reinterpret_cast<char *>(cmd + 5), 14), "FP-3N010=0500;");
  ASSERT_TRUE(buildScanInterval(9999, cmd));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(cmd + 5), 14), "FP-3N010=9999;");
  ASSERT_TRUE(buildScanInterval(0, cmd));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(cmd + 5), 14), "FP-3N010=0000;");
  std::memset(cmd, 0xEE, sizeof cmd);
  EXPECT_FALSE(buildScanInterval(10000, cmd));
  EXPECT_EQ(cmd[0], 0xEE);
}

TEST(ReaderCommands, WaitingTimesAsTheReaderTakesThem) {
  EXPECT_EQ(scanWait(0), 3);
  EXPECT_EQ(scanWait(2), 3);
  EXPECT_EQ(scanWait(3), 3);
  EXPECT_EQ(scanWait(30), 0x1E);
  EXPECT_EQ(scanWait(0x1FF), 0xFF);
  EXPECT_EQ(stripeWait(0), 0);
  EXPECT_EQ(stripeWait(180), 180);
  EXPECT_EQ(stripeWait(181), 180);
  EXPECT_EQ(stripeWait(static_cast<unsigned>(-1)), 180);
  EXPECT_EQ(keypadWait(0), 6);
  EXPECT_EQ(keypadWait(5), 6);
  EXPECT_EQ(keypadWait(6), 6);
  EXPECT_EQ(keypadWait(255), 180);
  EXPECT_EQ(keypadWait(0x105), 6);
  EXPECT_EQ(keypadWait(-1), 180);
  EXPECT_EQ(stripeAccountWait(0), 20);
  EXPECT_EQ(stripeAccountWait(100), 20);
  EXPECT_EQ(stripeAccountWait(99), 99);
  EXPECT_EQ(stripeAccountWait(-5), -5);
}
