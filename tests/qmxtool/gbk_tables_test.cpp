#include "Qmxtool.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <set>

namespace {

unsigned short unicodeOf(unsigned code) { return unicodeTables[code - gbk_first_code]; }

TEST(GbkTables, SizesMatchTheirRanges) {
  EXPECT_EQ(gbk_last_code - gbk_first_code + 1, unicode_buf_size);
  EXPECT_EQ(unicode_last_code - unicode_first_code + 1, gbk_buf_size);
  EXPECT_EQ(32096u, sizeof unicodeTables / sizeof unicodeTables[0]);
  EXPECT_EQ(20902u, sizeof gbkTables / sizeof gbkTables[0]);
}

TEST(GbkTables, NamedCodes) {
  EXPECT_EQ(0x4E02, unicodeOf(0x8140));
  EXPECT_EQ(0x4E2D, unicodeOf(0xD6D0));
  EXPECT_EQ(0x20AC, unicodeOf(0xA2E3));
  EXPECT_EQ(0x4DAE, unicodeOf(0xFE9F));
  EXPECT_EQ(0x00B7, unicodeOf(0xA1A4));
  EXPECT_EQ(0x3000, unicodeOf(0xA1A1));
  EXPECT_EQ(0xFF01, unicodeOf(0xA3A1));
  EXPECT_EQ(0x2E81, unicodeOf(0xFE50));
  EXPECT_EQ(0xD6D0, gbkTables[0x4E2D - unicode_first_code]);
  EXPECT_EQ(0xD2BB, gbkTables[0]);
  EXPECT_EQ(0xFD9B, gbkTables[gbk_buf_size - 1]);
}

TEST(GbkTables, ZeroExactlyWhereThereIsNoSingleUnit) {
  // Second bytes outside 0x40..0x7E and 0x80..0xFE make no two-byte code;
  // six codes stand for characters beyond the BMP.
  const std::set<unsigned> beyondBmp = {0xFE51, 0xFE52, 0xFE53, 0xFE6C, 0xFE76, 0xFE91};
  for (unsigned code = gbk_first_code; code <= gbk_last_code; ++code) {
    unsigned trail = code & 0xFF;
    bool noCode = trail < 0x40 || trail == 0x7F || trail == 0xFF;
    bool zero = unicodeOf(code) == 0;
    ASSERT_EQ(noCode || beyondBmp.count(code) == 1, zero) << std::hex << code;
  }
}

// Index of a second byte among 0x40..0x7E, 0x80..0xFE.
unsigned trailIndex(unsigned trail) { return trail - 0x40 - (trail > 0x7F ? 1 : 0); }

TEST(GbkTables, UserDefinedAreasMapToPrivateUse) {
  for (unsigned lead = 0xAA; lead <= 0xAF; ++lead)
    for (unsigned trail = 0xA1; trail <= 0xFE; ++trail)
      ASSERT_EQ(0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1), unicodeOf(lead << 8 | trail));
  for (unsigned lead = 0xF8; lead <= 0xFD; ++lead)
    for (unsigned trail = 0xA1; trail <= 0xFE; ++trail)
      ASSERT_EQ(0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1), unicodeOf(lead << 8 | trail));
  for (unsigned lead = 0xA1; lead <= 0xA7; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xA0; ++trail) {
      if (trail != 0x7F) {
        ASSERT_EQ(0xE4C6 + (lead - 0xA1) * 96 + trailIndex(trail), unicodeOf(lead << 8 | trail));
      }
    }
  }
}

TEST(GbkTables, IdeographsRoundTrip) {
  std::set<unsigned short> codes;
  for (unsigned i = 0; i < gbk_buf_size; ++i) {
    unsigned code = gbkTables[i];
    ASSERT_GE(code, gbk_first_code) << i;
    ASSERT_LE(code, gbk_last_code) << i;
    ASSERT_EQ(unicode_first_code + i, unicodeOf(code)) << std::hex << code;
    codes.insert(gbkTables[i]);
  }
  EXPECT_EQ(gbk_buf_size, codes.size());
}

TEST(GbkTables, AgreeWithTheGbkConverterWhereverItDefinesACode) {
  iconv_t cd = iconv_open("UCS-2BE", "GBK");
  ASSERT_NE(reinterpret_cast<iconv_t>(-1), cd);
  unsigned defined = 0;
  for (unsigned code = gbk_first_code; code <= gbk_last_code; ++code) {
    char in[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    unsigned char out[4];
    char *ip = in, *op = reinterpret_cast<char *>(out);
    size_t il = 2, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || ol != 2)
      continue;
    ++defined;
    ASSERT_EQ(out[0] << 8 | out[1], unicodeOf(code)) << std::hex << code;
  }
  iconv_close(cd);
  EXPECT_EQ(21791u, defined);
}

}  // namespace
