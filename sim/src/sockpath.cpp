#include "sockpath.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vr {

std::string defaultSocketPath() {
  const char* env = getenv("VREADER_SOCKET");
  if (env && *env) return env;
  const char* run = getenv("XDG_RUNTIME_DIR");
  if (run && *run) return std::string(run) + "/vreader.sock";
  return "/tmp/vreader-" + std::to_string(getuid()) + ".sock";
}

int connectTo(const std::string& path) {
  sockaddr_un a{};
  if (path.size() >= sizeof a.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

bool writeAll(int fd, const void* p, size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n) {
    ssize_t w = send(fd, c, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    c += w;
    n -= size_t(w);
  }
  return true;
}

int64_t monotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int readExact(int fd, void* p, size_t n, int timeoutMs) {
  char* c = static_cast<char*>(p);
  int64_t end = timeoutMs < 0 ? 0 : monotonicMs() + timeoutMs;
  while (n) {
    int wait = -1;
    if (timeoutMs >= 0) {
      int64_t left = end - monotonicMs();
      if (left < 0) left = 0;
      wait = int(left);
    }
    pollfd pf{fd, POLLIN, 0};
    int r = poll(&pf, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    ssize_t got = recv(fd, c, n, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return -1;
    c += got;
    n -= size_t(got);
  }
  return 1;
}

bool readLine(int fd, std::string& line, size_t max, int timeoutMs) {
  line.clear();
  for (;;) {
    char ch;
    if (readExact(fd, &ch, 1, timeoutMs) != 1) return false;
    if (ch == '\n') return true;
    if (line.size() >= max) return false;
    line.push_back(ch);
  }
}

}  // namespace vr
