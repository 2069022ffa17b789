// Dc_APDU's status-word handling, driven through host mode with canned
// card answers: the exact commands it sends and what it returns.
#include <gtest/gtest.h>

#include <vector>

#include "globals.h"
#include "payterm.h"
#include "ptcard.h"
#include "pty_peer.h"

namespace {

int exchange(int, int, unsigned char* buf, int len, int) {
  ptcard::Bytes r = ptcard::transmit(ptcard::kContact, ptcard::Bytes(buf, buf + len));
  if (r.empty()) return -1;
  memcpy(buf, r.data(), r.size());
  return static_cast<int>(r.size());
}

class Apdu : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_payterm_state();
    ptcard::reset();
    table_[0] = exchange;
    Wy_LibMain(3, reinterpret_cast<char*>(table_));
  }
  void TearDown() override {
    reset_payterm_state();
    ptcard::reset();
  }
  // Runs cmd (in a buffer of its own size, at least 5) and gives the code.
  int run(const char* hex, Bytes* resp = nullptr) {
    cmd_ = hex_bytes(hex);
    if (cmd_.size() < 5) cmd_.resize(5);
    unsigned char r[PAYTERM_APDU_RESP_MAX];
    int n = -1;
    int rc = Dc_APDU(cmd_.data(), static_cast<int>(hex_bytes(hex).size()), r, &n);
    if (resp != nullptr) resp->assign(r, r + (n > 0 ? n : 0));
    return rc;
  }
  std::vector<Bytes> sent() { return ptcard::commands(); }
  PaytermHostExchange table_[1];
  Bytes cmd_;
};

TEST_F(Apdu, SuccessReturnsDataAndStatusWord) {
  ptcard::script({hex_bytes("6F01AA 9000")});
  Bytes r;
  EXPECT_EQ(0, run("00A4040002 3F00 00", &r));
  EXPECT_EQ(hex_bytes("6F01AA9000"), r);
  EXPECT_EQ(1u, sent().size());
}

TEST_F(Apdu, Sw61FetchesWithGetResponseOfThatLength) {
  ptcard::script({hex_bytes("611C"), hex_bytes("0102 9000")});
  Bytes r;
  EXPECT_EQ(0, run("00A4040002 3F00 00", &r));
  ASSERT_EQ(2u, sent().size());
  EXPECT_EQ(hex_bytes("00C000001C"), sent()[1]);
  EXPECT_EQ(hex_bytes("01029000"), r);
  // The caller's buffer now begins with the GET RESPONSE command.
  EXPECT_EQ(hex_bytes("00C000001C3F0000"), cmd_);
}

TEST_F(Apdu, Sw6CResendsTheCommandWithThatLe) {
  ptcard::script({hex_bytes("6C10"), hex_bytes("00112233445566778899AABBCCDDEEFF 9000")});
  Bytes r;
  EXPECT_EQ(0, run("00B2010C00", &r));
  ASSERT_EQ(2u, sent().size());
  EXPECT_EQ(hex_bytes("00B2010C10"), sent()[1]);
  EXPECT_EQ(18u, r.size());
}

TEST_F(Apdu, OtherStatusWordsComeBackAsNumbers) {
  ptcard::script({hex_bytes("6A82")});
  Bytes r;
  EXPECT_EQ(0x6A82, run("00A4040002 3F00 00", &r));
  EXPECT_EQ(hex_bytes("6A82"), r);
  ptcard::script({hex_bytes("63C2")});
  EXPECT_EQ(0x63C2, run("0020008008 2412345FFFFFFFFF"));
}

TEST_F(Apdu, Sw6283IsSuccessOnlyWithData) {
  ptcard::script({hex_bytes("6F 09 8407A0000003330101 6283")});
  EXPECT_EQ(0, run("00A4040002 3F00 00"));
  EXPECT_EQ(1u, sent().size());
  // Alone it is a warning: GET RESPONSE with Le 0.
  ptcard::clear_commands();
  ptcard::script({hex_bytes("6283"), hex_bytes("6A88")});
  EXPECT_EQ(0x6A88, run("00A4040002 3F00 00"));
  ASSERT_EQ(2u, sent().size());
  EXPECT_EQ(hex_bytes("00C0000000"), sent()[1]);
}

TEST_F(Apdu, Sw62FetchesWithLeZero) {
  ptcard::script({hex_bytes("6281"), hex_bytes("6C04"), hex_bytes("01020304 9000")});
  Bytes r;
  EXPECT_EQ(0, run("00A4040002 3F00 00", &r));
  auto s = sent();
  ASSERT_EQ(3u, s.size());
  EXPECT_EQ(hex_bytes("00C0000000"), s[1]);
  EXPECT_EQ(hex_bytes("00C0000004"), s[2]);
  EXPECT_EQ(hex_bytes("01020304 9000"), r);
}

TEST_F(Apdu, EndlessGetResponseIsCutAfterEightRepeats) {
  std::vector<Bytes> forever(20, hex_bytes("6101"));
  ptcard::script(forever);
  EXPECT_EQ(0x6101, run("00A4040002 3F00 00"));
  EXPECT_EQ(9u, sent().size());
  ptcard::reset();
  ptcard::script(std::vector<Bytes>(20, hex_bytes("6C05")));
  EXPECT_EQ(0x6C05, run("00B2010C00"));
  EXPECT_EQ(9u, sent().size());
}

TEST_F(Apdu, DeviceFailuresPassThrough) {
  // No card and no canned answer: the host exchange fails.
  EXPECT_EQ(-1, run("00A4040002 3F00 00"));
  ptcard::script({hex_bytes("90")});  // shorter than a status word
  EXPECT_EQ(-1, run("00A4040002 3F00 00"));
  unsigned char r[PAYTERM_APDU_RESP_MAX];
  int n = 0;
  EXPECT_EQ(-1, Dc_APDU(nullptr, 5, r, &n));
  unsigned char c[5] = {0};
  EXPECT_EQ(-1, Dc_APDU(c, 3, r, &n));
}

}  // namespace
