// The hub's hex conversions.
#include <gtest/gtest.h>

#include <cstring>

#include "portico.h"

extern "C" int portico_exports_seen_from_c(void);

TEST(Header, CompilesAsCAndDeclaresEveryExport) { EXPECT_EQ(portico_exports_seen_from_c(), 10); }

TEST(HexText, StringToHexAppendsUpperCaseDigits) {
  char out[32] = "12";
  const unsigned char data[] = {0x00, 0xAB, 0x7F, 0xFF};
  EXPECT_EQ(stringtohex(data, 4, out), 0);
  EXPECT_STREQ(out, "1200AB7FFF");
  EXPECT_EQ(stringtohex(data, 0, out), 0);
  EXPECT_STREQ(out, "1200AB7FFF");
}

TEST(HexText, HexToStringReadsPairsAndTerminates) {
  unsigned char out[8];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(hextostring("1a2B", 4, out), 0);
  EXPECT_EQ(out[0], 0x1A);
  EXPECT_EQ(out[1], 0x2B);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0xEE);

  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(hextostring("7F", 1, out), 0);  // at least one byte
  EXPECT_EQ(out[0], 0x7F);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0xEE);

  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(hextostring("1GZZ4", 5, out), 0);  // as %02X: leading digits, else 0
  EXPECT_EQ(out[0], 0x01);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0x00);

  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(hextostring("AB", 8, out), 0);  // pairs past the text end give 0, nothing read there
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[3], 0x00);
  EXPECT_EQ(out[4], 0x00);
  EXPECT_EQ(out[5], 0xEE);
}
