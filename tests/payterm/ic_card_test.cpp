// IC_ command table and card protocols: contact reset and APDUs (T=0 and
// T=1), the contactless block protocol with R(NAK) recovery and waiting
// time, and the composite card selection.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <deque>

#include "ic_link.h"
#include "ic_peer.h"
#include "payterm.h"
#include "timing.h"

namespace {

uint8_t lrc(const Bytes& b) {
  uint8_t x = 0;
  for (uint8_t v : b) x ^= v;
  return x;
}

class IcCardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    payterm::g_link_timing = payterm::LinkTiming();
    payterm::g_link_timing.delay_pct = 1;  // fixed pauses of seconds shrink to ms
    payterm::IcState& st = payterm::ic_state();
    st.tpro = -1;
    st.cpcb = 0;
    st.pro_pcb = 0x0B;
    fd_ = IC_InitComm(pty_.name().c_str());
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    IC_ExitComm(fd_);
    payterm::g_link_timing = payterm::LinkTiming();
  }
  void reset_with(const Bytes& atr) {
    {
      PeerThread peer([&] {
        reader_.serve(1, [&](const IcFrame&, uint8_t*, Bytes* out) {
          out->push_back(static_cast<uint8_t>(atr.size()));
          out->insert(out->end(), atr.begin(), atr.end());
        });
      });
      unsigned char got[255];
      unsigned char n = 0;
      ASSERT_EQ(0, IC_CpuReset(fd_, &n, got));
      EXPECT_EQ(atr, Bytes(got, got + n));
    }
    EXPECT_EQ(hex_bytes("03 43 00"), reader_.frames.back().frame);
  }
  PtyPair pty_;
  IcReader reader_{pty_};
  int fd_ = -1;
};

TEST_F(IcCardTest, T0ApduTravelsBehindTwoZeroBytes) {
  reset_with(hex_bytes("3B 80 80 01 01"));
  EXPECT_EQ(0, payterm::ic_state().tpro);
  {
    PeerThread peer([&] {
      reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("6A 82"); });
    });
    const Bytes apdu = hex_bytes("00 A4 04 00 02 3F 00");
    unsigned char resp[255];
    unsigned char n = 0;
    ASSERT_EQ(0, IC_CpuApdu(fd_, apdu.size(), apdu.data(), &n, resp));
    EXPECT_EQ(hex_bytes("6A 82"), Bytes(resp, resp + n));
  }
  EXPECT_EQ(hex_bytes("0B 41 00 00 00 A4 04 00 02 3F 00"), reader_.frames.back().frame);
  EXPECT_TRUE(reader_.frames.back().sum_ok);
}

TEST_F(IcCardTest, T1ApduTravelsInAlternatingIBlocksAndBadLrcGivesMinus131) {
  reset_with(hex_bytes("3B 81 81 31"));
  ASSERT_EQ(1, payterm::ic_state().tpro);
  std::vector<uint8_t> pcbs;
  int n_call = 0;
  {
    PeerThread peer([&] {
      reader_.serve(3, [&](const IcFrame& f, uint8_t*, Bytes* out) {
        Bytes blk(f.frame.begin() + 4, f.frame.end());
        pcbs.push_back(blk[1]);
        *out = {0x00, blk[1], 0x02, 0x90, 0x00};
        out->push_back(lrc(*out));
        if (++n_call == 3) out->back() ^= 0x01;
      });
    });
    const Bytes apdu = hex_bytes("00 84 00 00 08");
    for (int i = 0; i < 3; ++i) {
      unsigned char resp[255];
      unsigned char n = 0;
      int r = IC_CpuApdu(fd_, apdu.size(), apdu.data(), &n, resp);
      if (i < 2) {
        ASSERT_EQ(0, r);
        EXPECT_EQ(hex_bytes("90 00"), Bytes(resp, resp + n));
      } else {
        EXPECT_EQ(-131, r);
      }
    }
  }
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x40, 0x00}), pcbs);
  Bytes want = hex_bytes("0D 41 00 00 00 00 05 00 84 00 00 08");
  want.push_back(lrc(Bytes(want.begin() + 4, want.end())));
  EXPECT_EQ(want, reader_.frames[1].frame);
}

TEST_F(IcCardTest, ShortApduAndCardTypeFEGiveMinus135WithoutTraffic) {
  const unsigned char apdu[4] = {0, 0xA4, 4, 0};
  unsigned char resp[255];
  unsigned char n;
  EXPECT_EQ(-135, IC_CpuApdu(fd_, 4, apdu, &n, resp));
  EXPECT_EQ(-135, IC_InitType(fd_, 0xFE));
  EXPECT_TRUE(pty_.drain(50).empty());
}

TEST_F(IcCardTest, InitTypeIsSendOnlyForCpuSlotsAndReadsMemoryCardsOnce) {
  {
    PeerThread peer([&] {
      IcFrame f;
      if (reader_.recv(&f)) reader_.frames.push_back(f);
    });
    EXPECT_EQ(0, IC_InitType(fd_, 0x0C));
  }
  EXPECT_TRUE(pty_.drain(50).empty());
  ASSERT_EQ(1u, reader_.frames.size());
  EXPECT_EQ(hex_bytes("03 54 0C"), reader_.frames[0].frame);
  EXPECT_EQ(0x0C, payterm::ic_state().ctype);

  {
    PeerThread peer([&] {
      IcFrame f;
      if (reader_.recv(&f)) reader_.frames.push_back(f);
      reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("A2 13"); });
    });
    EXPECT_EQ(0, IC_InitType(fd_, 0x01));
  }
  ASSERT_EQ(3u, reader_.frames.size());
  EXPECT_EQ(hex_bytes("03 54 01"), reader_.frames[1].frame);
  EXPECT_EQ(hex_bytes("05 52 00 00 02"), reader_.frames[2].frame);
}

TEST_F(IcCardTest, ProResetSendsRatsThroughTransparentExchange) {
  payterm::ic_state().pro_pcb = 0x0A;
  {
    PeerThread peer([&] {
      reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) { *out = hex_bytes("05 78 80 70 02"); });
    });
    unsigned char ats[255];
    unsigned char n = 0;
    ASSERT_EQ(0, IC_Pro_Reset(fd_, &n, ats));
    EXPECT_EQ(hex_bytes("05 78 80 70 02"), Bytes(ats, ats + n));
  }
  EXPECT_EQ(hex_bytes("06 DF 04 02 E0 50"), reader_.frames[0].frame);
  EXPECT_EQ(0x0B, payterm::ic_state().pro_pcb);
}

struct IcProCard {
  std::vector<Bytes> blocks;  // blocks the host sent (after tt and length)
  std::vector<uint8_t> tts;
  std::deque<Bytes> answers;
  IcReader::Handler handler() {
    return [this](const IcFrame& f, uint8_t*, Bytes* out) {
      Bytes p = f.params();
      tts.push_back(p[0]);
      blocks.emplace_back(p.begin() + 2, p.end());
      if (!answers.empty()) {
        *out = answers.front();
        answers.pop_front();
      }
    };
  }
};

TEST_F(IcCardTest, CommandlinkChainsAnswersWtxAndRecoversWithNak) {
  Bytes apdu(12);
  for (size_t i = 0; i < apdu.size(); ++i) apdu[i] = static_cast<uint8_t>(0xC0 + i);
  IcProCard card;
  card.answers = {
      hex_bytes("AA 00"),           // R(ACK) with CID for the first segment (8 bytes)
      Bytes{},                      // garbled: empty block
      hex_bytes("FA 00 45"),        // waiting time with CID, WTXM 0x45
      hex_bytes("1B 00 01 02"),     // chained I-block, block number 1
      hex_bytes("0A 00 90 00"),     // last block
  };
  unsigned long rlen = 0;
  unsigned char resp[PAYTERM_PRO_RESP_MAX];
  {
    PeerThread peer([&] { reader_.serve(5, card.handler()); });
    ASSERT_EQ(0, IC_Pro_Commandlink(fd_, apdu.size(), apdu.data(), &rlen, resp, 9, 12));
  }
  EXPECT_EQ(hex_bytes("01 02 90 00"), Bytes(resp, resp + rlen));
  ASSERT_EQ(5u, card.blocks.size());
  Bytes b0 = {0x1A, 0x00};
  b0.insert(b0.end(), apdu.begin(), apdu.begin() + 8);
  EXPECT_EQ(b0, card.blocks[0]);
  Bytes b1 = {0x0B, 0x00};
  b1.insert(b1.end(), apdu.begin() + 8, apdu.end());
  EXPECT_EQ(b1, card.blocks[1]);
  EXPECT_EQ(hex_bytes("BB 00"), card.blocks[2]);     // R(NAK), block number of the last I-block
  EXPECT_EQ(hex_bytes("FA 00 05"), card.blocks[3]);  // WTXM low six bits
  EXPECT_EQ(hex_bytes("AA 00"), card.blocks[4]);     // R(ACK) after card block 1
  for (uint8_t tt : card.tts) EXPECT_EQ(9, tt);
  EXPECT_EQ(hex_bytes("0E DF 09 0A 1A 00 C0 C1 C2 C3 C4 C5 C6 C7"), reader_.frames[0].frame);
}

TEST_F(IcCardTest, CommandlinkGivesUpAfterThreeNakRepetitions) {
  IcProCard card;
  card.answers = {Bytes{}, Bytes{}, Bytes{}, Bytes{}};
  {
    PeerThread peer([&] { reader_.serve(4, card.handler()); });
    const Bytes apdu = hex_bytes("00 A4 04 00 00");
    unsigned long rlen = 0;
    unsigned char resp[PAYTERM_PRO_RESP_MAX];
    EXPECT_EQ(-136, IC_Pro_Commandlink(fd_, apdu.size(), apdu.data(), &rlen, resp, 7, 64));
  }
  ASSERT_EQ(4u, card.blocks.size());
  for (int i = 1; i < 4; ++i) EXPECT_EQ(hex_bytes("BA 00"), card.blocks[i]);
  EXPECT_TRUE(pty_.drain(50).empty());
}

TEST_F(IcCardTest, CardCompositeRunsRequestAnticollSelect) {
  {
    PeerThread peer([&] {
      reader_.serve(3, [](const IcFrame& f, uint8_t*, Bytes* out) {
        if (f.cmd() == 0xD0) *out = hex_bytes("04 00");
        if (f.cmd() == 0xD1) *out = hex_bytes("01 02 03 04");
        if (f.cmd() == 0xD2) *out = hex_bytes("08");
      });
    });
    unsigned long snr = 0;
    ASSERT_EQ(0, IC_Card(fd_, 1, &snr));
    EXPECT_EQ(0x04030201ul, snr);
  }
  ASSERT_EQ(3u, reader_.frames.size());
  EXPECT_EQ(hex_bytes("03 D0 01"), reader_.frames[0].frame);
  EXPECT_EQ(hex_bytes("03 D1 00"), reader_.frames[1].frame);
  EXPECT_EQ(hex_bytes("06 D2 01 02 03 04"), reader_.frames[2].frame);
}

TEST_F(IcCardTest, CommandFramesFollowTheTable) {
  const unsigned char key[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  const unsigned char pin[3] = {0xFF, 0xFF, 0xFF};
  struct Case {
    std::function<int()> call;
    const char* frame;
  };
  std::vector<Case> cases = {
      {[&] { return IC_ResetMifare(fd_, 10); }, "04 DC 0A 00"},
      {[&] { return IC_Load_Key(fd_, 0, 1, key); }, "0A DB 00 01 A0 A1 A2 A3 A4 A5"},
      {[&] { return IC_Authentication(fd_, 0, 1); }, "04 D3 00 01"},
      {[&] { return IC_Authentication_Passaddr(fd_, 0, 4, key); }, "0B DD 00 04 A0 A1 A2 A3 A4 A5 00"},
      {[&] { return IC_Halt(fd_); }, "02 D4"},
      {[&] { return IC_Increment(fd_, 5, 0x100); }, "07 D7 05 00 01 00 00"},
      {[&] { return IC_Decrement(fd_, 5, 1); }, "07 D8 05 01 00 00 00"},
      {[&] { return IC_Restore(fd_, 5); }, "03 D9 05"},
      {[&] { return IC_Transfer(fd_, 5); }, "03 DA 05"},
      {[&] { return IC_Config_Card(fd_, 'A'); }, "03 E0 41"},
      {[&] { return IC_ResetDevice(fd_); }, "02 FB"},
      {[&] { return IC_CheckPass_SLE4442(fd_, pin); }, "07 53 01 00 FF FF FF"},
      {[&] { return IC_Write_All(fd_, 0x20, 2, key); }, "07 57 20 00 02 A0 A1"},
      {[&] { return IC_Init_Value(fd_, 4, 1); },
       "13 D6 04 01 00 00 00 FE FF FF FF 01 00 00 00 04 FB 04 FB"},
  };
  {
    PeerThread peer([&] {
      reader_.serve(static_cast<int>(cases.size()), [](const IcFrame&, uint8_t*, Bytes*) {});
    });
    for (const Case& c : cases) EXPECT_EQ(0, c.call());
  }
  ASSERT_EQ(cases.size(), reader_.frames.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(hex_bytes(cases[i].frame), reader_.frames[i].frame) << i;
    EXPECT_TRUE(reader_.frames[i].sum_ok) << i;
  }
}

TEST_F(IcCardTest, ValueBlockIsCheckedOnRead) {
  {
    PeerThread peer([&] {
      reader_.serve(2, [](const IcFrame&, uint8_t*, Bytes* out) {
        *out = hex_bytes("F6 FF FF FF 09 00 00 00 F6 FF FF FF 04 FB 04 FB");
      });
    });
    long v = 0;
    EXPECT_EQ(0, IC_Read_Value(fd_, 4, &v));
    EXPECT_EQ(-10, v);
    unsigned char d[16];
    EXPECT_EQ(0, IC_ReadMifare(fd_, 4, d));
  }
  PeerThread peer([&] {
    reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) {
      *out = hex_bytes("01 00 00 00 00 00 00 00 01 00 00 00 04 FB 04 FB");
    });
  });
  long v = 0;
  EXPECT_EQ(-1, IC_Read_Value(fd_, 4, &v));
}

TEST_F(IcCardTest, ReadCountReturnsTheCounterByte) {
  PeerThread peer([&] {
    reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) { *out = {0x03}; });
  });
  EXPECT_EQ(3, IC_ReadCount_SLE4442(fd_));
}

TEST_F(IcCardTest, UnknownReaderProtocolsAreNotSupportedAndSendNothing) {
  unsigned char t2[64], t3[128], resp[16];
  int rl = 0;
  EXPECT_EQ(PAYTERM_E_NOT_SUPPORTED, IC_ReadMagCard(fd_, t2, t3));
  EXPECT_EQ(PAYTERM_E_NOT_SUPPORTED, IC_PosBeep(fd_, 1));
  EXPECT_EQ(PAYTERM_E_NOT_SUPPORTED, DEV_CommandMcu(fd_, t2, 1, resp, &rl));
  EXPECT_EQ(PAYTERM_E_NOT_SUPPORTED, SendDevCmd(fd_, t2, 1));
  EXPECT_TRUE(pty_.drain(50).empty());
}

}  // namespace

namespace {

TEST_F(IcCardTest, SetProtocolSwitchesApdusToT1Blocks) {
  {
    PeerThread peer([&] {
      IcFrame f;
      if (reader_.recv(&f)) reader_.frames.push_back(f);
    });
    EXPECT_EQ(0, IC_CpuSetProtocol(fd_, 1));
  }
  EXPECT_EQ(hex_bytes("04 CB 01 00"), reader_.frames.back().frame);
  EXPECT_EQ(1, payterm::ic_state().tpro);
  {
    PeerThread peer([&] {
      reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) {
        *out = {0x00, 0x00, 0x02, 0x90, 0x00};
        out->push_back(lrc(*out));
      });
    });
    const Bytes apdu = hex_bytes("00 84 00 00 04");
    unsigned char resp[255];
    unsigned char n = 0;
    EXPECT_EQ(0, IC_CpuApdu(fd_, apdu.size(), apdu.data(), &n, resp));
    EXPECT_EQ(hex_bytes("90 00"), Bytes(resp, resp + n));
  }
  EXPECT_EQ(0x00, reader_.frames.back().frame[4]);  // NAD after L, 'A', 00 00
  EXPECT_EQ(0x05, reader_.frames.back().frame[6]);  // LEN after PCB
}

TEST_F(IcCardTest, BeepAndPowerDownAreSendOnlyAndPauseAfterwards) {
  payterm::g_link_timing.delay_pct = 10;  // 2 s becomes 200 ms
  auto t0 = std::chrono::steady_clock::now();
  {
    PeerThread peer([&] {
      for (int i = 0; i < 2; ++i) {
        IcFrame f;
        if (reader_.recv(&f)) reader_.frames.push_back(f);
      }
    });
    EXPECT_EQ(0, IC_Beep(fd_, 0x01, 0x02));
    EXPECT_EQ(0, IC_Down(fd_));
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 380);
  ASSERT_EQ(2u, reader_.frames.size());
  EXPECT_EQ(hex_bytes("04 C8 01 02"), reader_.frames[0].frame);
  EXPECT_EQ(hex_bytes("03 54 7F"), reader_.frames[1].frame);
  EXPECT_TRUE(pty_.drain(50).empty());
}

}  // namespace
