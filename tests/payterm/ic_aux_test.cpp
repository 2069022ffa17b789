// Auxiliary-terminal mode: the reader sits behind the terminal the program
// runs on; frames travel as hex text between the terminal's own control
// sequences and replies come back one character between PREFIX and SUFFIX.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "ic_auxterm.h"
#include "ic_link.h"
#include "payterm.h"
#include "pty_peer.h"
#include "timing.h"

namespace {

// Puts the pseudo-terminal on standard input and output for one test.
class StdioOn {
 public:
  explicit StdioOn(int fd0, int fd1) {
    fflush(stdout);
    in_ = dup(0);
    out_ = dup(1);
    dup2(fd0, 0);
    dup2(fd1, 1);
  }
  ~StdioOn() {
    dup2(in_, 0);
    dup2(out_, 1);
    close(in_);
    close(out_);
  }

 private:
  int in_;
  int out_;
};

std::string write_def(const std::string& text) {
  char path[] = "/tmp/payterm_termdef_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "";
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
  close(fd);
  return path;
}

Bytes wrapped(const std::string& hex) {
  Bytes b;
  for (char c : hex) {
    b.push_back('<');
    b.push_back(static_cast<uint8_t>(c));
    b.push_back('>');
  }
  return b;
}

const char kDef[] =
    "# terminal of the counter\n"
    "  OPEN=\\x1B[5i\n"
    "CLOSE = \\x1b[4i\n"
    "WR_BEGIN=\\033[?\n"
    "WR_END=!\\\\\n"
    "PREFIX=<\n"
    "SUFFIX=>x\n";

class IcAuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    payterm::g_link_timing = payterm::LinkTiming();
    path_ = write_def(kDef);
    ASSERT_FALSE(path_.empty());
  }
  void TearDown() override {
    unlink(path_.c_str());
    payterm::ic_state().device_d6 = 1;
  }
  PtyPair pty_;
  std::string path_;
};

TEST_F(IcAuxTest, DefinitionFileIsParsedWithEscapes) {
  payterm::TermDef d;
  payterm::parse_term_def(kDef, sizeof kDef - 1, &d);
  EXPECT_EQ(hex_bytes("1B 5B 35 69"), Bytes(d.open.bytes, d.open.bytes + d.open.n));
  EXPECT_EQ(hex_bytes("1B 5B 34 69"), Bytes(d.close.bytes, d.close.bytes + d.close.n));
  EXPECT_EQ(hex_bytes("1B 5B 3F"), Bytes(d.wr_begin.bytes, d.wr_begin.bytes + d.wr_begin.n));
  EXPECT_EQ(hex_bytes("21 5C"), Bytes(d.wr_end.bytes, d.wr_end.bytes + d.wr_end.n));
  EXPECT_EQ('<', d.prefix);
  EXPECT_EQ('>', d.suffix);
}

TEST_F(IcAuxTest, SequencesAreCutAtFortyCharacters) {
  std::string text = "CLOSE=" + std::string(60, 'c') + "\n#WR_END=zz\nbogus line\n";
  payterm::TermDef d;
  payterm::parse_term_def(text.data(), text.size(), &d);
  EXPECT_EQ(40u, d.close.n);
  EXPECT_EQ(0u, d.wr_end.n);
}

TEST_F(IcAuxTest, EscapesCoverOctalHexAndBackslash) {
  const char v[] = "\\101\\x4a\\X4\\\\\\q\\x";
  uint8_t out[32];
  size_t n = payterm::unescape_value(v, sizeof v - 1, out, sizeof out);
  EXPECT_EQ(hex_bytes("41 4A 04 5C 71 78"), Bytes(out, out + n));
}

TEST_F(IcAuxTest, SessionWritesOpenHexFramesAndCloseAndReadsWrappedReply) {
  Bytes opened, sent, closed;
  int fd = -1, second = 0, got = 0, exit_rc = -1;
  unsigned char out[255] = {};
  {
    StdioOn io(pty_.slave(), pty_.slave());
    fd = IC_InitComm(path_.c_str());
    if (fd >= 0) {
      second = IC_InitComm(path_.c_str());
      PeerThread peer([&] {
        opened = pty_.read_exactly(4);
        sent = pty_.read_exactly(13);
        // noise and a wrapped reply AA 00 01 42 43; the send had no
        // handshakes (D6)
        Bytes r = {'z', '<'};
        Bytes w = wrapped("AA00014243");
        r.insert(r.end(), w.begin(), w.end());
        pty_.write(r);
      });
      const unsigned char frame[] = {0x02, 0xFB};
      got = IC_DATACOMM(fd, frame, out);
      peer.join();
      exit_rc = IC_ExitComm(fd);
      closed = pty_.drain(100);
    }
  }
  ASSERT_GE(fd, 0);
  EXPECT_EQ(-16, second);
  EXPECT_EQ(hex_bytes("1B 5B 35 69"), opened);
  Bytes want = hex_bytes("1B 5B 3F");
  for (char c : std::string("5502FBFD")) want.push_back(static_cast<uint8_t>(c));
  want.push_back(0x21);
  want.push_back(0x5C);
  EXPECT_EQ(to_hex_text(want), to_hex_text(sent));
  EXPECT_EQ(1, got);
  EXPECT_EQ(0x42, out[0]);
  EXPECT_EQ(0, exit_rc);
  // The receiver's acknowledgements "00" "00", then CLOSE.
  EXPECT_EQ(hex_bytes("30 30 30 30 1B 5B 34 69"), closed);
  EXPECT_FALSE(payterm::ic_state().aux_active);
}

// In D6 mode the terminal answers the sender's handshakes and the plain
// receiver's acknowledgements itself; the patient receiver still sends its
// own: 00 after the 0xAA marker, then 00 (good check) or 01 (bad check).
TEST_F(IcAuxTest, D6PatientReceiverAcknowledgesAndThePlainOneDoesNot) {
  const struct {
    bool patient;
    const char* reply;  // AA, status, length, data, check
    int rc;
    const char* acks;   // as they travel: hex text
  } cases[] = {
      {true, "AA00014243", 1, "30 30 30 30"},
      {true, "AA00014244", -131, "30 30 30 31"},
      {false, "AA00014243", 1, ""},
      {false, "AA00014244", -131, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Bytes acks;
    int fd = -1, rc = 0;
    unsigned char out[255] = {};
    {
      StdioOn io(pty_.slave(), pty_.slave());
      fd = IC_InitComm(path_.c_str());
      if (fd >= 0) {
        pty_.read_exactly(4);  // OPEN
        pty_.write(wrapped(c.reply));
        rc = c.patient ? IC_RECEIVE1(fd, out) : IC_RECEIVE(fd, out);
        acks = pty_.drain(100);
        IC_ExitComm(fd);
        pty_.drain(100);
      }
    }
    ASSERT_GE(fd, 0);
    EXPECT_EQ(c.rc, rc);
    EXPECT_EQ(c.acks, to_hex_text(acks));
  }
}

TEST_F(IcAuxTest, WithoutD6TheHandshakesTravelWrappedToo) {
  payterm::ic_state().device_d6 = 0;
  Bytes sent;
  int fd = -1, rc = 1;
  {
    StdioOn io(pty_.slave(), pty_.slave());
    fd = IC_InitComm_Para(200, "\x1b[5i", "", "\x1b[4i", "", "", "", '{', '}', "");
    if (fd >= 0) {
      PeerThread peer([&] {
        pty_.read_exactly(4);            // OPEN
        sent = pty_.read_exactly(2);     // "55"
        pty_.write(hex_bytes("7B 30 7D 7B 30 7D"));  // {0}{0}: answer 00
        Bytes rest = pty_.read_exactly(6);  // "02FBFD"
        sent.insert(sent.end(), rest.begin(), rest.end());
        pty_.write(hex_bytes("7B 30 7D 7B 30 7D"));
      });
      const unsigned char frame[] = {0x02, 0xFB};
      rc = IC_SEND(fd, frame);
      peer.join();
      IC_ExitComm(fd);
    }
  }
  ASSERT_GE(fd, 0);
  EXPECT_EQ(0, rc);
  EXPECT_EQ("35 35 30 32 46 42 46 44", to_hex_text(sent));
}

TEST_F(IcAuxTest, StandardInputNotATerminalRefusesTheMode) {
  int null_fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(null_fd, 0);
  int fd;
  {
    StdioOn io(null_fd, pty_.slave());
    fd = IC_InitComm(path_.c_str());
  }
  close(null_fd);
  EXPECT_EQ(-1, fd);
  EXPECT_FALSE(payterm::ic_state().aux_active);
}

TEST_F(IcAuxTest, OtherParaPortsAreRefused) {
  EXPECT_EQ(-1, IC_InitComm_Para(7, "", "", "", "", "", "", '<', '>', ""));
  EXPECT_EQ(-1, IC_InitComm("/nonexistent/def"));
}

}  // namespace
