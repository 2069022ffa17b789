// The control interface and the daemon's robustness against its clients.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <string>

#include "vreader_fixture.h"

namespace {

struct DaemonTest : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(vr.start()); }
  VreaderProcess vr;
};

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace

TEST_F(DaemonTest, StateFollowsInsertRemoveFamilyAndFaults) {
  std::string s = vr.ctl("state");
  ASSERT_EQ(s.substr(0, 3), "OK ");
  EXPECT_TRUE(contains(s, R"("contact":{"card":"ss3","powered":false})"));
  EXPECT_TRUE(contains(s, R"("family":"both")"));
  EXPECT_EQ(vr.ctl("insert contactless bank"), "OK");
  EXPECT_EQ(vr.ctl("remove contact"), "OK");
  EXPECT_EQ(vr.ctl("fault delay 10 nad=0x12 count=3"), "OK");
  EXPECT_EQ(vr.ctl("family hid"), "OK");
  s = vr.ctl("state");
  EXPECT_TRUE(contains(s, R"("contactless":{"card":"bank")"));
  EXPECT_TRUE(contains(s, R"("contact":{"card":"")"));
  EXPECT_TRUE(contains(s, R"("faults":[{"kind":"delay","value":10,"nad":18,"count":3}])"));
  EXPECT_TRUE(contains(s, R"("family":"hid")"));
  EXPECT_EQ(vr.ctl("fault clear"), "OK");
  EXPECT_TRUE(contains(vr.ctl("state"), R"("faults":[])"));
}

TEST_F(DaemonTest, MalformedLinesGetErrorsAndTheDaemonCarriesOn) {
  for (const char* bad : {"", "frobnicate", "insert", "insert contact", "insert slot7 ss3",
                          "insert contact nothing", "insert idcard ss3", "remove nowhere", "swipe",
                          "swipe nostripe", "swipe track2=" "12345678901234567890123456789012345678901",
                          "present", "present nocode", "present hex=ZZ", "keys", "family usb",
                          "timescale 0", "timescale fast", "fault", "fault sw", "log 0", "log x",
                          "load /nonexistent.json", "unplug now"}) {
    std::string r = vr.ctl(bad);
    EXPECT_EQ(r.substr(0, 4), "ERR ") << "'" << bad << "' -> " << r;
  }
  EXPECT_EQ(vr.ctl("ping"), "OK pong");
}

TEST_F(DaemonTest, OverlongLineIsRefusedAndConnectionClosed) {
  int fd = vr::connectTo(vr.socket);
  ASSERT_GE(fd, 0);
  std::string big(5000, 'x');
  ASSERT_TRUE(vr::writeAll(fd, big.data(), big.size()));
  std::string reply;
  ASSERT_TRUE(vr::readLine(fd, reply, 100, 2000));
  EXPECT_EQ(reply, "ERR line too long");
  char c;
  EXPECT_EQ(vr::readExact(fd, &c, 1, 2000), -1);  // closed by the daemon
  close(fd);
  EXPECT_EQ(vr.ctl("ping"), "OK pong");
}

TEST_F(DaemonTest, SeveralCommandsOnOneConnectionAnswerInOrder) {
  int fd = vr::connectTo(vr.socket);
  ASSERT_GE(fd, 0);
  std::string lines = "ping\r\nbogus\nenum\n";
  ASSERT_TRUE(vr::writeAll(fd, lines.data(), lines.size()));
  std::string a, b, c;
  ASSERT_TRUE(vr::readLine(fd, a, 4096, 2000));
  ASSERT_TRUE(vr::readLine(fd, b, 4096, 2000));
  ASSERT_TRUE(vr::readLine(fd, c, 4096, 2000));
  EXPECT_EQ(a, "OK pong");
  EXPECT_EQ(b.substr(0, 4), "ERR ");
  EXPECT_EQ(c, "OK hid VR2026000001");
  close(fd);
}

TEST_F(DaemonTest, HidConnectionWithGarbageIsDroppedAlone) {
  int fd = vr::connectTo(vr.socket);
  ASSERT_GE(fd, 0);
  std::string hello = "HELLO hid\n", ok;
  ASSERT_TRUE(vr::writeAll(fd, hello.data(), hello.size()));
  ASSERT_TRUE(vr::readLine(fd, ok, 100, 2000));
  EXPECT_EQ(ok, "OK hid VR2026000001");
  unsigned char junk[4] = {0xFF, 0xFF, 1, 2};  // a record length far past any report
  ASSERT_TRUE(vr::writeAll(fd, junk, 4));
  char c;
  EXPECT_EQ(vr::readExact(fd, &c, 1, 2000), -1);
  close(fd);
  EXPECT_EQ(vr.ctl("ping"), "OK pong");
  EXPECT_TRUE(vr.alive());
}

TEST_F(DaemonTest, BadReportTrainGetsAFramingStatus) {
  int fd = vr::connectTo(vr.socket);
  ASSERT_GE(fd, 0);
  std::string hello = "HELLO hid\n", ok;
  ASSERT_TRUE(vr::writeAll(fd, hello.data(), hello.size()));
  ASSERT_TRUE(vr::readLine(fd, ok, 100, 2000));
  unsigned char rec[2 + 64] = {0, 64, 0x12, 0x05, 5};  // sequence 5 cannot start a command
  ASSERT_TRUE(vr::writeAll(fd, rec, sizeof rec));
  unsigned char reply[2 + 64];
  ASSERT_EQ(vr::readExact(fd, reply, sizeof reply, 2000), 1);
  EXPECT_EQ(reply[1], 64);
  EXPECT_EQ(reply[2], 0x12);
  EXPECT_EQ(reply[3], 0x00);
  EXPECT_EQ(reply[4], 2);
  EXPECT_EQ(reply[5], 0x6F);
  EXPECT_EQ(reply[6], 0x00);
  close(fd);
}

TEST_F(DaemonTest, HelloIsRefusedForADetachedFamilyOrWhenUnplugged) {
  auto hello = [&](const char* line) {
    int fd = vr::connectTo(vr.socket);
    std::string r;
    std::string l = std::string(line) + "\n";
    vr::writeAll(fd, l.data(), l.size());
    vr::readLine(fd, r, 100, 2000);
    close(fd);
    return r;
  };
  EXPECT_EQ(hello("HELLO dc"), "OK dc");
  EXPECT_EQ(vr.ctl("family hid"), "OK");
  EXPECT_EQ(hello("HELLO dc"), "ERR family not attached");
  EXPECT_EQ(vr.ctl("enum"), "OK hid VR2026000001");
  EXPECT_EQ(vr.ctl("family dc"), "OK");
  EXPECT_EQ(vr.ctl("enum"), "OK none");
  EXPECT_EQ(hello("HELLO hid"), "ERR family not attached");
  EXPECT_EQ(vr.ctl("family both"), "OK");
  EXPECT_EQ(vr.ctl("unplug"), "OK");
  EXPECT_EQ(hello("HELLO hid"), "ERR unplugged");
  EXPECT_EQ(vr.ctl("enum"), "OK none");
}

TEST_F(DaemonTest, LogKeepsExactBytesOfRecentExchanges) {
  int fd = vr::connectTo(vr.socket);
  std::string hello = "HELLO hid\n", ok;
  ASSERT_TRUE(vr::writeAll(fd, hello.data(), hello.size()));
  ASSERT_TRUE(vr::readLine(fd, ok, 100, 2000));
  unsigned char rec[2 + 64] = {0, 64, 0x00, 0x00, 5, 0xB0, 0xF2, 0x00, 0x02, 0x00};
  ASSERT_TRUE(vr::writeAll(fd, rec, sizeof rec));
  unsigned char reply[66];
  ASSERT_EQ(vr::readExact(fd, reply, sizeof reply, 2000), 1);
  close(fd);
  std::string log = vr.ctl("log 1");
  EXPECT_TRUE(contains(log, R"("fam":"hid","nad":0,"cmd":"B0F2000200","reply":"9000")")) << log;
  EXPECT_EQ(vr.ctl("clearlog"), "OK");
  EXPECT_EQ(vr.ctl("log"), "OK []");
}

TEST_F(DaemonTest, LoadReplacesTheProfile) {
  EXPECT_EQ(vr.ctl("load empty"), "OK");
  std::string s = vr.ctl("state");
  EXPECT_TRUE(contains(s, R"("contact":{"card":"")"));
  EXPECT_TRUE(contains(s, R"("serial":"VR2026000000")"));
  EXPECT_EQ(vr.ctl("insert contact ss3").substr(0, 4), "ERR ");
}

TEST_F(DaemonTest, QuitEndsTheDaemonAndRemovesItsSocket) {
  EXPECT_EQ(vr.ctl("quit"), "OK bye");
  int st = 0;
  ASSERT_EQ(waitpid(vr.pid, &st, 0), vr.pid);
  vr.pid = -1;
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  EXPECT_NE(access(vr.socket.c_str(), F_OK), 0);
}

TEST_F(DaemonTest, SecondDaemonOnTheSameSocketRefusesToStart) {
  std::string bin = VreaderProcess::binDir() + "/vreader";
  pid_t p = fork();
  if (p == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    hwemu::Exec(bin, {"--socket", vr.socket});
    _exit(127);
  }
  int st = 0;
  ASSERT_EQ(waitpid(p, &st, 0), p);
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_EQ(vr.ctl("ping"), "OK pong");
}

namespace {
std::string runTool(const std::string& args, int& status) {
  std::string cmd = hwemu::ShellPrefix() + VreaderProcess::binDir() + "/vreaderctl " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  status = p ? WEXITSTATUS(pclose(p)) : -1;
  return out;
}
}  // namespace

TEST_F(DaemonTest, ControlToolPrintsRepliesAndExitsByOutcome) {
  int st = -1;
  EXPECT_EQ(runTool("--socket " + vr.socket + " insert contactless bank", st), "OK\n");
  EXPECT_EQ(st, 0);
  EXPECT_EQ(runTool("--socket " + vr.socket + " insert contactless ghost", st), "ERR no card named ghost\n");
  EXPECT_EQ(st, 1);
  EXPECT_EQ(runTool("--socket " + vr.socket + " < /dev/null", st), "");
  EXPECT_EQ(st, 0);
  std::string out = runTool("--socket " + vr.dir + "/none.sock ping", st);
  EXPECT_EQ(st, 2);
  EXPECT_NE(out.find("no vreader"), std::string::npos);
}
