#include "client_pool.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace load {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Printable form of a byte string for failure messages.
std::string Show(const std::string &s, size_t max = 160) {
  std::string out;
  for (size_t i = 0; i < s.size() && i < max; i++) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char b[8];
      snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    }
  }
  if (s.size() > max) out += "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

const char kPing[] = "\x89\x00";

}  // namespace

long RaiseFdLimit() {
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return -1;
  rl.rlim_cur = rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);
  getrlimit(RLIMIT_NOFILE, &rl);
  return static_cast<long>(rl.rlim_cur);
}

int OpenFds(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n;
}

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return atol(line.c_str() + 6);
  return -1;
}

bool FdLimits(pid_t pid, long *soft, long *hard) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 14, "Max open files") != 0) continue;
    std::istringstream f(line.substr(14));
    std::string s, h;
    f >> s >> h;
    *soft = s == "unlimited" ? -1 : atol(s.c_str());
    *hard = h == "unlimited" ? -1 : atol(h.c_str());
    return true;
  }
  return false;
}

std::string ServerFrame(int opcode, const std::string &payload) {
  std::string f;
  f += static_cast<char>(0x80 | opcode);
  const uint64_t n = payload.size();
  if (n < 126) {
    f += static_cast<char>(n);
  } else if (n < 65536) {
    f += static_cast<char>(126);
    f += static_cast<char>(n >> 8);
    f += static_cast<char>(n & 0xFF);
  } else {
    f += static_cast<char>(127);
    for (int i = 7; i >= 0; i--) f += static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  return f + payload;
}

// The key and accept value of RFC 6455's own example.
std::string UpgradeRequest() {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1:7776\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

std::string UpgradeReply() {
  return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
}

Pool::~Pool() { CloseAll(); }

void Pool::CloseAll() {
  for (Client &c : clients_)
    if (c.fd >= 0) {
      close(c.fd);
      c.fd = -1;
    }
}

bool Pool::Connect(int port, size_t count, bool ws) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (size_t i = 0; i < count; i++) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Loopback connects to a listener with room in its backlog complete at
    // once or report EINPROGRESS; completion shows as writability in Run.
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
      close(fd);
      return false;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Client c;
    c.fd = fd;
    c.ws = ws;
    clients_.push_back(std::move(c));
  }
  return true;
}

void Pool::Queue(size_t i, const std::string &out, const std::string &expect, int byte_gap_ms) {
  Client &c = clients_[i];
  c.out = out;
  c.sent = 0;
  c.byte_gap_ms = byte_gap_ms;
  c.next_send_ms = 0;
  c.expect = expect;
  c.in.clear();
  c.error.clear();
}

// True when the client's expectation is settled (met or failed).
bool Pool::Complete(Client &c) {
  if (c.ws) {
    // Idle-connection pings may come before the reply.
    while (c.in.size() >= 2 && c.in.compare(0, 2, kPing, 2) == 0 && c.expect.compare(0, 2, kPing, 2) != 0) {
      c.in.erase(0, 2);
      c.pings++;
    }
  }
  const size_t n = std::min(c.in.size(), c.expect.size());
  if (c.in.compare(0, n, c.expect, 0, n) != 0 || c.in.size() > c.expect.size()) {
    c.error = "got " + Show(c.in) + " want " + Show(c.expect);
    return true;
  }
  if (c.in.size() == c.expect.size()) {
    c.expect.clear();
    c.in.clear();
    return true;
  }
  if (c.closed) {
    c.error = "closed after " + Show(c.in) + " want " + Show(c.expect);
    return true;
  }
  return false;
}

bool Pool::Run(int timeout_ms) {
  for (Client &c : clients_) c.pings = 0;
  const int64_t end = NowMs() + timeout_ms;
  std::vector<pollfd> pfds;
  std::vector<size_t> idx;
  for (;;) {
    pfds.clear();
    idx.clear();
    const int64_t now = NowMs();
    int64_t wake = end;
    bool failed = false;
    for (size_t i = 0; i < clients_.size(); i++) {
      Client &c = clients_[i];
      if (!c.error.empty()) failed = true;
      if (c.expect.empty() || !c.error.empty()) continue;
      short ev = POLLIN;
      if (c.sent < c.out.size()) {
        if (c.byte_gap_ms == 0 || now >= c.next_send_ms)
          ev |= POLLOUT;
        else
          wake = std::min(wake, c.next_send_ms);
      }
      pfds.push_back({c.fd, ev, 0});
      idx.push_back(i);
    }
    if (failed) return false;
    if (pfds.empty()) return true;
    if (now >= end) {
      for (size_t i : idx)
        if (clients_[i].error.empty())
          clients_[i].error = "time-out after " + Show(clients_[i].in) + " want " + Show(clients_[i].expect);
      return false;
    }
    int r = poll(pfds.data(), pfds.size(), static_cast<int>(std::max<int64_t>(1, wake - now)));
    if (r < 0 && errno != EINTR) return false;
    for (size_t k = 0; r > 0 && k < pfds.size(); k++) {
      Client &c = clients_[idx[k]];
      const short re = pfds[k].revents;
      if (re & POLLOUT) {
        const size_t len = c.byte_gap_ms > 0 ? 1 : c.out.size() - c.sent;
        ssize_t n = send(c.fd, c.out.data() + c.sent, len, MSG_NOSIGNAL);
        if (n > 0) {
          c.sent += static_cast<size_t>(n);
          c.next_send_ms = NowMs() + c.byte_gap_ms;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          c.error = std::string("send: ") + strerror(errno);
          continue;
        }
      }
      if (re & (POLLIN | POLLHUP | POLLERR)) {
        char buf[16384];
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
          c.in.append(buf, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          c.closed = true;
        }
        Complete(c);
      }
    }
  }
}

std::string Pool::Failures(size_t max) const {
  std::string out;
  size_t shown = 0, total = 0;
  for (size_t i = 0; i < clients_.size(); i++) {
    if (clients_[i].error.empty()) continue;
    total++;
    if (shown++ < max) out += "client " + std::to_string(i) + ": " + clients_[i].error + "\n";
  }
  return std::to_string(total) + " failed\n" + out;
}

size_t Pool::Pinged() const {
  size_t n = 0;
  for (const Client &c : clients_)
    if (c.pings > 0) n++;
  return n;
}

}  // namespace load
