// Reply parsing and the rules of the card operations, in process: the
// edges the virtual reader cannot reach. The command bytes themselves are
// checked on the wire by the end-to-end tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "card_commands.h"

using namespace tessera;

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
