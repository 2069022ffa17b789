#include "Qmxtool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char kShortMessage[] = "StringToHex目标字符串长度申请不足!";

TEST(StringToHex, NeedsRoomForTextHexAndTerminator) {
  char src[16];
  for (int i = 0; i < 16; ++i)
    src[i] = static_cast<char>(i * 17);
  char dst[64] = "";
  char err[64] = "old text that is longer than the message";
  EXPECT_EQ(-1, StringToHex(src, 16, dst, 32, err));
  EXPECT_STREQ(kShortMessage, err);
  EXPECT_STREQ("", dst);
  EXPECT_EQ(0, StringToHex(src, 16, dst, 33, err));
  EXPECT_STREQ("00112233445566778899AABBCCDDEEFF", dst);

  // The text already in dst counts.
  char two[8] = "AB";
  char one[] = "\x7F";
  err[0] = '\0';
  EXPECT_EQ(-1, StringToHex(one, 1, two, 4, err));
  EXPECT_STREQ("AB", two);
  EXPECT_STREQ(kShortMessage, err);
  EXPECT_EQ(0, StringToHex(one, 1, two, 5, err));
  EXPECT_STREQ("AB7F", two);
}

TEST(StringToHex, EdgeSizesAndBadArguments) {
  char dst[4] = "";
  char src[] = "x";
  EXPECT_EQ(0, StringToHex(src, 0, dst, 1, nullptr));
  EXPECT_STREQ("", dst);
  EXPECT_EQ(-1, StringToHex(src, 0, dst, 0, nullptr));
  EXPECT_EQ(-1, StringToHex(src, -1, dst, 4, nullptr));
  EXPECT_EQ(-1, StringToHex(src, 0x7FFFFFFF, dst, 4, nullptr));
  EXPECT_EQ(-1, StringToHex(nullptr, 1, dst, 4, nullptr));
  EXPECT_EQ(-1, StringToHex(src, 1, nullptr, 4, nullptr));
  // A dst without a terminator inside dstSize has no room.
  char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(-1, StringToHex(src, 0, full, 4, nullptr));
}

TEST(Hextostring, ConvertsPairsAndTerminates) {
  char out[8];
  std::memset(out, '#', sizeof out);
  char hex[] = "4E2d61";
  EXPECT_EQ(0, Hextostring(hex, out, 6));
  EXPECT_EQ(std::string("\x4E\x2D\x61\0#", 5), std::string(out, 5));

  std::memset(out, '#', sizeof out);
  EXPECT_EQ(0, Hextostring(hex, out, 5));
  EXPECT_EQ(std::string("\x4E\x2D\0#", 4), std::string(out, 4));
  EXPECT_EQ(0, Hextostring(hex, out, 1));
  EXPECT_EQ('\0', out[0]);

  // A pair that is no number gives 0; scanning never reads into the next pair.
  char odd[] = "ZZ7G";
  EXPECT_EQ(0, Hextostring(odd, out, 4));
  EXPECT_EQ(std::string("\x00\x07\0", 3), std::string(out, 3));
}

TEST(Hextostring, RefusesBadArguments) {
  char out[4] = "##";
  char hex[] = "41";
  EXPECT_EQ(-1, Hextostring(hex, out, 4));
  EXPECT_EQ(-1, Hextostring(hex, out, -2));
  EXPECT_EQ(-1, Hextostring(nullptr, out, 2));
  EXPECT_EQ(-1, Hextostring(hex, nullptr, 2));
  EXPECT_STREQ("##", out);
}

TEST(HexToShort, ScansGroupsOfFour) {
  unsigned short out[3] = {1, 2, 3};
  char hex[] = "4E2D0061ffff";
  EXPECT_EQ(0, tool_HexToShort(hex, 8, out));
  EXPECT_EQ(0x4E2D, out[0]);
  EXPECT_EQ(0x0061, out[1]);
  EXPECT_EQ(3, out[2]);
  EXPECT_EQ(0, tool_HexToShort(hex, 12, out));
  EXPECT_EQ(0xFFFF, out[2]);

  out[0] = 7;
  EXPECT_EQ(-1, tool_HexToShort(hex, 6, out));
  EXPECT_EQ(-1, tool_HexToShort(hex, 16, out));
  EXPECT_EQ(-1, tool_HexToShort(hex, -4, out));
  EXPECT_EQ(-1, tool_HexToShort(nullptr, 4, out));
  EXPECT_EQ(7, out[0]);
}

TEST(HexHLSwap, SwapsHalvesOfEachGroupAndAppends) {
  char out[32] = "X";
  char hex[] = "4E2D0061";
  EXPECT_EQ(-1, tool_HexHLSwap(hex, 6, out));
  EXPECT_STREQ("X", out);
  EXPECT_EQ(0, tool_HexHLSwap(hex, 4, out));
  EXPECT_STREQ("X2D4E", out);
  EXPECT_EQ(0, tool_HexHLSwap(hex, 8, out));
  EXPECT_STREQ("X2D4E2D4E6100", out);
  EXPECT_EQ(-1, tool_HexHLSwap(hex, 12, out));
  EXPECT_EQ(-1, tool_HexHLSwap(hex, -4, out));
  EXPECT_EQ(-1, tool_HexHLSwap(hex, 4, nullptr));
  EXPECT_STREQ("X2D4E2D4E6100", out);
}

TEST(StrTrim, RemovesBlanksAndTabsAtBothEnds) {
  char s[] = "  ab \t";
  EXPECT_EQ(s, tool_StrTrim(s));
  EXPECT_STREQ("ab", s);
  char inner[] = "\ta \tb\t";
  EXPECT_STREQ("a \tb", tool_StrTrim(inner));
  char blank[] = " \t \t";
  EXPECT_STREQ("", tool_StrTrim(blank));
  char other[] = "\nx\r";
  EXPECT_STREQ("\nx\r", tool_StrTrim(other));
  char empty[] = "";
  EXPECT_STREQ("", tool_StrTrim(empty));
  EXPECT_EQ(nullptr, tool_StrTrim(nullptr));
}

}  // namespace
