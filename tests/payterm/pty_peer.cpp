#include "pty_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string.h>

#include <stdexcept>

PtyPair::PtyPair() {
  char buf[128];
  struct termios t;
  memset(&t, 0, sizeof t);
  cfmakeraw(&t);
  if (openpty(&master_, &slave_, buf, &t, nullptr) != 0) throw std::runtime_error("openpty");
  name_ = buf;
}

PtyPair::~PtyPair() {
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

bool PtyPair::read_exact(uint8_t* p, size_t n, int timeout_ms) {
  for (size_t i = 0; i < n; ++i) {
    int b = read1(timeout_ms);
    if (b < 0) return false;
    p[i] = static_cast<uint8_t>(b);
  }
  return true;
}

int PtyPair::read1(int timeout_ms) {
  struct pollfd pfd = {master_, POLLIN, 0};
  for (;;) {
    int r = poll(&pfd, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    uint8_t b;
    ssize_t k = ::read(master_, &b, 1);
    if (k == 1) return b;
    if (k < 0 && errno == EINTR) continue;
    return -1;
  }
}

Bytes PtyPair::read_exactly(size_t n, int timeout_ms) {
  Bytes b(n);
  if (!read_exact(b.data(), n, timeout_ms)) b.clear();
  return b;
}

Bytes PtyPair::drain(int quiet_ms) {
  Bytes out;
  for (;;) {
    int b = read1(quiet_ms);
    if (b < 0) return out;
    out.push_back(static_cast<uint8_t>(b));
  }
}

void PtyPair::write(const Bytes& b) {
  size_t off = 0;
  while (off < b.size()) {
    ssize_t w = ::write(master_, b.data() + off, b.size() - off);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    off += static_cast<size_t>(w);
  }
}

Bytes hex_bytes(const char* hex) {
  Bytes out;
  int hi = -1;
  for (const char* p = hex; *p; ++p) {
    int v;
    if (*p >= '0' && *p <= '9') v = *p - '0';
    else if (*p >= 'A' && *p <= 'F') v = *p - 'A' + 10;
    else if (*p >= 'a' && *p <= 'f') v = *p - 'a' + 10;
    else continue;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  return out;
}

std::string to_hex_text(const Bytes& b) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i) s += ' ';
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  return s;
}
