#include "line.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "fuzz_check.h"
#include "timing.h"

ReaderLine::ReaderLine(const uint8_t *reader_bytes, size_t n) {
  int sv[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0);
  lib_ = sv[0];
  reader_ = sv[1];
  // Room for the largest input at once, so the write below never blocks.
  int size = 1 << 20;
  setsockopt(reader_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  setsockopt(lib_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  for (size_t done = 0; done < n;) {
    ssize_t w = write(reader_, reader_bytes + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    FUZZ_CHECK(w > 0);
    done += static_cast<size_t>(w);
  }
  shutdown(reader_, SHUT_WR);
  // The library writes byte by byte at times; many small writes would fill
  // the socket's buffer and block it if nobody read them.
  collector_ = std::thread([this] {
    char buf[4096];
    for (;;) {
      ssize_t r = read(reader_, buf, sizeof buf);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      written_.append(buf, static_cast<size_t>(r));
    }
  });
}

ReaderLine::~ReaderLine() {
  written();
  close(lib_);
  close(reader_);
}

const std::string &ReaderLine::written() {
  if (!done_) {
    shutdown(lib_, SHUT_WR);
    collector_.join();
    done_ = true;
  }
  return written_;
}

void QuickLineTimings() {
  payterm::g_link_timing.delay_pct = 0;
  payterm::g_link_timing.t10n_read_ms = 1;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  QuickLineTimings();
  return 0;
}

static std::vector<uint8_t> g_buf;
uint8_t *Buf(size_t n) {
  g_buf.assign(n, 0xEE);
  return g_buf.data();
}

// The library puts its lines into raw mode and flushes them; a socket
// stands in for the line, so these succeed on sockets and do nothing.
static bool IsSocket(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

extern "C" {
int __real_tcgetattr(int fd, struct termios *t);
int __real_tcsetattr(int fd, int act, const struct termios *t);
int __real_tcflush(int fd, int queue);

int __wrap_tcgetattr(int fd, struct termios *t) {
  if (!IsSocket(fd)) return __real_tcgetattr(fd, t);
  memset(t, 0, sizeof *t);
  return 0;
}
int __wrap_tcsetattr(int fd, int act, const struct termios *t) {
  return IsSocket(fd) ? 0 : __real_tcsetattr(fd, act, t);
}
int __wrap_tcflush(int fd, int queue) { return IsSocket(fd) ? 0 : __real_tcflush(fd, queue); }
}
