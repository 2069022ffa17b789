// The pure framing units over byte buffers: dc_ bodies and the reply
// decoder, ATR protocol detection, T=1 blocks, the 14443-4 engine over a
// scripted link, IC_ sums, SDANDC and T10N texts, line settings, hex.
#include <gtest/gtest.h>
#include <string.h>
#include <termios.h>

#include <deque>
#include <string>
#include <vector>

#include "dc_frame.h"
#include "ic_frame.h"
#include "iso14443.h"
#include "payterm.h"
#include "port.h"
#include "sdandc_frame.h"
#include "t10n_frame.h"
#include "t1.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hx(const char* s) {
  Bytes out;
  int hi = -1;
  for (; *s; ++s) {
    int v = (*s >= '0' && *s <= '9') ? *s - '0' : (*s >= 'A' && *s <= 'F') ? *s - 'A' + 10 : -1;
    if (v < 0) continue;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  return out;
}

payterm::DcReplyParser::Result feed_all(payterm::DcReplyParser& p, const Bytes& b) {
  payterm::DcReplyParser::Result r = payterm::DcReplyParser::kMore;
  for (uint8_t v : b) {
    r = p.feed(v);
    if (r != payterm::DcReplyParser::kMore) break;
  }
  return r;
}

TEST(DcFrame, BodyAndStuffing) {
  uint8_t body[260];
  const uint8_t data[] = {0x10, 0x02};
  size_t n = payterm::dc_build_body(0x10, 0x7D, data, 2, body);
  EXPECT_EQ(hx("10 7D 02 10 02 7D"), Bytes(body, body + n));
  uint8_t wire[520];
  size_t w = payterm::dc_stuff(body, n, wire);
  EXPECT_EQ(hx("10 10 7D 02 10 10 02 7D"), Bytes(wire, wire + w));
}

TEST(DcFrame, ParserDecodesStuffedReply) {
  payterm::DcReplyParser p;
  EXPECT_EQ(payterm::DcReplyParser::kDone, feed_all(p, hx("01 00 02 10 10 03 10 10 10 03")));
  EXPECT_EQ(0, p.status());
  ASSERT_EQ(2, p.length());
  EXPECT_EQ(0x10, p.data()[0]);
  EXPECT_EQ(0x03, p.data()[1]);
}

TEST(DcFrame, ParserRejectsFaults) {
  struct Case {
    const char* wire;
    payterm::DcReplyParser::Result want;
  } cases[] = {
      {"01 00 01 10 41", payterm::DcReplyParser::kBadFrame},       // DLE then other byte
      {"01 00 00 01 10 04", payterm::DcReplyParser::kBadFrame},    // DLE then not ETX
      {"01 00 00 01 11", payterm::DcReplyParser::kBadFrame},       // no DLE at the end
      {"01 00 00 02 10 03", payterm::DcReplyParser::kBadCheck},    // XOR is 01
      {"01 00 00 01 10 03", payterm::DcReplyParser::kDone},
  };
  for (const Case& c : cases) {
    payterm::DcReplyParser p;
    EXPECT_EQ(c.want, feed_all(p, hx(c.wire))) << c.wire;
  }
}

TEST(AtrProtocol, Td1IsFoundBehindInterfaceBytes) {
  struct Case {
    const char* atr;
    bool t1;
  } cases[] = {
      {"3B 80 80 01 01", false},  // TD1 = 80
      {"3B 81 81 31", true},
      {"3B 91 11 81 31", true},   // TA1 before TD1
      {"3B F0 11 00 00 81 31", true},
      {"3B 60 00 00", false},     // no TD1
      {"3B 81", false},           // too short
      {"3B F0 11 00 00", false},  // TD1 announced but missing
      {"3B E0 00 00 91", true},   // TB1 TC1 then TD1 = 91
  };
  for (const Case& c : cases) {
    Bytes a = hx(c.atr);
    EXPECT_EQ(c.t1, payterm::atr_selects_t1(a.data(), a.size())) << c.atr;
  }
}

TEST(T1Block, BuildAndOpen) {
  const uint8_t inf[] = {0x00, 0xB0, 0x00, 0x00, 0x02};
  uint8_t blk[16];
  size_t n = payterm::t1_build_iblock(0x40, inf, sizeof inf, blk);
  EXPECT_EQ(hx("00 40 05 00 B0 00 00 02 F7"), Bytes(blk, blk + n));
  size_t len = 0;
  EXPECT_TRUE(payterm::t1_open_block(blk, n, &len));
  EXPECT_EQ(5u, len);
  blk[4] ^= 1;
  EXPECT_FALSE(payterm::t1_open_block(blk, n, &len));
  EXPECT_FALSE(payterm::t1_open_block(blk, 3, &len));
}

// A link that answers from a script and records what it was sent.
class ScriptLink : public payterm::BlockLink {
 public:
  std::deque<std::pair<int, Bytes>> answers;
  std::vector<Bytes> sent;
  int exchange(const uint8_t* blk, size_t n, uint8_t* reply, size_t* rn) override {
    sent.emplace_back(blk, blk + n);
    if (answers.empty()) return -64;
    auto a = answers.front();
    answers.pop_front();
    if (!a.second.empty()) memcpy(reply, a.second.data(), a.second.size());
    *rn = a.second.size();
    return a.first;
  }
};

TEST(ProEngine, InfOffsetFollowsCidAndNadBits) {
  EXPECT_EQ(1u, payterm::pro_inf_offset(0x02));
  EXPECT_EQ(2u, payterm::pro_inf_offset(0x0A));
  EXPECT_EQ(2u, payterm::pro_inf_offset(0x06));
  EXPECT_EQ(3u, payterm::pro_inf_offset(0x0E));
}

TEST(ProEngine, CardAskingForTimeForeverIsCutOff) {
  ScriptLink link;
  for (int i = 0; i <= payterm::kMaxWtx + 1; ++i) link.answers.push_back({0, hx("F2 01")});
  uint8_t pcb = 0x0B;
  const uint8_t apdu[] = {0x00, 0xA4, 0x04, 0x00, 0x00};
  uint8_t resp[64];
  size_t n = 0;
  EXPECT_EQ(-16, payterm::pro_transceive(link, payterm::ProStyle::Dc, pcb, apdu, 5, 5, resp,
                                         sizeof resp, &n));
  EXPECT_EQ(static_cast<size_t>(payterm::kMaxWtx) + 1, link.sent.size());
}

TEST(ProEngine, ResponseLargerThanTheBufferFails) {
  ScriptLink link;
  link.answers.push_back({0, hx("12 01 02 03 04")});
  link.answers.push_back({0, hx("03 05 06 07 08")});
  uint8_t pcb = 0x0B;
  const uint8_t apdu[] = {0x00};
  uint8_t resp[6];
  size_t n = 0;
  EXPECT_EQ(-16, payterm::pro_transceive(link, payterm::ProStyle::Dc, pcb, apdu, 1, 1, resp,
                                         sizeof resp, &n));
  EXPECT_EQ(-136, [&] {
    ScriptLink l2;
    l2.answers = link.answers;
    l2.answers.push_front({0, hx("12 01 02 03 04")});
    uint8_t p2 = 0x0B;
    return payterm::pro_transceive(l2, payterm::ProStyle::Ic, p2, apdu, 1, 1, resp, sizeof resp, &n);
  }());
}

TEST(ProEngine, EmptyChainedBlockEndsTheExchange) {
  ScriptLink link;
  for (int i = 0; i < 10; ++i) link.answers.push_back({0, hx("12")});
  uint8_t pcb = 0x0B;
  const uint8_t apdu[] = {0x00};
  uint8_t resp[64];
  size_t n = 0;
  EXPECT_EQ(-16, payterm::pro_transceive(link, payterm::ProStyle::Dc, pcb, apdu, 1, 1, resp,
                                         sizeof resp, &n));
  EXPECT_EQ(1u, link.sent.size());
}

TEST(ProEngine, TransportCodesPassThroughForDcAndBecomeNakForIc) {
  const uint8_t apdu[] = {0x00, 0x84};
  uint8_t resp[64];
  size_t n = 0;
  {
    ScriptLink link;
    link.answers.push_back({-64, Bytes{}});
    uint8_t pcb = 0x0B;
    EXPECT_EQ(-64, payterm::pro_transceive(link, payterm::ProStyle::Dc, pcb, apdu, 2, 8, resp,
                                           sizeof resp, &n));
  }
  ScriptLink link;
  link.answers.push_back({-128, Bytes{}});
  link.answers.push_back({0, hx("0E 00 00 90 00")});  // CID and NAD bytes
  uint8_t pcb = 0x0A;
  ASSERT_EQ(0, payterm::pro_transceive(link, payterm::ProStyle::Ic, pcb, apdu, 2, 8, resp,
                                       sizeof resp, &n));
  EXPECT_EQ(hx("90 00"), Bytes(resp, resp + n));
  ASSERT_EQ(2u, link.sent.size());
  EXPECT_EQ(hx("0B 00 00 84"), link.sent[0]);
  EXPECT_EQ(hx("BB 00"), link.sent[1]);
  EXPECT_EQ(0x0B, pcb);
}

TEST(ProEngine, UnexpectedBlockTypeIsAFault) {
  ScriptLink link;
  link.answers.push_back({0, hx("C2")});  // S(DESELECT) instead of an answer
  uint8_t pcb = 0x0B;
  const uint8_t apdu[] = {0x00};
  uint8_t resp[8];
  size_t n = 0;
  EXPECT_EQ(-16, payterm::pro_transceive(link, payterm::ProStyle::Dc, pcb, apdu, 1, 1, resp,
                                         sizeof resp, &n));
}

TEST(IcFrame, SealAndReplyCheck) {
  const uint8_t frame[] = {0x03, 0x43, 0x00};
  uint8_t out[8];
  EXPECT_EQ(4u, payterm::ic_seal_frame(frame, out));
  EXPECT_EQ(hx("03 43 00 46"), Bytes(out, out + 4));
  const uint8_t bad[] = {0x01, 0x43};
  EXPECT_EQ(0u, payterm::ic_seal_frame(bad, out));
  const uint8_t data[] = {0xFF, 0x02};
  EXPECT_EQ(0x03, payterm::ic_reply_check(data, 2));  // 2 + FF + 02 = 0x103
  char h[2];
  payterm::ic_aux_hex(0xA5, h);
  EXPECT_EQ('A', h[0]);
  EXPECT_EQ('5', h[1]);
}

TEST(SdandcFrame, EncodeAndDecode) {
  char out[4096];
  size_t n = payterm::sdandc_encode(0x40, nullptr, 0, out);
  EXPECT_EQ("D&C00044040", std::string(out, n));
  Bytes big(payterm::kSdandcDataMax + 1);
  EXPECT_EQ(0u, payterm::sdandc_encode(0x54, big.data(), big.size(), out));
  EXPECT_EQ(4096u, payterm::sdandc_encode(0x54, big.data(), big.size() - 1, out) + 1);

  uint8_t st = 0xFF, data[16];
  size_t dl = 99;
  EXPECT_EQ(0, payterm::sdandc_decode("001234" "26", 8, &st, data, &dl));
  EXPECT_EQ(0, st);
  EXPECT_EQ(2u, dl);
  EXPECT_EQ(0x12, data[0]);
  EXPECT_EQ(-1, payterm::sdandc_decode("0012343", 7, &st, data, &dl));   // odd
  EXPECT_EQ(-1, payterm::sdandc_decode("00", 2, &st, data, &dl));        // no check
  EXPECT_EQ(-1, payterm::sdandc_decode("0G12", 4, &st, data, &dl));      // not hex
  EXPECT_EQ(-1, payterm::sdandc_decode("001235" "26", 8, &st, data, &dl));
  EXPECT_EQ(0x0012, payterm::sdandc_length_field("0012"));
  EXPECT_EQ(-1, payterm::sdandc_length_field("00Z2"));
}

TEST(T10nFrame, EncodeAndDecode) {
  const uint8_t p[] = {0x32, 0x26};
  uint8_t out[16];
  size_t n = payterm::t10n_encode(p, 2, out);
  EXPECT_EQ(std::string("\x02" "0002322614\x03"), std::string(out, out + n));
  uint8_t b[4];
  size_t nb = 0;
  const uint8_t chars[] = {':', '?', '0', '1'};
  ASSERT_TRUE(payterm::t10n_decode_body(chars, 4, b, &nb));
  EXPECT_EQ(hx("AF 01"), Bytes(b, b + nb));
  const uint8_t badc[] = {'@', '0'};
  EXPECT_FALSE(payterm::t10n_decode_body(badc, 2, b, &nb));
  EXPECT_FALSE(payterm::t10n_decode_body(chars, 3, b, &nb));
  Bytes big(payterm::kT10nPayloadMax + 1);
  std::vector<uint8_t> fb(2 * big.size() + 16);
  EXPECT_EQ(0u, payterm::t10n_encode(big.data(), big.size(), fb.data()));
}

TEST(LineSettings, BothBaudTablesAndCharacterFormat) {
  struct termio t;
  memset(&t, 0, sizeof t);
  struct Case {
    long baud;
    payterm::BaudTable table;
    tcflag_t want;
  } cases[] = {
      {115200, payterm::BaudTable::Dc, B115200}, {57600, payterm::BaudTable::Dc, B57600},
      {38400, payterm::BaudTable::Dc, B38400},   {19200, payterm::BaudTable::Dc, B19200},
      {4800, payterm::BaudTable::Dc, B9600},     {300, payterm::BaudTable::Ic, B300},
      {600, payterm::BaudTable::Ic, B600},       {1200, payterm::BaudTable::Ic, B1200},
      {2400, payterm::BaudTable::Ic, B2400},     {4800, payterm::BaudTable::Ic, B4800},
      {38400, payterm::BaudTable::Ic, B38400},   {115200, payterm::BaudTable::Ic, B9600},
  };
  for (const Case& c : cases) {
    payterm::apply_line(&t, c.baud, 8, 'N', 1, 0, 5, c.table);
    EXPECT_EQ(c.want, static_cast<tcflag_t>(t.c_cflag & CBAUD)) << c.baud;
  }
  payterm::apply_line(&t, 9600, 7, 'E', 2, 300, 5, payterm::BaudTable::Dc);
  EXPECT_EQ(static_cast<tcflag_t>(CS7), t.c_cflag & CSIZE);
  EXPECT_EQ(static_cast<tcflag_t>(PARENB), t.c_cflag & (PARENB | PARODD));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_EQ(255, t.c_cc[VMIN]);
  memset(&t, 0, sizeof t);
  payterm::apply_line(&t, 9600, 8, 'O', 1, 0, 5, payterm::BaudTable::Ic);
  EXPECT_EQ(static_cast<tcflag_t>(CS8), t.c_cflag & CSIZE);
  EXPECT_EQ(static_cast<tcflag_t>(PARENB | PARODD), t.c_cflag & (PARENB | PARODD));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CREAD);  // only the dc_ variant enables the receiver
}

TEST(HexText, ConversionsBothWays) {
  const unsigned char in[] = {0x00, 0x9F, 0xA0};
  char out[7] = {};
  EXPECT_EQ(6, StdCharsToHexChars(in, out, 3));
  EXPECT_STREQ("009FA0", out);
  unsigned char back[3];
  EXPECT_EQ(3, HexCharsToStdChars("009fA0", back, 3));
  EXPECT_EQ(Bytes(in, in + 3), Bytes(back, back + 3));
  EXPECT_EQ(0, HexCharsToStdChars("00 9F", back, 2));
  EXPECT_EQ(0, HexCharsToStdChars("0g", back, 1));
  EXPECT_EQ(0, StdCharsToHexChars(in, out, 0));
}

}  // namespace
