// dc_ command table and the card protocols run in the host: T=0, T=1
// I-blocks and ISO/IEC 14443-4 chaining with waiting-time extensions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>

#include "dc_link.h"
#include "dc_peer.h"
#include "dc_state.h"
#include "payterm.h"
#include "timing.h"

namespace {

uint8_t lrc(const Bytes& b) {
  uint8_t x = 0;
  for (uint8_t v : b) x ^= v;
  return x;
}

class DcCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    payterm::g_link_timing = payterm::LinkTiming();
    payterm::dc_card_state() = payterm::DcCardState();
    fd_ = asyn_open(pty_.name().c_str(), 115200, 8, 'N', 1, 0, 5);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    close(fd_);
    payterm::g_link_timing = payterm::LinkTiming();
  }
  // A card reset answering atr, then n more frames through handler.
  void reset_with(const Bytes& atr) {
    PeerThread peer([&] {
      reader_.serve(1, [&](const DcFrame&, uint8_t*, Bytes* out) {
        out->push_back(static_cast<uint8_t>(atr.size()));
        out->insert(out->end(), atr.begin(), atr.end());
      });
    });
    unsigned char got[255];
    unsigned char n = 0;
    ASSERT_EQ(0, dc_cpureset(fd_, &n, got));
    peer.join();
    ASSERT_EQ(atr.size(), n);
    EXPECT_EQ(atr, Bytes(got, got + n));
    EXPECT_EQ(0x7E, reader_.frames.back().cmd);
  }
  PtyPair pty_;
  DcReader reader_{pty_};
  int fd_ = -1;
};

TEST_F(DcCardTest, ApduShorterThanFiveBytesGivesMinus48WithoutTraffic) {
  const unsigned char apdu[4] = {0x00, 0xA4, 0x04, 0x00};
  unsigned long rlen = 0;
  unsigned char resp[255];
  EXPECT_EQ(-48, dc_cpuapdu(fd_, 4, apdu, &rlen, resp));
  EXPECT_TRUE(pty_.drain(50).empty());
}

TEST_F(DcCardTest, AtrWithTd1LowNibbleZeroKeepsT0) {
  reset_with(hex_bytes("3B 80 80 01 01"));
  EXPECT_EQ(0, payterm::dc_card_state().tpro);
  // T=0: the APDU goes out as it is, behind its length byte.
  const Bytes apdu = hex_bytes("00 B0 00 00 02");
  {
    PeerThread peer([&] {
      reader_.serve(1, [](const DcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("04 12 34 90 00"); });
    });
    unsigned long rlen = 0;
    unsigned char resp[255];
    ASSERT_EQ(0, dc_cpuapdu(fd_, apdu.size(), apdu.data(), &rlen, resp));
    EXPECT_EQ(hex_bytes("12 34 90 00"), Bytes(resp, resp + rlen));
  }
  EXPECT_EQ(0x7D, reader_.frames.back().cmd);
  EXPECT_EQ(hex_bytes("05 00 B0 00 00 02"), reader_.frames.back().data);
}

TEST_F(DcCardTest, AtrWithTd1SelectingT1WrapsApdusInAlternatingIBlocks) {
  reset_with(hex_bytes("3B 81 81 31 FE 45"));
  ASSERT_EQ(1, payterm::dc_card_state().tpro);
  const Bytes apdu = hex_bytes("00 84 00 00 08");
  std::vector<uint8_t> pcbs;
  {
    PeerThread peer([&] {
      reader_.serve(3, [&](const DcFrame& f, uint8_t*, Bytes* out) {
        // data: length byte, then NAD PCB LEN INF LRC
        Bytes blk(f.data.begin() + 1, f.data.end());
        if (blk.size() < 4 || lrc(blk) != 0) return;
        pcbs.push_back(blk[1]);
        Bytes rb = {0x00, blk[1], 0x03, 0xAB, 0x90, 0x00};
        rb.push_back(lrc(rb));
        out->push_back(static_cast<uint8_t>(rb.size()));
        out->insert(out->end(), rb.begin(), rb.end());
      });
    });
    for (int i = 0; i < 3; ++i) {
      unsigned long rlen = 0;
      unsigned char resp[255];
      ASSERT_EQ(0, dc_cpuapdu(fd_, apdu.size(), apdu.data(), &rlen, resp));
      EXPECT_EQ(hex_bytes("AB 90 00"), Bytes(resp, resp + rlen));
    }
  }
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x40, 0x00}), pcbs);
  Bytes first = reader_.frames[1].data;
  Bytes want = hex_bytes("09 00 00 05 00 84 00 00 08");
  want.push_back(lrc(Bytes(want.begin() + 1, want.end())));
  EXPECT_EQ(want, first);
}

TEST_F(DcCardTest, T1AtrAfterTa1Tb1Tc1IsFound) {
  // T0 = F0: TA1 TB1 TC1 precede TD1 = 0x81
  reset_with(hex_bytes("3B F0 11 00 00 81 31"));
  EXPECT_EQ(1, payterm::dc_card_state().tpro);
}

TEST_F(DcCardTest, T1ReplyWithWrongLrcGivesMinus81) {
  reset_with(hex_bytes("3B 81 81 31"));
  const Bytes apdu = hex_bytes("00 84 00 00 08");
  PeerThread peer([&] {
    reader_.serve(1, [&](const DcFrame&, uint8_t*, Bytes* out) {
      *out = hex_bytes("06 00 00 02 90 00 77");
    });
  });
  unsigned long rlen = 0;
  unsigned char resp[255];
  EXPECT_EQ(-81, dc_cpuapdu(fd_, apdu.size(), apdu.data(), &rlen, resp));
}

TEST_F(DcCardTest, ResetRestartsT1BlockNumbering) {
  payterm::dc_card_state().cpcb = 0x40;
  payterm::dc_card_state().tpro = 1;
  reset_with(hex_bytes("3B 80 80 01 01"));
  EXPECT_EQ(0x00, payterm::dc_card_state().cpcb);
  EXPECT_EQ(0, payterm::dc_card_state().tpro);
}

// A contactless card behind command 0x86: records every block it gets and
// answers from a script.
struct ProCard {
  std::vector<Bytes> got;  // tt, length, block
  std::deque<Bytes> answers;
  DcReader::Handler handler() {
    return [this](const DcFrame& f, uint8_t* st, Bytes* out) {
      got.push_back(f.data);
      if (answers.empty()) {
        *st = 1;
        return;
      }
      Bytes a = answers.front();
      answers.pop_front();
      out->push_back(static_cast<uint8_t>(a.size()));
      out->insert(out->end(), a.begin(), a.end());
    };
  }
};

TEST_F(DcCardTest, ProResetSendsParameter60AndReturnsAts) {
  payterm::dc_card_state().pro_pcb = 0x0A;
  {
    PeerThread peer([&] {
      reader_.serve(1, [](const DcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("05 78 80 70 02"); });
    });
    unsigned char ats[255];
    unsigned char n = 0;
    ASSERT_EQ(0, dc_pro_reset(fd_, &n, ats));
    EXPECT_EQ(hex_bytes("05 78 80 70 02"), Bytes(ats, ats + n));
  }
  EXPECT_EQ(0x85, reader_.frames[0].cmd);
  EXPECT_EQ(hex_bytes("60"), reader_.frames[0].data);
  EXPECT_EQ(0x0B, payterm::dc_card_state().pro_pcb);
}

TEST_F(DcCardTest, CommandlinkChainsEchoesWtxAndCollectsChainedResponse) {
  // 25 bytes with fg 16: segments of 10, 10 and 5.
  Bytes apdu(25);
  for (size_t i = 0; i < apdu.size(); ++i) apdu[i] = static_cast<uint8_t>(i + 1);
  ProCard card;
  card.answers = {
      hex_bytes("A2"),           // R(ACK) for the first segment
      hex_bytes("F2 3B"),        // waiting time, without CID
      hex_bytes("A3"),           // R(ACK) for the second segment
      hex_bytes("12 11 22"),     // chained I-block, block number 0, no CID
      hex_bytes("0B 00 33 90 00"),  // last I-block with CID
  };
  unsigned long rlen = 0;
  unsigned char resp[PAYTERM_PRO_RESP_MAX];
  {
    PeerThread peer([&] { reader_.serve(5, card.handler()); });
    ASSERT_EQ(0, dc_pro_commandlink(fd_, apdu.size(), apdu.data(), &rlen, resp, 7, 16));
  }
  EXPECT_EQ(hex_bytes("11 22 33 90 00"), Bytes(resp, resp + rlen));
  ASSERT_EQ(5u, card.got.size());
  Bytes b0 = {0x07, 12, 0x1A, 0x00};
  b0.insert(b0.end(), apdu.begin(), apdu.begin() + 10);
  EXPECT_EQ(b0, card.got[0]);
  Bytes b1 = {0x07, 12, 0x1B, 0x00};
  b1.insert(b1.end(), apdu.begin() + 10, apdu.begin() + 20);
  EXPECT_EQ(b1, card.got[1]);
  EXPECT_EQ(hex_bytes("07 02 F2 3B"), card.got[2]);  // S(WTX) echoed unchanged
  Bytes b2 = {0x07, 7, 0x0A, 0x00};
  b2.insert(b2.end(), apdu.begin() + 20, apdu.end());
  EXPECT_EQ(b2, card.got[3]);
  EXPECT_EQ(hex_bytes("07 02 AB 00"), card.got[4]);  // R(ACK) after block 0
  for (const Bytes& g : card.got) EXPECT_EQ(0x86, reader_.frames[&g - &card.got[0]].cmd);
}

TEST_F(DcCardTest, ProCommandAlternatesBlockNumberFromCallToCall) {
  payterm::dc_card_state().pro_pcb = 0x0B;
  ProCard card;
  card.answers = {hex_bytes("0A 00 90 00"), hex_bytes("0B 00 6A 82"), hex_bytes("0A 00 90 00")};
  {
    PeerThread peer([&] { reader_.serve(3, card.handler()); });
    const Bytes apdu = hex_bytes("00 A4 04 00 00");
    for (int i = 0; i < 3; ++i) {
      unsigned char resp[255];
      unsigned char n = 0;
      ASSERT_EQ(0, dc_pro_command(fd_, apdu.size(), apdu.data(), &n, resp, 5));
      EXPECT_EQ(2, n);
    }
  }
  ASSERT_EQ(3u, card.got.size());
  EXPECT_EQ(0x0A, card.got[0][2]);
  EXPECT_EQ(0x0B, card.got[1][2]);
  EXPECT_EQ(0x0A, card.got[2][2]);
  EXPECT_EQ(hex_bytes("05 07 0A 00 00 A4 04 00 00"), card.got[0]);
}

TEST_F(DcCardTest, CommandlinkWithFrameSizeBelowSevenGivesMinus48WithoutTraffic) {
  const Bytes apdu = hex_bytes("00 A4 04 00 00");
  unsigned long rlen = 0;
  unsigned char resp[PAYTERM_PRO_RESP_MAX];
  EXPECT_EQ(-48, dc_pro_commandlink(fd_, apdu.size(), apdu.data(), &rlen, resp, 7, 6));
  EXPECT_TRUE(pty_.drain(50).empty());
}

TEST_F(DcCardTest, ChainedSegmentNotAnsweredByAckGivesMinus16) {
  ProCard card;
  card.answers = {hex_bytes("0A 00 90 00")};
  PeerThread peer([&] { reader_.serve(1, card.handler()); });
  Bytes apdu(20, 0x55);
  unsigned long rlen = 0;
  unsigned char resp[PAYTERM_PRO_RESP_MAX];
  EXPECT_EQ(-16, dc_pro_commandlink(fd_, apdu.size(), apdu.data(), &rlen, resp, 7, 16));
}

TEST_F(DcCardTest, EmptyCardBlockGivesMinus16) {
  ProCard card;
  card.answers = {Bytes{}};
  PeerThread peer([&] { reader_.serve(1, card.handler()); });
  const Bytes apdu = hex_bytes("00 A4 04 00 00");
  unsigned long rlen = 0;
  unsigned char resp[PAYTERM_PRO_RESP_MAX];
  EXPECT_EQ(-16, dc_pro_commandlink(fd_, apdu.size(), apdu.data(), &rlen, resp, 7, 64));
}

TEST_F(DcCardTest, CardCompositeRequestsAnticollidesAndSelects) {
  {
    PeerThread peer([&] {
      reader_.serve(3, [](const DcFrame& f, uint8_t*, Bytes* out) {
        if (f.cmd == 0x41) *out = hex_bytes("04 00");
        if (f.cmd == 0x42) *out = hex_bytes("DE AD BE EF");
        if (f.cmd == 0x43) *out = hex_bytes("08");
      });
    });
    unsigned long snr = 0;
    ASSERT_EQ(0, dc_card(fd_, 0xFF, &snr));
    EXPECT_EQ(0xEFBEADDEul, snr);
  }
  ASSERT_EQ(3u, reader_.frames.size());
  EXPECT_EQ(0x41, reader_.frames[0].cmd);
  EXPECT_EQ(hex_bytes("81"), reader_.frames[0].data);  // mode AND 0x81
  EXPECT_EQ(hex_bytes("00 00 00 00 00"), reader_.frames[1].data);
  EXPECT_EQ(hex_bytes("DE AD BE EF"), reader_.frames[2].data);
}

TEST_F(DcCardTest, RequestIsSentOnceMoreAfterAFailedReply) {
  {
    PeerThread peer([&] {
      int n = 0;
      reader_.serve(2, [&](const DcFrame&, uint8_t* st, Bytes* out) {
        if (n++ == 0) *st = 1;
        *out = hex_bytes("02 00");
      });
    });
    unsigned int tag = 0;
    EXPECT_EQ(0, dc_request(fd_, 0x01, &tag));
    EXPECT_EQ(0x0002u, tag);
  }
  EXPECT_EQ(2u, reader_.frames.size());
}

TEST_F(DcCardTest, CommandBytesAndRequestLayouts) {
  struct Case {
    std::function<int()> call;
    uint8_t cmd;
    const char* data;
  };
  const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const unsigned char d16[16] = {0};
  std::vector<Case> cases = {
      {[&] { return dc_reset(fd_, 0x0102); }, 0x4E, "02 01"},
      {[&] { return dc_beep(fd_, 0x0114); }, 0x57, "14 00"},
      {[&] { return dc_authentication(fd_, 0, 5); }, 0x44, "00 05"},
      {[&] { return dc_halt(fd_); }, 0x45, ""},
      {[&] { return dc_increment(fd_, 4, 0x01020304); }, 0x48, "04 04 03 02 01"},
      {[&] { return dc_decrement(fd_, 4, 1); }, 0x49, "04 01 00 00 00"},
      {[&] { return dc_restore(fd_, 9); }, 0x4A, "09"},
      {[&] { return dc_transfer(fd_, 9); }, 0x4B, "09"},
      {[&] { return dc_load_key(fd_, 0, 1, key); }, 0x4C, "00 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
      {[&] { return dc_write(fd_, 2, d16); }, 0x47, "02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {[&] { return dc_setcpu(fd_, 0x0C); }, 0x83, "0C"},
      {[&] { return dc_setcpupara(fd_, 0x0C, 0x00, 0x5C); }, 0xE9, "0C 00 5C"},
      {[&] { return dc_config_card(fd_, 'A'); }, 0x87, "41"},
      {[&] { return dc_cpudown(fd_); }, 0x7C, ""},
      {[&] { return dc_write_4442(fd_, 0x0120, 2, key); }, 0xB1, "20 01 02 01 02"},
      {[&] { return swr_alleeprom(fd_, 0x0010, 1, key); }, 0x38, "10 00 01 01"},
      {[&] { return dc_set_autoflag(fd_, 1); }, 0x86, "01"},
  };
  {
    PeerThread peer([&] {
      reader_.serve(static_cast<int>(cases.size()), [](const DcFrame&, uint8_t*, Bytes*) {});
    });
    for (const Case& c : cases) EXPECT_EQ(0, c.call());
  }
  ASSERT_EQ(cases.size(), reader_.frames.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].cmd, reader_.frames[i].cmd) << i;
    EXPECT_EQ(hex_bytes(cases[i].data), reader_.frames[i].data) << i;
  }
}

TEST_F(DcCardTest, FixedSizeReplyThatIsShortGivesMinus16) {
  PeerThread peer([&] {
    reader_.serve(1, [](const DcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("01 02 03"); });
  });
  unsigned char d[16];
  EXPECT_EQ(-16, dc_read(fd_, 1, d));
}

TEST_F(DcCardTest, HexTwinsConvertArgumentsAndResults) {
  {
    PeerThread peer([&] {
      reader_.serve(2, [](const DcFrame& f, uint8_t*, Bytes* out) {
        if (f.cmd == 0x46) *out = hex_bytes("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
      });
    });
    char text[33];
    ASSERT_EQ(0, dc_read_hex(fd_, 4, text));
    EXPECT_STREQ("00112233445566778899AABBCCDDEEFF", text);
    EXPECT_EQ(0, dc_write_hex(fd_, 5, "0102030405060708090a0b0c0d0e0f10"));
  }
  EXPECT_EQ(hex_bytes("05 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"), reader_.frames[1].data);
  // Text that is not hex is refused before anything is sent.
  EXPECT_EQ(-48, dc_write_hex(fd_, 5, "zz02030405060708090a0b0c0d0e0f10"));
  EXPECT_EQ(-48, dc_write_hex(fd_, 5, "0102"));
  EXPECT_TRUE(pty_.drain(50).empty());
}

}  // namespace

namespace {

TEST_F(DcCardTest, CommandsourceCarriesARawBlockBothWays) {
  {
    PeerThread peer([&] {
      reader_.serve(1, [](const DcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("03 02 90 00"); });
    });
    const Bytes blk = hex_bytes("02 00 A4 04 00 00");
    unsigned char resp[255];
    unsigned char n = 0;
    ASSERT_EQ(0, dc_pro_commandsource(fd_, blk.size(), blk.data(), &n, resp, 9));
    EXPECT_EQ(hex_bytes("02 90 00"), Bytes(resp, resp + n));
  }
  EXPECT_EQ(hex_bytes("09 06 02 00 A4 04 00 00"), reader_.frames[0].data);
}

TEST_F(DcCardTest, InnerLengthBeyondTheReplyIsRefused) {
  PeerThread peer([&] {
    reader_.serve(1, [](const DcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("09 3B 00"); });
  });
  unsigned char atr[255];
  unsigned char n = 0;
  EXPECT_EQ(-16, dc_cpureset(fd_, &n, atr));
}

}  // namespace
