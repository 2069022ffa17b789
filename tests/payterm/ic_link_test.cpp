// IC_ framing against a reader peer: attention and answer bytes, sums,
// marker, status query, bounded reads.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "ic_link.h"
#include "ic_peer.h"
#include "payterm.h"
#include "timing.h"

namespace {

class IcLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    payterm::g_link_timing = payterm::LinkTiming();
    fd_ = IC_InitComm(pty_.name().c_str());
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    IC_ExitComm(fd_);
    payterm::g_link_timing = payterm::LinkTiming();
  }
  PtyPair pty_;
  IcReader reader_{pty_};
  int fd_ = -1;
};

TEST_F(IcLinkTest, DatacommSendsAttentionFrameAndSumThenReadsReply) {
  Bytes wire;
  int ack = -1;
  unsigned char out[255];
  {
    PeerThread peer([&] {
      if (pty_.read1() != 0x55) return;
      pty_.write1(0x00);
      wire = pty_.read_exactly(5);
      pty_.write1(0x00);
      ack = reader_.reply(0, hex_bytes("01 02 03"));
    });
    const unsigned char frame[] = {0x04, 0xDC, 0x34, 0x12};
    EXPECT_EQ(3, IC_DATACOMM(fd_, frame, out));
  }
  EXPECT_EQ("04 DC 34 12 26", to_hex_text(wire));  // sum 0x126 -> 26
  EXPECT_EQ(0x00, ack);
  EXPECT_EQ(hex_bytes("01 02 03"), Bytes(out, out + 3));
}

TEST_F(IcLinkTest, WrongReplyCheckIsAnsweredWith01AndGivesMinus131) {
  int ack = -1;
  {
    PeerThread peer([&] {
      IcFrame f;
      if (!reader_.recv(&f)) return;
      ack = reader_.reply(0, hex_bytes("10 20"), true);
    });
    const unsigned char frame[] = {0x02, 0xFB};
    unsigned char out[255];
    EXPECT_EQ(-131, IC_DATACOMM(fd_, frame, out));
  }
  EXPECT_EQ(0x01, ack);
}

TEST_F(IcLinkTest, NonzeroReplyStatusGivesMinusStatus) {
  PeerThread peer([&] { reader_.serve(1, [](const IcFrame&, uint8_t* st, Bytes*) { *st = 0x05; }); });
  const unsigned char frame[] = {0x02, 0xFB};
  EXPECT_EQ(-5, IC_DATACOMM(fd_, frame, nullptr));
}

TEST_F(IcLinkTest, NonzeroAttentionAnswerGivesMinusByteAndSendsNoFrame) {
  Bytes after;
  {
    PeerThread peer([&] {
      IcFrame f;
      reader_.recv(&f, 0x07);
      after = pty_.drain(100);
    });
    const unsigned char frame[] = {0x02, 0xFB};
    EXPECT_EQ(-7, IC_SEND(fd_, frame));
  }
  EXPECT_TRUE(after.empty());
}

TEST_F(IcLinkTest, NonzeroFrameAnswerGivesMinusByte) {
  PeerThread peer([&] {
    IcFrame f;
    reader_.recv(&f, 0x00, 0x21);
  });
  const unsigned char frame[] = {0x03, 'T', 0x0C};
  EXPECT_EQ(-0x21, IC_SEND(fd_, frame));
}

TEST_F(IcLinkTest, SilentReaderGivesMinus128AfterThreeReads) {
  payterm::g_link_timing.tenth_ms = 10;
  const unsigned char frame[] = {0x02, 0xFB};
  EXPECT_EQ(-128, IC_SEND(fd_, frame));
  EXPECT_EQ(Bytes{0x55}, pty_.drain(50));
}

TEST_F(IcLinkTest, FrameShorterThanTwoIsRefusedWithoutTraffic) {
  const unsigned char frame[] = {0x01, 0xFB};
  EXPECT_EQ(-1, IC_SEND(fd_, frame));
  EXPECT_TRUE(pty_.drain(50).empty());
}

TEST_F(IcLinkTest, PatientReceiverSkipsNoiseBeforeTheMarker) {
  PeerThread peer([&] {
    IcFrame f;
    if (!reader_.recv(&f)) return;
    pty_.write(hex_bytes("00 13 55 00"));
    reader_.reply(0, hex_bytes("7F"));
  });
  const unsigned char frame[] = {0x02, 0xFB};
  unsigned char out[255];
  EXPECT_EQ(1, IC_DATACOMM(fd_, frame, out));
  EXPECT_EQ(0x7F, out[0]);
}

TEST_F(IcLinkTest, MarkerThatNeverComesEndsAfter300Reads) {
  payterm::g_link_timing.tenth_ms = 10;
  pty_.write(Bytes(400, 0x11));  // all queued before the receiver starts
  unsigned char out[255];
  EXPECT_EQ(-128, IC_RECEIVE1(fd_, out));
  EXPECT_TRUE(pty_.drain(50).empty());  // no acknowledgement of anything
  // exactly 300 bytes were consumed
  int left = 0;
  ASSERT_EQ(0, ioctl(fd_, FIONREAD, &left));
  EXPECT_EQ(100, left);
}

TEST_F(IcLinkTest, StaleInputIsFlushedBeforeAnExchange) {
  pty_.write(hex_bytes("AA 00 01 09 0A"));
  usleep(50000);
  PeerThread peer([&] { reader_.serve(1, [](const IcFrame&, uint8_t*, Bytes* out) { *out = {0x42}; }); });
  const unsigned char frame[] = {0x02, 0xFB};
  unsigned char out[255];
  EXPECT_EQ(1, IC_DATACOMM(fd_, frame, out));
  EXPECT_EQ(0x42, out[0]);
}

TEST_F(IcLinkTest, PlainReceiverReturnsLengthAndAcknowledgesTwice) {
  Bytes acks;
  {
    PeerThread peer([&] {
      pty_.write1(0xAA);
      acks.push_back(static_cast<uint8_t>(pty_.read1()));
      pty_.write(hex_bytes("09 02 30 31 63"));  // status ignored; 2 + 30 + 31 = 63
      acks.push_back(static_cast<uint8_t>(pty_.read1()));
    });
    unsigned char out[255];
    EXPECT_EQ(2, IC_RECEIVE(fd_, out));
    EXPECT_EQ(hex_bytes("30 31"), Bytes(out, out + 2));
  }
  EXPECT_EQ(hex_bytes("00 00"), acks);
}

TEST_F(IcLinkTest, PlainReceiverWrongCheckGivesMinus131AfterAcknowledging) {
  int last = -1;
  {
    PeerThread peer([&] {
      pty_.write1(0xAA);
      pty_.read1();
      pty_.write(hex_bytes("00 01 30 00"));
      last = pty_.read1();
    });
    EXPECT_EQ(-131, IC_RECEIVE(fd_, nullptr));
  }
  EXPECT_EQ(0x00, last);
}

TEST_F(IcLinkTest, PlainReceiverFirstByteOtherThanMarkerIsReturnedNegated) {
  {
    PeerThread peer([&] { pty_.write1(0x42); });
    EXPECT_EQ(-0x42, IC_RECEIVE(fd_, nullptr));
  }
  // A zero byte must not read as an empty success.
  PeerThread peer([&] { pty_.write1(0x00); });
  EXPECT_EQ(-1, IC_RECEIVE(fd_, nullptr));
}

TEST_F(IcLinkTest, StatusQueryMapsAnswers) {
  struct Case {
    int answer;
    int want;
  } cases[] = {{0x82, 0}, {0x86, 1}, {0x33, -1}};
  for (const Case& c : cases) {
    int q = -1;
    {
      PeerThread peer([&] {
        q = pty_.read1();
        pty_.write1(static_cast<uint8_t>(c.answer));
      });
      EXPECT_EQ(c.want, IC_Status(fd_)) << c.answer;
    }
    EXPECT_EQ(0x99, q);
  }
  payterm::g_link_timing.tenth_ms = 10;
  EXPECT_EQ(-1, IC_Status(fd_));
}

TEST_F(IcLinkTest, ExchangeLeavesTheCallersLineSettings) {
  struct termios before;
  ASSERT_EQ(0, tcgetattr(fd_, &before));
  payterm::g_link_timing.tenth_ms = 10;
  const unsigned char frame[] = {0x02, 0xFB};
  EXPECT_EQ(-128, IC_SEND(fd_, frame));
  struct termios after;
  ASSERT_EQ(0, tcgetattr(fd_, &after));
  EXPECT_EQ(before.c_cc[VTIME], after.c_cc[VTIME]);
  EXPECT_EQ(5, after.c_cc[VTIME]);
}

}  // namespace
