#include "Qmxtool.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// "中华人民共和国" in GBK and in UTF-16.
const char kChinaGbk[] = "\xD6\xD0\xBB\xAA\xC8\xCB\xC3\xF1\xB9\xB2\xBA\xCD\xB9\xFA";
const std::vector<unsigned short> kChinaUtf16 = {0x4E2D, 0x534E, 0x4EBA, 0x6C11,
                                                 0x5171, 0x548C, 0x56FD};
const char kChinaUtf8[] = "中华人民共和国";

std::vector<unsigned short> toUnicode(std::string gbk, int max, int *rc) {
  std::vector<unsigned short> out(32, 0xEEEE);
  *rc = tool_GbkToUnicode(gbk.data(), out.data(), max);
  return out;
}

TEST(GbkToUnicode, ConvertsGbkAndAsciiByTable) {
  int rc;
  std::vector<unsigned short> out = toUnicode("\xD6\xD0" "a", 8, &rc);
  EXPECT_EQ(2, rc);
  EXPECT_EQ(0x4E2D, out[0]);
  EXPECT_EQ(0x0061, out[1]);
  EXPECT_EQ(0xEEEE, out[2]) << "no terminator is written";

  out = toUnicode(kChinaGbk, 32, &rc);
  ASSERT_EQ(7, rc);
  EXPECT_EQ(kChinaUtf16, std::vector<unsigned short>(out.begin(), out.begin() + 7));

  // 0x80 is one unit; the euro sign and a user-defined code come from the table.
  out = toUnicode("\x80\xA2\xE3\xAA\xA1", 8, &rc);
  ASSERT_EQ(3, rc);
  EXPECT_EQ(0x0080, out[0]);
  EXPECT_EQ(0x20AC, out[1]);
  EXPECT_EQ(0xE000, out[2]);
}

TEST(GbkToUnicode, PairsOutsideTheTableAreDroppedAndHolesGiveZero) {
  int rc;
  // 0xFEA1 is past the table, 0x8130 before it; 0x817F is a hole.
  std::vector<unsigned short> out = toUnicode("\xFE\xA1" "\x81\x30" "\x81\x7F" "b", 8, &rc);
  ASSERT_EQ(2, rc);
  EXPECT_EQ(0x0000, out[0]);
  EXPECT_EQ(0x0062, out[1]);
}

TEST(GbkToUnicode, StopsAtMaxAndAtACutPair) {
  int rc;
  std::vector<unsigned short> out = toUnicode("\xD6\xD0" "a", 1, &rc);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(0x4E2D, out[0]);
  EXPECT_EQ(0xEEEE, out[1]);

  for (int max : {0, -1, INT_MIN}) {
    out = toUnicode("abc", max, &rc);
    EXPECT_EQ(0, rc) << max;
    EXPECT_EQ(0xEEEE, out[0]) << max;
  }

  // A lead byte right before the terminator: the terminator is not eaten
  // and nothing after it is read.
  char text[] = "a\xD6\0\xD0zz";
  unsigned short units[8] = {};
  EXPECT_EQ(1, tool_GbkToUnicode(text, units, 8));
  EXPECT_EQ(0x61, units[0]);
  EXPECT_EQ(0, units[1]);

  EXPECT_EQ(-1, tool_GbkToUnicode(nullptr, units, 8));
  EXPECT_EQ(-1, tool_GbkToUnicode(text, nullptr, 8));
}

std::string toGbk(std::vector<unsigned short> in, int max, int *rc) {
  in.push_back(0);
  std::string out(16, '#');
  *rc = tool_UnicodeToGbk(in.data(), out.data(), max);
  return out;
}

TEST(UnicodeToGbk, WritesAsciiAndIdeographsAndDropsTheRest) {
  int rc;
  EXPECT_EQ("\xD6\xD0##", toGbk({0x4E2D}, 16, &rc).substr(0, 4));
  EXPECT_EQ(2, rc);
  // The middle dot, full-width forms and ideographs past U+9FA5 have no code here.
  EXPECT_EQ("A\xD6\xD0" "b#", toGbk({'A', 0x00B7, 0x4E2D, 0xFF01, 0x9FA6, 0x0080, 'b'}, 16, &rc).substr(0, 5));
  EXPECT_EQ(4, rc);
  EXPECT_EQ("\xD2\xBB\x81\x40\xFD\x9B", toGbk({0x4E00, 0x4E02, 0x9FA5}, 16, &rc).substr(0, 6));
  EXPECT_EQ(6, rc);

  std::vector<unsigned short> china = kChinaUtf16;
  EXPECT_EQ(std::string(kChinaGbk) + "##", toGbk(china, 16, &rc));
  EXPECT_EQ(14, rc);
}

TEST(UnicodeToGbk, NeverWritesPastMax) {
  int rc;
  EXPECT_EQ("a###", toGbk({'a', 0x4E2D}, 2, &rc).substr(0, 4));
  EXPECT_EQ(1, rc);
  EXPECT_EQ("a\xD6\xD0#", toGbk({'a', 0x4E2D, 'b'}, 3, &rc).substr(0, 4));
  EXPECT_EQ(3, rc);
  EXPECT_EQ("ab##", toGbk({'a', 'b', 'c'}, 2, &rc).substr(0, 4));
  EXPECT_EQ(2, rc);
  EXPECT_EQ("####", toGbk({'a'}, 0, &rc).substr(0, 4));
  EXPECT_EQ(0, rc);
  EXPECT_EQ("####", toGbk({'a'}, -5, &rc).substr(0, 4));
  EXPECT_EQ(0, rc);

  unsigned short in[] = {'a', 0};
  char out[4];
  EXPECT_EQ(-1, tool_UnicodeToGbk(nullptr, out, 4));
  EXPECT_EQ(-1, tool_UnicodeToGbk(in, nullptr, 4));
}

TEST(GbkToUtf8, ConvertsIntoANewBuffer) {
  char err[256] = "";
  char *out = nullptr;
  char oneIdeograph[] = "\xD6\xD0";
  ASSERT_EQ(3, tool_gbk_to_utf8(2, oneIdeograph, &out, err));
  EXPECT_STREQ("中", out);
  std::free(out);

  std::string china = std::string("ID:") + kChinaGbk;
  ASSERT_EQ(24, tool_gbk_to_utf8(china.size(), china.data(), &out, err));
  EXPECT_EQ(std::string("ID:") + kChinaUtf8, out);
  std::free(out);

  // Exactly len bytes are read, NUL bytes included.
  char bytes[] = {'a', '\0', 'b', '\xD6', '\xD0', '\xD6'};
  ASSERT_EQ(6, tool_gbk_to_utf8(5, bytes, &out, err));
  EXPECT_EQ(std::string("a\0b中", 6), std::string(out, 6));
  EXPECT_EQ('\0', out[6]);
  std::free(out);
  EXPECT_STREQ("", err);
}

TEST(GbkToUtf8, FailuresAppendTheirMessage) {
  char err[512] = "pre";
  char *out = reinterpret_cast<char *>(&err);
  char text[] = "\xD6\xD0";
  EXPECT_EQ(-5, tool_gbk_to_utf8(0, text, &out, err));
  EXPECT_STREQ("pretool_gbk_to_utf8 :输入数据长度有误", err);

  char invalid[] = "a\xFF\xFF";
  out = err;
  EXPECT_EQ(-3, tool_gbk_to_utf8(3, invalid, &out, err));
  EXPECT_EQ(nullptr, out);
  EXPECT_STREQ("pretool_gbk_to_utf8 :输入数据长度有误 :GBK转UTF-8编码失败", err);

  char cut[] = "\xD6\xD0\xD6";
  err[0] = '\0';
  EXPECT_EQ(-3, tool_gbk_to_utf8(3, cut, &out, err));
  EXPECT_STREQ(" :GBK转UTF-8编码失败", err);

  err[0] = '\0';
  EXPECT_EQ(-1, tool_gbk_to_utf8(ULONG_MAX, text, &out, err));
  EXPECT_EQ(nullptr, out);
  EXPECT_STREQ(" :输出数据动态空间申请失败", err);

  err[0] = '\0';
  EXPECT_EQ(-1, tool_gbk_to_utf8(2, nullptr, &out, err));
  EXPECT_EQ(-1, tool_gbk_to_utf8(2, text, nullptr, err));
  EXPECT_STREQ("", err);
  EXPECT_EQ(-5, tool_gbk_to_utf8(0, text, &out, nullptr));
}

}  // namespace
