// TLV reading, data object lists and the texts the kernel builds, on byte
// buffers alone.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "emv_tlv.h"
#include "kernel.h"
#include "pty_peer.h"

using namespace payterm;

namespace {

Bytes H(const char* hex) { return hex_bytes(hex); }

TEST(Tlv, NextReadsTagsLengthsAndSkipsFiller) {
  const Bytes b = H("00 FF 5A 02 1234 9F36 81 01 AA BF0C 82 0001 77 00");
  size_t pos = 0;
  Tlv t;
  ASSERT_EQ(1, tlv_next(b.data(), b.size(), &pos, &t));
  EXPECT_EQ(0x5Au, t.tag);
  EXPECT_EQ(2u, t.len);
  EXPECT_EQ(b.data() + 2, t.start);
  EXPECT_EQ(4u, t.total);
  ASSERT_EQ(1, tlv_next(b.data(), b.size(), &pos, &t));
  EXPECT_EQ(0x9F36u, t.tag);
  EXPECT_EQ(1u, t.len);
  EXPECT_EQ(0xAA, t.value[0]);
  ASSERT_EQ(1, tlv_next(b.data(), b.size(), &pos, &t));
  EXPECT_EQ(0xBF0Cu, t.tag);
  EXPECT_TRUE(t.constructed);
  EXPECT_EQ(1u, t.len);
  EXPECT_EQ(0x77, t.value[0]);
  EXPECT_EQ(0, tlv_next(b.data(), b.size(), &pos, &t));
  EXPECT_EQ(b.size(), pos);
}

TEST(Tlv, EveryReadStaysInsideTheBuffer) {
  const char* bad[] = {"5A 05 1234",  // value runs past the end
                       "9F",          // tag cut short
                       "9F 36",       // no length
                       "5A 81",       // long length cut short
                       "5A 84 00000001 00",  // four length bytes
                       "5A 80",       // indefinite length
                       "9F FF FF 01 00"};  // tag longer than three bytes
  for (const char* hex : bad) {
    Bytes b = H(hex);
    // Copy into an exactly sized heap block so the sanitizer sees overruns.
    std::unique_ptr<uint8_t[]> p(new uint8_t[b.size()]);
    memcpy(p.get(), b.data(), b.size());
    size_t pos = 0;
    Tlv t;
    EXPECT_EQ(-1, tlv_next(p.get(), b.size(), &pos, &t)) << hex;
    EXPECT_FALSE(tlv_find(p.get(), b.size(), 0x5A, &t)) << hex;
  }
}

TEST(Tlv, FindDescendsIntoTemplatesButNotIntoPrimitives) {
  // 80 is primitive: the 5A inside its value is data, not an object.
  const Bytes b = H("80 04 5A 02 1111 70 08 61 06 4F 04 A0000003");
  Tlv t;
  EXPECT_FALSE(tlv_find(b.data(), b.size(), 0x5A, &t));
  ASSERT_TRUE(tlv_find(b.data(), b.size(), 0x4F, &t));
  EXPECT_EQ(H("A0000003"), Bytes(t.value, t.value + t.len));
}

TEST(Tlv, FindGivesUpBelowEightLevels) {
  Bytes b = H("5A 01 77");
  for (int i = 0; i < 10; ++i) {
    Bytes outer = {0x70, static_cast<uint8_t>(b.size())};
    outer.insert(outer.end(), b.begin(), b.end());
    b = outer;
  }
  Tlv t;
  EXPECT_FALSE(tlv_find(b.data(), b.size(), 0x5A, &t));
  EXPECT_TRUE(tlv_find(b.data() + 6, b.size() - 6, 0x5A, &t));  // seven levels
}

TEST(Tlv, AppendEncodesLengthsAndRefusesWhatDoesNotFit) {
  uint8_t out[300];
  size_t at = 0;
  uint8_t v[200];
  memset(v, 0xAB, sizeof v);
  ASSERT_TRUE(tlv_append(out, sizeof out, &at, 0x9F26, v, 8));
  ASSERT_TRUE(tlv_append(out, sizeof out, &at, 0x90, v, 200));
  EXPECT_EQ(H("9F26 08"), Bytes(out, out + 3));
  EXPECT_EQ(H("90 81 C8"), Bytes(out + 11, out + 14));
  EXPECT_EQ(11u + 3u + 200u, at);
  size_t before = at;
  EXPECT_FALSE(tlv_append(out, sizeof out, &at, 0x90, v, 100));
  EXPECT_EQ(before, at);
}

TEST(Dol, ParseReadsTagsAndLengths) {
  const Bytes d = H("9F66 04 9F02 06 95 05 DF60 01");
  DolItem items[8];
  ASSERT_EQ(4, dol_parse(d.data(), d.size(), items, 8));
  EXPECT_EQ(0x9F66u, items[0].tag);
  EXPECT_EQ(4u, items[0].len);
  EXPECT_EQ(0x95u, items[2].tag);
  EXPECT_EQ(0xDF60u, items[3].tag);
  EXPECT_EQ(16u, dol_length(d.data(), d.size()));
  EXPECT_EQ(-1, dol_parse(d.data(), d.size(), items, 3));
  const Bytes cut = H("9F66 04 9F02");
  EXPECT_EQ(-1, dol_parse(cut.data(), cut.size(), items, 8));
}

// A terminal data list with one object of each format.
Bytes list_of(std::initializer_list<std::pair<uint32_t, Bytes>> objs) {
  uint8_t buf[512];
  size_t at = 0;
  buf[0] = 0;
  for (auto& o : objs) EXPECT_TRUE(termlist_add(buf, sizeof buf, &at, o.first, o.second.data(), o.second.size()));
  return Bytes(buf, buf + at + 1);
}

Bytes build(const char* dol, const Bytes& list, int* rc) {
  Bytes d = H(dol);
  uint8_t out[256];
  size_t n = 0;
  *rc = dol_build(d.data(), d.size(), list.data(), list.size(), out, sizeof out, &n);
  return Bytes(out, out + (*rc == 0 ? n : 0));
}

TEST(Dol, FormatsDecideHowValuesAreFitted) {
  Bytes list = list_of({{0x9F02, H("000000000012")},
                        {0x5A, H("6217000012345678907F")},
                        {0x9F4E, H("4142")},
                        {0x9F37, H("12345678")}});
  int rc = 0;
  // numeric: rightmost bytes when shorter, leading zeros when longer
  EXPECT_EQ(H("0012"), build("9F02 02", list, &rc));
  EXPECT_EQ(H("00 000000000012"), build("9F02 07", list, &rc));
  // compressed numeric: left-aligned, FF padding, cut on the right
  EXPECT_EQ(H("621700"), build("5A 03", list, &rc));
  EXPECT_EQ(H("6217000012345678907F FFFF"), build("5A 0C", list, &rc));
  // other formats: left-aligned, zero padding or cut on the right
  EXPECT_EQ(H("41420000"), build("9F4E 04", list, &rc));
  EXPECT_EQ(H("1234"), build("9F37 02", list, &rc));
  // templates and tags unknown to the table: zeros, whatever the list says
  EXPECT_EQ(H("000000"), build("70 03", list, &rc));
  EXPECT_EQ(H("0000"), build("DF7F 02", list, &rc));
  EXPECT_EQ(0, rc);
}

TEST(Dol, KnownTagMissingFromTheListFails) {
  Bytes list = list_of({{0x9F02, H("000000000012")}});
  int rc = 0;
  build("9F02 06 9F35 01", list, &rc);
  EXPECT_EQ(-1, rc);
  build("9F02", list, &rc);
  EXPECT_EQ(-2, rc);
}

TEST(Dol, TerminalListOfTheCardInformationReadFeedsTheCardsPdol) {
  TermData td;
  td.date[0] = 0x26;
  td.date[1] = 0x03;
  td.date[2] = 0x15;
  uint8_t list[512];
  size_t n = terminal_list(td, list, sizeof list);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(0, list[n - 1]);
  Bytes pdol = H("9F66049F02069F03069F1A0295055F2A029A039C019F3704");
  uint8_t out[64];
  size_t on = 0;
  ASSERT_EQ(0, dol_build(pdol.data(), pdol.size(), list, n, out, sizeof out, &on));
  EXPECT_EQ(H("F4000000 000000000012 000000000000 0156 0000000800 0156 260315 01 12345678"),
            Bytes(out, out + on));
  // The merchant name: 12 bytes of GBK text and zeros.
  const uint8_t* v = nullptr;
  size_t vl = 0;
  ASSERT_TRUE(termlist_find(list, n, 0x9F4E, &v, &vl));
  EXPECT_EQ(H("B2E2CAD4C9CCBBA7C3FBB3C6 0000000000000000"), Bytes(v, v + vl));
  EXPECT_FALSE(termlist_find(list, n, 0x8A, &v, &vl));
  td.risk = true;
  n = terminal_list(td, list, sizeof list);
  ASSERT_TRUE(termlist_find(list, n, 0x8A, &v, &vl));
  EXPECT_EQ(H("5A33"), Bytes(v, v + vl));  // "Z3" until the issuer answers
  EXPECT_EQ(0u, terminal_list(td, list, 40));  // does not fit: nothing
}

TEST(Texts, CardRecordOfTheExampleCard) {
  Application app;
  const Bytes aid = H("A000000333010101");
  memcpy(app.aid, aid.data(), aid.size());
  app.aidLen = aid.size();
  app.aip[0] = 0x7C;
  app.aip[1] = 0x00;
  app.recLen = 100;
  memset(app.records, 0x5A, 100);
  static char out[PAYTERM_CARDREC_SIZE];
  card_record_text(app, '2', out);
  std::string s = out;
  EXPECT_EQ(0u, s.find("4B5652" "000228" "4F08A0000003330101018202" "7C00"));
  ASSERT_EQ(6u + 6 + 228 + 1, s.size());
  EXPECT_EQ('2', s.back());
  std::string records;
  for (int i = 0; i < 100; ++i) records += "5A";
  EXPECT_EQ(records, s.substr(40, 200));
}

TEST(Texts, LettersTakeTheirOwnForms) {
  Application app;
  // PAN with a padding F, name as raw bytes, sequence number as digits.
  Bytes rec = H("70 1F 5A 0A 6217000012345678907F 5F20 05 5A48414E47 5F34 01 12 9F1F 04 30303031");
  memcpy(app.records, rec.data(), rec.size());
  app.recLen = rec.size();
  static char out[PAYTERM_CARDINFO_SIZE];
  ASSERT_EQ(0, card_info_text(app, "AxBJ-FC", false, out));
  EXPECT_STREQ("A0196217000012345678907" "B005ZHANG" "J00212" "F0040001" "C000", out);
  ASSERT_EQ(0, card_info_text(app, "", false, out));
  EXPECT_STREQ("", out);
  // GET DATA letters without a card count as absent.
  ASSERT_EQ(0, card_info_text(app, "GA", false, out));
  EXPECT_EQ(0u, std::string(out).find("G000A019"));
  std::string many(PAYTERM_TAGLIST_MAX + 1, 'A');
  EXPECT_EQ(PAYTERM_E_BAD_INPUT, card_info_text(app, many.c_str(), false, out));
}

TEST(Texts, DigitsStopAtTheFirstNonDigit) {
  Bytes t2 = H("6217000012345678907D30122200000F");
  EXPECT_EQ("6217000012345678907", digits_of(t2.data(), t2.size()));
  Bytes pan = H("621700001234567F");
  EXPECT_EQ("621700001234567", digits_of(pan.data(), pan.size()));
}

}  // namespace
