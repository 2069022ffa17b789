#include "Qmxtool.h"
#include "code_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// CodeTranslate with out starting as "untouched"; *out receives its text.
int translate(int mode, int code, const char *key, std::string *out) {
  char buf[64] = "untouched";
  std::string k = key != nullptr ? key : "";
  int rc = CodeTranslate(mode, code, key != nullptr ? k.data() : nullptr, buf);
  *out = buf;
  return rc;
}

TEST(CodeTranslate, SexCodes) {
  std::string out;
  EXPECT_EQ(0, translate(1, 1, nullptr, &out));
  EXPECT_EQ("男", out);
  EXPECT_EQ(0, translate(1, 2, nullptr, &out));
  EXPECT_EQ("女", out);
  for (int code : {0, 3, 9, -1}) {
    EXPECT_EQ(-2, translate(1, code, nullptr, &out)) << code;
    EXPECT_EQ("untouched", out);
  }
}

TEST(CodeTranslate, NationCodes) {
  std::string out;
  EXPECT_EQ(0, translate(2, 1, nullptr, &out));
  EXPECT_EQ("汉", out);
  EXPECT_EQ(0, translate(2, 5, nullptr, &out));
  EXPECT_EQ("维吾尔", out);
  EXPECT_EQ(0, translate(2, 29, nullptr, &out));
  EXPECT_EQ("柯尔克孜", out);
  EXPECT_EQ(0, translate(2, 56, nullptr, &out));
  EXPECT_EQ("基诺", out);
  for (int code : {0, 57, -1, 100}) {
    EXPECT_EQ(0, translate(2, code, nullptr, &out)) << code;
    EXPECT_EQ("其他", out);
  }
}

TEST(CodeTranslate, CountryKeysCompareExactly) {
  std::string out;
  EXPECT_EQ(0, translate(3, 0, "CHN", &out));
  EXPECT_EQ("中国", out);
  EXPECT_EQ(0, translate(3, 0, "STp", &out));
  EXPECT_EQ("圣多美和普林西比", out);
  EXPECT_EQ(0, translate(3, 0, "GMB", &out));
  EXPECT_EQ("冈比亚Gambia", out);
  EXPECT_EQ(0, translate(3, 0, "CSR", &out));
  EXPECT_EQ("圣诞岛", out);
  EXPECT_EQ(0, translate(3, 0, "ROM", &out));
  EXPECT_EQ("罗马尼亚", out);
  for (const char *key : {"TMP", "PST", "ANT", "YUG"}) {
    EXPECT_EQ(0, translate(3, 0, key, &out));
    EXPECT_NE("其他", out) << key;
  }
  for (const char *key : {"XXX", "ROU", "CXR", "stp", "STP", "chn", "CH", "CHNA", "", static_cast<const char *>(nullptr)}) {
    EXPECT_EQ(0, translate(3, 0, key, &out)) << (key ? key : "null");
    EXPECT_EQ("其他", out) << (key ? key : "null");
  }
}

TEST(CodeTranslate, OtherModesAndNullOutputFail) {
  std::string out;
  for (int mode : {0, 4, -1}) {
    EXPECT_EQ(-1, translate(mode, 1, "CHN", &out)) << mode;
    EXPECT_EQ("untouched", out);
  }
  char key[] = "CHN";
  EXPECT_EQ(-1, CodeTranslate(2, 1, key, nullptr));
}

TEST(CodeTables, CountryTableHoldsDistinctKeysAndFittingNames) {
  std::set<std::string> keys;
  std::size_t longest = 0;
  for (const CountryName &c : kCountryNames) {
    EXPECT_EQ(3u, std::strlen(c.key)) << c.key;
    keys.insert(c.key);
    longest = std::max(longest, std::strlen(c.name));
    std::string out;
    EXPECT_EQ(0, translate(3, 0, c.key, &out));
    EXPECT_EQ(c.name, out) << c.key;
  }
  EXPECT_EQ(239u, keys.size());
  EXPECT_EQ(36u, longest);  // out needs 37 bytes
  EXPECT_STREQ("AFG", kCountryNames[0].key);
  EXPECT_STREQ("ZWE", kCountryNames[kCountryCount - 1].key);
}

TEST(CodeTables, NationNamesCarryNoSuffix) {
  std::set<std::string> names;
  for (std::size_t code = 1; code <= kNationCount; ++code) {
    std::string name = kNationNames[code];
    EXPECT_EQ(std::string::npos, name.find("族")) << code;
    names.insert(name);
  }
  EXPECT_EQ(56u, names.size());
}

}  // namespace
