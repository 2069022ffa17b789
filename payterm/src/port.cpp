#include "port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "payterm.h"

namespace payterm {

namespace {

tcflag_t baud_bits(long baud, BaudTable table) {
  if (table == BaudTable::Dc) {
    switch (baud) {
      case 19200: return B19200;
      case 38400: return B38400;
      case 57600: return B57600;
      case 115200: return B115200;
      default: return B9600;
    }
  }
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B9600;
  }
}

}  // namespace

void apply_line(struct termio* tp, long baud, int dataBits, int parity, int stopBits, int vmin,
                int vtime, BaudTable table) {
  struct termio& t = *tp;
  t.c_cflag &= ~(CBAUD | CSIZE | PARENB | PARODD | CSTOPB);
  t.c_cflag |= baud_bits(baud, table);
  t.c_cflag |= (dataBits == 7) ? CS7 : CS8;
  if (parity == 'E') {
    t.c_cflag |= PARENB;
  } else if (parity == 'O') {
    t.c_cflag |= PARENB | PARODD;
  }
  if (stopBits == 2) t.c_cflag |= CSTOPB;
  if (table == BaudTable::Dc) t.c_cflag |= CREAD;
  if (vmin < 65535 && vtime < 65535) {
    t.c_iflag = IXANY;
    t.c_oflag = 0;
    t.c_lflag = 0;
    // c_cc holds bytes: larger values would wrap to nonsense.
    t.c_cc[VMIN] = static_cast<unsigned char>(vmin < 0 ? 0 : vmin > 255 ? 255 : vmin);
    t.c_cc[VTIME] = static_cast<unsigned char>(vtime < 0 ? 0 : vtime > 255 ? 255 : vtime);
  }
}

int open_line(const char* path, long baud, int dataBits, int parity, int stopBits,
              int vmin, int vtime, BaudTable table) {
  if (path == nullptr) return -1;
  int fd = open(path, O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  struct termio t;
  if (!isatty(fd) || ioctl(fd, TCGETA, &t) != 0) {
    close(fd);
    return -1;
  }
  apply_line(&t, baud, dataBits, parity, stopBits, vmin, vtime, table);
  if (ioctl(fd, TCSETA, &t) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int read_byte(int fd, unsigned char* b, int timeout_ms) {
  struct pollfd p;
  p.fd = fd;
  p.events = POLLIN;
  for (;;) {
    p.revents = 0;
    int r = poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) return 0;
    ssize_t n = read(fd, b, 1);
    if (n == 1) return 1;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // Readable but no byte: the other end hung up.
    return -1;
  }
}

int write_all(int fd, const void* p, size_t n) {
  const unsigned char* c = static_cast<const unsigned char*>(p);
  while (n > 0) {
    ssize_t w = write(fd, c, n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return -1;
    }
    c += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

}  // namespace payterm

int asyn_open(const char* path, long baud, int dataBits, int parity, int stopBits,
              int vmin, int vtime) {
  return payterm::open_line(path, baud, dataBits, parity, stopBits, vmin, vtime,
                            payterm::BaudTable::Dc);
}
