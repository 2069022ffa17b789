// The whole program (hwservice_fake) with its standard output on a pipe
// whose reader has gone or never reads: serving goes on, the log drops what
// it cannot write and says so once the pipe drains.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hw_harness.h"
#include "test_emulator.h"

namespace {

constexpr int kPort = 7776;

// hwservice_fake with standard output on the write end of a pipe.
class PipedService {
 public:
  PipedService(const hwtest::TempDir &tmp, int out_fd) {
    mkdir((tmp.path() + "/run").c_str(), 0700);
    hwtest::WriteFile(tmp.path() + "/script.json", "{}");
    std::vector<std::string> env = {
        "TMPDIR=" + tmp.path(), "XDG_RUNTIME_DIR=" + tmp.path() + "/run",
        "TESSERA_FAKE_SCRIPT=" + tmp.path() + "/script.json", "TESSERA_FAKE_CALLS=" + tmp.path() + "/calls",
        "PATH=/usr/bin:/bin"};
    for (const char *keep : {"LSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
      if (getenv(keep) != nullptr) env.push_back(std::string(keep) + "=" + getenv(keep));
    std::vector<std::string> words = hwemu::Argv(hwtest::BinDir() + "/hwservice_fake", {});
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out_fd, 1);
      if (chdir(tmp.path().c_str()) != 0) _exit(126);
      std::vector<char *> envp;
      for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
      envp.push_back(nullptr);
      execvpe(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~PipedService() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Still running (not ended by a signal or otherwise).
  bool Running() { return waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

const char kHello[] = "GET /api/hello HTTP/1.1\r\n\r\n";

std::string Hello() { return hwtest::HttpBody(hwtest::HttpExchange(kPort, kHello, 2000)); }

// Everything in the pipe now, without waiting for more.
std::string Drain(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) return out;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

class ServiceStdout : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hwtest::PortFree(kPort)) << "port 7776 is in use by another program";
    ASSERT_EQ(pipe2(fds_, O_CLOEXEC), 0);
  }
  void TearDown() override {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  hwtest::TempDir tmp_;
  int fds_[2] = {-1, -1};
};

TEST_F(ServiceStdout, ReaderGoneLeavesTheServiceServing) {
  close(fds_[0]);  // as `hwservice | head -1` after head has left
  fds_[0] = -1;
  PipedService svc(tmp_, fds_[1]);
  ASSERT_TRUE(hwtest::WaitForPort(kPort, 15000));
  for (int i = 0; i < 3; i++) EXPECT_EQ(Hello(), "welcome to httpserver") << i;
  EXPECT_TRUE(svc.Running());
}

TEST_F(ServiceStdout, UndrainedPipeNeitherStallsServingNorReordersTheLog) {
  PipedService svc(tmp_, fds_[1]);
  ASSERT_TRUE(hwtest::WaitForPort(kPort, 15000));
  // Each body is logged in full more than once: far more than the pipe and
  // the log's queue hold together.
  const std::string body(40 * 1024, 'x');
  for (int i = 0; i < 8; i++) {
    auto c = hwtest::Conn::Open(kPort);
    ASSERT_TRUE(c != nullptr);
    c->Send(hwtest::PostRequest("/http/hardware", body));
    EXPECT_NE(c->ReadHttpReply(2000), "") << i;
  }
  EXPECT_EQ(Hello(), "welcome to httpserver");

  EXPECT_EQ(Hello(), "welcome to httpserver");
  const std::string log = Drain(fds_[0]);
  EXPECT_EQ(log.rfind("starting http server at port: 7776\n", 0), 0u) << log.substr(0, 100);
  // Lost lines are counted where they were lost; the lines that were
  // written are whole and the last request's line comes last.
  const size_t note = log.find("\n[log] ");
  ASSERT_NE(note, std::string::npos);
  EXPECT_NE(log.find(" lines dropped: standard output was not read\n", note), std::string::npos);
  const std::string tail = "got request: GET /api/hello HTTP/1.1\r\n\r\n\n";
  EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail);
  const std::string run(64, 'x');
  for (size_t p = log.find(run); p != std::string::npos; p = log.find(run, p)) {
    const size_t end = log.find_first_not_of('x', p);
    EXPECT_EQ(end - p, body.size()) << "a body cut short at " << p;
    p = end;
  }
  EXPECT_TRUE(svc.Running());
}

}  // namespace
