// The pure decoding of the ID-card module's read reply, and bounded copies.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "id_text.h"

using portico::Charset;
using portico::IdText;

namespace {

// Byte offset and size of each field in the 256-byte text block.
struct Field {
  size_t off, size;
};
const Field kFields[9] = {{0, 30}, {30, 2}, {32, 4}, {36, 16}, {52, 70}, {122, 36}, {158, 30}, {188, 16}, {204, 16}};

struct Card {
  std::u16string f[9] = {u"李四", u"1", u"01", u"19920228", u"广东省深圳市南山区科技园路1号", u"440305199202284568",
                         u"深圳市公安局南山分局", u"20200101", u"20300101"};
};

// A read reply: SAM header, lengths, the text block (UCS-2LE, blank
// padded) and some photo bytes.
std::vector<uint8_t> reply(const Card& c) {
  std::vector<uint8_t> r = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x05, 0x08, 0x00, 0x00, 0x90, 0x01, 0x00, 0x04, 0x00};
  std::vector<uint8_t> block(256);
  for (size_t i = 0; i < 256; i += 2) block[i] = 0x20, block[i + 1] = 0x00;
  for (int k = 0; k < 9; ++k) {
    const std::u16string& s = c.f[k];
    EXPECT_LE(s.size() * 2, kFields[k].size) << "field " << k;
    for (size_t i = 0; i < s.size() && 2 * i < kFields[k].size; ++i) {
      block[kFields[k].off + 2 * i] = uint8_t(s[i] & 0xFF);
      block[kFields[k].off + 2 * i + 1] = uint8_t(s[i] >> 8);
    }
  }
  r.insert(r.end(), block.begin(), block.end());
  r.resize(r.size() + 300, 0x5A);
  return r;
}

IdText decode(const Card& c) {
  IdText t{};
  std::vector<uint8_t> r = reply(c);
  EXPECT_TRUE(portico::decodeIdReply(r.data(), r.size(), t));
  return t;
}

std::string gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* o = &out[0];
  size_t il = utf8.size(), ol = out.size();
  iconv(cd, &in, &il, &o, &ol);
  iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

}  // namespace

// Full cards, long fields and the validity split are covered end to end on
// the virtual reader; these are the inputs it cannot produce.
TEST(IdDecode, TrimsTextFieldsAndReplacesLoneSurrogates) {
  Card c;
  c.f[0] = u"\t 李 四 \t";
  c.f[6] = u"\xD800公安局\xDC00";
  IdText t = decode(c);
  EXPECT_STREQ(t.name, "李 四");
  EXPECT_STREQ(t.authority, "\xEF\xBF\xBD公安局\xEF\xBF\xBD");
  EXPECT_STREQ(t.sex, "男");
  EXPECT_STREQ(t.nation, "汉");  // the tool unit's nation names
  EXPECT_STREQ(t.validStart, "20200101");
  EXPECT_STREQ(t.validEnd, "20300101");
}

TEST(IdDecode, SexAndNationCodes) {
  const std::pair<std::u16string, const char*> sexes[] = {
      {u"0", "未知"}, {u"1", "男"}, {u"2", "女"}, {u"9", "未说明"}, {u"3", ""}, {u" ", ""}, {u"A", ""}};
  for (const auto& s : sexes) {
    Card c;
    c.f[1] = s.first;
    EXPECT_STREQ(decode(c).sex, s.second) << s.second;
  }
  const std::pair<std::u16string, const char*> nations[] = {
      {u"01", "汉"}, {u"56", "基诺"}, {u"97", "其他"}, {u"00", "其他"}, {u"x1", "其他"}};
  for (const auto& n : nations) {
    Card c;
    c.f[2] = n.first;
    EXPECT_STREQ(decode(c).nation, n.second) << n.second;
  }
}

TEST(IdDecode, ReplyTooShortForTheTextBlockIsRefused) {
  std::vector<uint8_t> r = reply(Card());
  IdText t{};
  std::strcpy(t.name, "kept");
  EXPECT_FALSE(portico::decodeIdReply(r.data(), 14 + 255, t));
  EXPECT_FALSE(portico::decodeIdReply(nullptr, 600, t));
  EXPECT_STREQ(t.name, "kept");
  EXPECT_TRUE(portico::decodeIdReply(r.data(), 14 + 256, t));
  EXPECT_STREQ(t.name, "李四");
}

TEST(CopyText, CutsUtf8AndGbkOnlyBetweenCharacters) {
  char out[8];
  std::string u = "a中文字";  // 1 + 3 + 3 + 3 bytes
  EXPECT_EQ(portico::copyText(out, 8, u.data(), u.size(), Charset::Utf8), 7u);
  EXPECT_STREQ(out, "a中文");
  EXPECT_EQ(portico::copyText(out, 7, u.data(), u.size(), Charset::Utf8), 4u);
  EXPECT_STREQ(out, "a中");
  std::string g = gbk("a中文字");  // 1 + 2 + 2 + 2 bytes
  EXPECT_EQ(portico::copyText(out, 7, g.data(), g.size(), Charset::Gbk), 5u);
  EXPECT_EQ(std::string(out), gbk("a中文"));
  EXPECT_EQ(portico::copyText(out, 8, g.data(), g.size(), Charset::Gbk), 7u);
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(portico::copyText(out, 1, u.data(), u.size(), Charset::Utf8), 0u);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], 'x');
  EXPECT_EQ(portico::copyText(out, 0, u.data(), u.size(), Charset::Utf8), 0u);
  EXPECT_EQ(out[1], 'x');
}
