// dc_ framing against a reader peer: bytes on the wire, stuffing, checks,
// NAK, time-outs, and the open sequence with its version queries.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "dc_link.h"
#include "dc_peer.h"
#include "payterm.h"
#include "timing.h"

namespace {

class DcLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    payterm::g_link_timing = payterm::LinkTiming();
    payterm::dc_sequence() = 0;
    fd_ = asyn_open(pty_.name().c_str(), 115200, 8, 'N', 1, 0, 5);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    payterm::g_link_timing = payterm::LinkTiming();
  }
  PtyPair pty_;
  DcReader reader_{pty_};
  int fd_ = -1;
};

TEST_F(DcLinkTest, SendCmdPutsExactStuffedFrameOnWire) {
  payterm::dc_sequence() = 0x05;
  DcFrame f;
  bool got = false;
  {
    PeerThread peer([&] { got = reader_.recv(&f); });
    const uint8_t data[] = {0x10, 0x20};
    EXPECT_EQ(0, send_cmd(fd_, 0x46, 2, data));
  }
  ASSERT_TRUE(got);
  // body 05 46 02 10 20, check 05^46^02^10^20 = 0x71; the 0x10 doubled
  EXPECT_EQ("02 05 46 02 10 10 20 71 10 03", to_hex_text(f.wire));
  EXPECT_EQ(0x06, payterm::dc_sequence());
}

TEST_F(DcLinkTest, CheckByteEqualToDleIsDoubledToo) {
  DcFrame f;
  bool got = false;
  {
    PeerThread peer([&] { got = reader_.recv(&f); });
    // seq 00, cmd 0x10, len 0: the check is 0x10 as well
    EXPECT_EQ(0, send_cmd(fd_, 0x10, 0, nullptr));
  }
  ASSERT_TRUE(got);
  EXPECT_EQ("02 00 10 10 00 10 10 10 03", to_hex_text(f.wire));
}

TEST_F(DcLinkTest, SequenceNumberIncrementsAndWraps) {
  payterm::dc_sequence() = 0xFF;
  DcFrame a, b;
  {
    PeerThread peer([&] {
      reader_.recv(&a);
      reader_.recv(&b);
    });
    EXPECT_EQ(0, send_cmd(fd_, 0x45, 0, nullptr));
    EXPECT_EQ(0, send_cmd(fd_, 0x45, 0, nullptr));
  }
  EXPECT_EQ(0xFF, a.seq);
  EXPECT_EQ(0x00, b.seq);
}

TEST_F(DcLinkTest, StxNotAnsweredWithDleGivesMinus16) {
  PeerThread peer([&] {
    if (pty_.read1() == 0x02) pty_.write1(0x06);
  });
  EXPECT_EQ(-16, send_cmd(fd_, 0x45, 0, nullptr));
}

TEST_F(DcLinkTest, FrameNotAcknowledgedGivesMinus16) {
  PeerThread peer([&] {
    if (pty_.read1() != 0x02) return;
    pty_.write1(0x10);
    pty_.read_exactly(6);  // 00 45 00 45 10 03
    pty_.write1(0x15);
  });
  EXPECT_EQ(-16, send_cmd(fd_, 0x45, 0, nullptr));
}

TEST_F(DcLinkTest, SilentReaderGivesMinus64AfterTheByteTimeout) {
  payterm::g_link_timing.tenth_ms = 20;  // VTIME 5 -> 100 ms
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(-64, send_cmd(fd_, 0x45, 0, nullptr));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 90);
  EXPECT_EQ(Bytes{0x02}, pty_.drain(50));  // STX and nothing more
}

TEST_F(DcLinkTest, ReceiveUnstuffsDataAndAcknowledges) {
  unsigned char out[255] = {};
  int ack = -1;
  {
    PeerThread peer([&] { ack = reader_.reply(0, hex_bytes("10 10 03 10")); });
    EXPECT_EQ(0, receive_cmd(fd_, out));
  }
  EXPECT_EQ(0x10, ack);
  EXPECT_EQ(Bytes(out, out + 4), hex_bytes("10 10 03 10"));
}

TEST_F(DcLinkTest, DleFollowedByOtherByteGivesMinus49) {
  PeerThread peer([&] {
    pty_.write1(0x02);
    if (pty_.read1() != 0x10) return;
    pty_.write(hex_bytes("00 00 01 10 41 51 10 03"));
  });
  unsigned char out[255];
  EXPECT_EQ(-49, receive_cmd(fd_, out));
}

TEST_F(DcLinkTest, BadCheckIsAnsweredWithNakAndGivesMinus49) {
  int last = -1;
  {
    PeerThread peer([&] { last = reader_.reply(0, hex_bytes("01 02 03"), true); });
    unsigned char out[255];
    EXPECT_EQ(-49, receive_cmd(fd_, out));
  }
  EXPECT_EQ(0x15, last);
}

TEST_F(DcLinkTest, MissingDleEtxTrailerGivesMinus49) {
  PeerThread peer([&] {
    pty_.write1(0x02);
    if (pty_.read1() != 0x10) return;
    pty_.write(hex_bytes("00 00 00 00 10 04"));
  });
  EXPECT_EQ(-49, receive_cmd(fd_, nullptr));
}

TEST_F(DcLinkTest, ReplyNotStartingWithStxGivesMinus16) {
  PeerThread peer([&] { pty_.write1(0x06); });
  EXPECT_EQ(-16, receive_cmd(fd_, nullptr));
}

TEST_F(DcLinkTest, NonzeroReaderStatusGivesMinus1) {
  int ack = -1;
  {
    PeerThread peer([&] { ack = reader_.reply(0x01, Bytes{}); });
    EXPECT_EQ(-1, receive_cmd(fd_, nullptr));
  }
  EXPECT_EQ(0x10, ack);  // the frame itself was sound
}

TEST_F(DcLinkTest, FloodAfterStxEndsWithinOneFrame) {
  // A reader that never stops sending gets one frame's worth of reading:
  // length FF, 255 bytes, a check byte, and then no DLE ETX.
  PeerThread peer([&] {
    pty_.write1(0x02);
    if (pty_.read1() != 0x10) return;
    pty_.write(Bytes(600, 0xFF));
  });
  EXPECT_EQ(-49, receive_cmd(fd_, nullptr));
}

TEST_F(DcLinkTest, ReplyStoppingHalfwayGivesMinus64) {
  payterm::g_link_timing.tenth_ms = 20;
  PeerThread peer([&] {
    pty_.write1(0x02);
    if (pty_.read1() != 0x10) return;
    pty_.write(hex_bytes("00 00 05 01 02"));
  });
  EXPECT_EQ(-64, receive_cmd(fd_, nullptr));
}

TEST_F(DcLinkTest, AsynOpenRefusesSomethingThatIsNotATerminal) {
  EXPECT_EQ(-1, asyn_open("/dev/null", 9600, 8, 'N', 1, 0, 5));
  EXPECT_EQ(-1, asyn_open("/nonexistent/tty", 9600, 8, 'N', 1, 0, 5));
}

TEST_F(DcLinkTest, AsynOpenSetsLineAsAsked) {
  int fd = asyn_open(pty_.name().c_str(), 57600, 7, 'E', 2, 1, 7);
  ASSERT_GE(fd, 0);
  struct termios t;
  ASSERT_EQ(0, tcgetattr(fd, &t));
  EXPECT_EQ(B57600, cfgetospeed(&t));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_EQ(static_cast<tcflag_t>(IXANY), t.c_iflag);
  EXPECT_EQ(0u, t.c_lflag);
  EXPECT_EQ(1, t.c_cc[VMIN]);
  EXPECT_EQ(7, t.c_cc[VTIME]);
  close(fd);
  // Unknown rates fall back to 9600; VMIN/VTIME of 65535 leave the modes alone.
  t.c_iflag = ICRNL | IXON;
  t.c_lflag = ICANON;
  ASSERT_EQ(0, tcsetattr(pty_.slave(), TCSANOW, &t));
  fd = asyn_open(pty_.name().c_str(), 14400, 8, 'O', 1, 65535, 65535);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, tcgetattr(fd, &t));
  EXPECT_EQ(B9600, cfgetospeed(&t));
  EXPECT_EQ(static_cast<tcflag_t>(ICRNL | IXON), t.c_iflag);
  EXPECT_EQ(static_cast<tcflag_t>(ICANON), t.c_lflag);
  close(fd);
}

TEST_F(DcLinkTest, InitAsksTheVersionUntilItAnswers) {
  {
    PeerThread peer([&] {
      int n = 0;
      reader_.serve(3, [&](const DcFrame&, uint8_t* st, Bytes* out) {
        *st = (++n < 3) ? 1 : 0;  // two failures, then an answer
        *out = hex_bytes("01 07");
      });
    });
    int fd = dc_init_name(pty_.name().c_str(), 115200);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
      EXPECT_EQ(0, dc_exit(fd));
    }
  }
  ASSERT_EQ(3u, reader_.frames.size());
  for (const DcFrame& f : reader_.frames) {
    EXPECT_EQ(0x80, f.cmd);
    EXPECT_TRUE(f.data.empty());
  }
}

TEST_F(DcLinkTest, InitGivesMinus16WhenAllThreeVersionQueriesFail) {
  {
    PeerThread peer([&] {
      reader_.serve(3, [](const DcFrame&, uint8_t* st, Bytes*) { *st = 2; });
    });
    EXPECT_EQ(-16, dc_init_name(pty_.name().c_str(), 9600));
  }
  EXPECT_EQ(3u, reader_.frames.size());
  EXPECT_TRUE(pty_.drain(50).empty());  // no fourth query
}

TEST_F(DcLinkTest, InitOfAMissingPortGivesMinus1) {
  EXPECT_EQ(-1, dc_init_name("/nonexistent/ttyX", 9600));
}

}  // namespace
