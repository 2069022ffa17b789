// SDANDC ("D&C" hex text) and T10N (ASCII nibbles between STX and ETX)
// readers against peers on a pseudo-terminal.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "payterm.h"
#include "pty_peer.h"
#include "sdandc.h"
#include "t10n.h"
#include "timing.h"

namespace {

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The reader side of SDANDC, written from the frame layout.
std::string sdandc_reply(const Bytes& payload /* status and data */, bool corrupt = false) {
  static const char d[] = "0123456789ABCDEF";
  uint8_t x = 0;
  for (uint8_t v : payload) x ^= v;
  Bytes all = payload;
  all.push_back(corrupt ? static_cast<uint8_t>(x ^ 1) : x);
  std::string hex;
  for (uint8_t v : all) {
    hex += d[v >> 4];
    hex += d[v & 15];
  }
  char len[5];
  snprintf(len, sizeof len, "%04X", static_cast<unsigned>(hex.size()));
  return "D&C" + std::string(len) + hex;
}

class SdandcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_timeout_ = g_TIMEOUT_ALL_ComRead;
    fd_ = pty_.slave();
  }
  void TearDown() override { g_TIMEOUT_ALL_ComRead = saved_timeout_; }
  // Reads one request (D&C + length + that many characters).
  std::string read_request() {
    Bytes head = pty_.read_exactly(7);
    if (head.size() != 7) return "";
    unsigned n = std::stoul(text_of(Bytes(head.begin() + 3, head.end())), nullptr, 16);
    Bytes rest = pty_.read_exactly(n);
    return text_of(head) + text_of(rest);
  }
  PtyPair pty_;
  int fd_ = -1;
  int saved_timeout_ = 5;
};

TEST_F(SdandcTest, ResetRequestIsExactlyDandC00044040) {
  std::string req;
  {
    PeerThread peer([&] {
      req = read_request();
      pty_.write(bytes_of(sdandc_reply({0x00})));
    });
    EXPECT_EQ(0, SDANDC_Device_Reset(fd_));
  }
  EXPECT_EQ("D&C00044040", req);
  EXPECT_EQ("D&C00040000", sdandc_reply({0x00}));
}

TEST_F(SdandcTest, CommandCarriesDataAndReturnsReplyData) {
  std::string req;
  unsigned char out[2048];
  int n = 0;
  {
    PeerThread peer([&] {
      req = read_request();
      pty_.write(bytes_of(sdandc_reply({0x00, 0x3B, 0x81, 0x81, 0x31})));
    });
    const unsigned char data[] = {0x03, 0x01, 0x02};
    EXPECT_EQ(0, DC_command(fd_, 0x31, data, 3, out, &n));
  }
  EXPECT_EQ("D&C000A3103010231", req);  // check 31^03^01^02 = 31
  ASSERT_EQ(4, n);
  EXPECT_EQ(hex_bytes("3B 81 81 31"), Bytes(out, out + 4));
}

TEST_F(SdandcTest, ContactResetSetsT1FlagFromTd1) {
  {
    PeerThread peer([&] {
      read_request();
      pty_.write(bytes_of(sdandc_reply({0x00, 0x3B, 0x81, 0x81, 0x31})));
      read_request();
      pty_.write(bytes_of(sdandc_reply({0x00, 0x3B, 0x80, 0x80, 0x01, 0x01})));
    });
    unsigned long n = 0;
    unsigned char atr[2048];
    ASSERT_EQ(0, SDANDC_Device_CpuReset(fd_, 3, 1, 2, &n, atr));
    EXPECT_EQ(4u, n);
    EXPECT_EQ(1, payterm::sdandc_t1_flag());
    ASSERT_EQ(0, SDANDC_Device_CpuReset(fd_, 3, 1, 2, &n, atr));
    EXPECT_EQ(0, payterm::sdandc_t1_flag());
  }
}

TEST_F(SdandcTest, OperationsUseTheirCommandBytes) {
  std::vector<std::string> reqs;
  {
    PeerThread peer([&] {
      for (int i = 0; i < 6; ++i) {
        std::string r = read_request();
        reqs.push_back(r);
        if (r.compare(7, 2, "50") == 0)
          pty_.write(bytes_of(sdandc_reply({0x00, 0x04, 0x11, 0x22, 0x33, 0x44})));
        else
          pty_.write(bytes_of(sdandc_reply({0x00, 0x90, 0x00})));
      }
    });
    EXPECT_EQ(0, SDANDC_Device_CardConfig(fd_, 'A'));
    EXPECT_EQ(0, SDANDC_Device_SetCpu(fd_, 0x0C));
    unsigned long n = 0;
    unsigned char buf[2048];
    const unsigned char apdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
    EXPECT_EQ(0, SDANDC_Device_Cpuapdu(fd_, 0x0C, 5, apdu, &n, buf));
    EXPECT_EQ(hex_bytes("90 00"), Bytes(buf, buf + n));
    EXPECT_EQ(0, SDANDC_Device_FindCard(fd_, &n, buf));
    EXPECT_EQ(hex_bytes("11 22 33 44"), Bytes(buf, buf + n));
    EXPECT_EQ(0, SDANDC_Device_CardReset(fd_, &n, buf));
    EXPECT_EQ(0, SDANDC_Device_CardApdu(fd_, 5, apdu, &n, buf, 7, 56));
  }
  ASSERT_EQ(6u, reqs.size());
  EXPECT_EQ("D&C0006414100", reqs[0]);
  EXPECT_EQ("D&C0006300C3C", reqs[1]);
  EXPECT_EQ("D&C0012320C050084000008B7", reqs[2]);
  EXPECT_EQ("D&C00045050", reqs[3]);
  EXPECT_EQ("D&C00045151", reqs[4]);
  EXPECT_EQ("D&C00125407380084000008", reqs[5].substr(0, 23));
}

TEST_F(SdandcTest, ReplyWithBadXorGivesMinus1) {
  PeerThread peer([&] {
    read_request();
    pty_.write(bytes_of(sdandc_reply({0x00, 0x12}, true)));
  });
  unsigned char out[2048];
  int n = 0;
  EXPECT_EQ(-1, DC_command(fd_, 0x40, nullptr, 0, out, &n));
}

TEST_F(SdandcTest, NonzeroStatusGivesMinusStatusAndOperationsMinus1) {
  {
    PeerThread peer([&] {
      read_request();
      pty_.write(bytes_of(sdandc_reply({0x07})));
    });
    EXPECT_EQ(-7, DC_command(fd_, 0x40, nullptr, 0, nullptr, nullptr));
  }
  PeerThread peer([&] {
    read_request();
    pty_.write(bytes_of(sdandc_reply({0x07})));
  });
  EXPECT_EQ(-1, SDANDC_Device_Reset(fd_));
}

TEST_F(SdandcTest, ReplyThatStopsArrivingEndsWithMinus1AfterTheTotalTimeout) {
  g_TIMEOUT_ALL_ComRead = 1;
  PeerThread peer([&] {
    read_request();
    pty_.write(bytes_of("D&C0008009"));  // four of eight characters
  });
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, SDANDC_Device_Reset(fd_));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 950);
  EXPECT_LT(ms, 4000);
}

TEST_F(SdandcTest, ReplyNotStartingDandCGivesMinus1) {
  PeerThread peer([&] {
    read_request();
    pty_.write(bytes_of("X&C00040000"));
  });
  EXPECT_EQ(-1, SDANDC_Device_Reset(fd_));
}

TEST_F(SdandcTest, LengthBeyondTheFrameBufferIsRefusedWithoutReadingOn) {
  g_TIMEOUT_ALL_ComRead = 1;
  auto t0 = std::chrono::steady_clock::now();
  {
    PeerThread peer([&] {
      read_request();
      pty_.write(bytes_of("D&CFFFF00"));
    });
    EXPECT_EQ(-1, SDANDC_Device_Reset(fd_));
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 900);  // refused on the length, not after a time-out
}

TEST_F(SdandcTest, CommunicationChecksThePreparedFrame) {
  char reply[4096];
  int n = 0;
  EXPECT_EQ(-1, DC_communication(fd_, "D&C000440", 9, reply, &n));
  EXPECT_EQ(-1, DC_communication(fd_, "X&C00044040", 11, reply, &n));
  EXPECT_TRUE(pty_.drain(50).empty());
}

TEST_F(SdandcTest, ComReadReturnsWhatCameWithinTheTotalTimeout) {
  g_TIMEOUT_ALL_ComRead = 1;
  pty_.write(hex_bytes("01 02 03"));
  unsigned char buf[8];
  EXPECT_EQ(3, ComRead(fd_, buf, 8));
  EXPECT_EQ(hex_bytes("01 02 03"), Bytes(buf, buf + 3));
  EXPECT_EQ(2, ComWrite(fd_, buf, 2));
  EXPECT_EQ(hex_bytes("01 02"), pty_.read_exactly(2));
}

class T10nTest : public ::testing::Test {
 protected:
  void SetUp() override {
    payterm::g_link_timing = payterm::LinkTiming();
    payterm::t10n_channel() = pty_.slave();
  }
  void TearDown() override {
    payterm::t10n_channel() = -1;
    payterm::g_link_timing = payterm::LinkTiming();
  }
  // One frame from the host: STX .. ETX.
  Bytes read_frame() {
    Bytes f;
    for (int i = 0; i < 5000; ++i) {
      int b = pty_.read1();
      if (b < 0) break;
      f.push_back(static_cast<uint8_t>(b));
      if (b == 0x03) break;
    }
    return f;
  }
  // Reply with the given status and data (and the check byte).
  static Bytes reply(const Bytes& status_and_data, int length_override = -1, bool with_check = true) {
    Bytes f{0x02};
    unsigned len = length_override >= 0 ? static_cast<unsigned>(length_override)
                                         : static_cast<unsigned>(status_and_data.size());
    for (int s = 12; s >= 0; s -= 4) f.push_back(static_cast<uint8_t>(0x30 + ((len >> s) & 15)));
    uint8_t x = 0;
    for (uint8_t v : status_and_data) {
      f.push_back(static_cast<uint8_t>(0x30 + (v >> 4)));
      f.push_back(static_cast<uint8_t>(0x30 + (v & 15)));
      x ^= v;
    }
    if (with_check) {
      f.push_back(static_cast<uint8_t>(0x30 + (x >> 4)));
      f.push_back(static_cast<uint8_t>(0x30 + (x & 15)));
    }
    f.push_back(0x03);
    return f;
  }
  PtyPair pty_;
};

TEST_F(T10nTest, FrameFor3226IsLength0002Payload3226Check14) {
  const unsigned char p[] = {0x32, 0x26};
  EXPECT_EQ(0, Dc_T10N_PackAndWriteData(p, 2));
  Bytes want{0x02};
  for (char c : std::string("0002322614")) want.push_back(static_cast<uint8_t>(c));
  want.push_back(0x03);
  EXPECT_EQ(want, read_frame());
}

TEST_F(T10nTest, NibblesAboveNineBecomeColonToQuestionMark) {
  const unsigned char p[] = {0xAF, 0xBC};
  EXPECT_EQ(0, Dc_T10N_PackAndWriteData(p, 2));
  EXPECT_EQ("\x02" "0002:?;<13\x03", text_of(read_frame()));  // check AF^BC = 13
}

TEST_F(T10nTest, ApduCarriesLcAndDataOrLe) {
  Bytes f1, f2;
  unsigned char resp[2048];
  int n = 0;
  {
    PeerThread peer([&] {
      f1 = read_frame();
      pty_.write(reply(hex_bytes("00 00 90 00")));
      f2 = read_frame();
      pty_.write(reply(hex_bytes("00 00 01 02 90 00")));
    });
    const unsigned char data[] = {0x3F, 0x00};
    ASSERT_EQ(0, Dc_T10N_APDU(0x00, 0x00, 0xA4, 0x00, 0x00, 2, data, 0, resp, &n));
    EXPECT_EQ(hex_bytes("90 00"), Bytes(resp, resp + n));
    ASSERT_EQ(0, Dc_T10N_APDU(0xFF, 0x00, 0xB0, 0x00, 0x00, 0, nullptr, 2, resp, &n));
    EXPECT_EQ(hex_bytes("01 02 90 00"), Bytes(resp, resp + n));
  }
  // 32 26 00 00 A4 00 00 02 3F 00, check 0x8D
  EXPECT_EQ("\x02" "000:32260000:40000023?008=\x03", text_of(f1));
  // 32 26 FF 00 B0 00 00 02, check 0x59
  EXPECT_EQ("\x02" "00083226??00;000000259\x03", text_of(f2));
}

TEST_F(T10nTest, PowerOperationsSendTheirPayloads) {
  std::vector<Bytes> frames;
  {
    PeerThread peer([&] {
      for (int i = 0; i < 4; ++i) {
        frames.push_back(read_frame());
        pty_.write(reply(hex_bytes("00 00 3B 00")));
      }
    });
    unsigned char buf[2048];
    int n = 0;
    EXPECT_EQ(0, Dc_T10N_IC_PowerUp(0x01, 0x00, 0x00, buf, &n));
    EXPECT_EQ(hex_bytes("3B 00"), Bytes(buf, buf + n));
    EXPECT_EQ(0, Dc_T10N_RF_PowerUp(0x01, 0x00, buf, &n));
    EXPECT_EQ(0, Dc_T10N_IC_PowerDown(0x00));
    EXPECT_EQ(0, Dc_T10N_RF_PowerDown(0xFF));
  }
  ASSERT_EQ(4u, frames.size());
  EXPECT_EQ("\x02" "00053222010000\x03", text_of(frames[0]).substr(0, 15) + "\x03");
  EXPECT_EQ("\x02" "000432240100", text_of(frames[1]).substr(0, 13));
  EXPECT_EQ("\x02" "0003322300", text_of(frames[2]).substr(0, 11));
  EXPECT_EQ("\x02" "00033225??", text_of(frames[3]).substr(0, 11));
}

TEST_F(T10nTest, NonzeroStatusGivesMinus1) {
  PeerThread peer([&] {
    read_frame();
    pty_.write(reply(hex_bytes("00 01")));
  });
  EXPECT_EQ(-1, Dc_T10N_IC_PowerDown(0));
}

TEST_F(T10nTest, ReadDataFailureCodes) {
  unsigned char out[2048], st[2];
  int n = 0;
  // length 5 but five bytes and no check byte
  pty_.write(reply(hex_bytes("00 00 01 02 03"), 5, false));
  EXPECT_EQ(-4, Dc_T10N_ReadData(out, &n, st, 5));
  // ETX where the length field should be
  pty_.write(hex_bytes("02 30 03"));
  EXPECT_EQ(-2, Dc_T10N_ReadData(out, &n, st, 5));
  // length field, then silence
  pty_.write(bytes_of("\x02" "0002"));
  EXPECT_EQ(-3, Dc_T10N_ReadData(out, &n, st, 5));
  // nothing at all
  EXPECT_EQ(-1, Dc_T10N_ReadData(out, &n, st, 5));
  // an odd number of body characters cannot be bytes
  pty_.write(bytes_of("\x02" "0002000\x03"));
  EXPECT_EQ(-4, Dc_T10N_ReadData(out, &n, st, 5));
}

TEST_F(T10nTest, ReadDataSkipsNoiseToStxAndReturnsStatusAndData) {
  pty_.write(hex_bytes("31 32 7E"));
  pty_.write(reply(hex_bytes("12 34 AB")));
  unsigned char out[2048], st[2] = {0, 0};
  int n = 0;
  ASSERT_EQ(0, Dc_T10N_ReadData(out, &n, st, 5));
  EXPECT_EQ(0x12, st[0]);
  EXPECT_EQ(0x34, st[1]);
  ASSERT_EQ(1, n);
  EXPECT_EQ(0xAB, out[0]);
}

TEST_F(T10nTest, FloodWithoutStxOrEtxEndsBounded) {
  unsigned char out[2048], st[2];
  int n = 0;
  {
    PeerThread peer([&] { pty_.write(Bytes(6000, 0x31)); });
    EXPECT_EQ(-1, Dc_T10N_ReadData(out, &n, st, 50));
  }
  tcflush(pty_.slave(), TCIFLUSH);
  {
    PeerThread peer([&] {
      Bytes b{0x02};
      b.insert(b.end(), 6000, 0x30);
      pty_.write(b);
    });
    EXPECT_EQ(-4, Dc_T10N_ReadData(out, &n, st, 50));
  }
}

TEST_F(T10nTest, WithoutAChannelTheHookAcceptsAndNothingIsRead) {
  payterm::t10n_channel() = -1;
  EXPECT_EQ(0, Dc_WriteDev("\x1b%A"));
  unsigned char out[16], st[2];
  int n = 0;
  EXPECT_EQ(-1, Dc_T10N_ReadData(out, &n, st, 200));
  EXPECT_TRUE(pty_.drain(50).empty());
}

}  // namespace
