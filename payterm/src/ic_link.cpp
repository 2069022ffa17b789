#include "ic_link.h"

#include <string.h>
#include <termios.h>

#include "hexconv.h"
#include "ic_frame.h"
#include "payterm.h"
#include "port.h"
#include "timing.h"

namespace payterm {

IcState& ic_state() {
  static IcState s;
  return s;
}

bool ic_is_aux(int fd) {
  const IcState& s = ic_state();
  return s.aux_active && fd == s.aux_fd;
}

namespace {

constexpr int kTries = 3;
constexpr int kMarkerReads = 300;
// Raw bytes an auxiliary terminal may send around one character.
constexpr int kAuxScan = 256;

int read_ms() { return vtime_ms(3); }

// The exchange runs on a raw line (VMIN 0, VTIME 3); the caller's settings
// come back afterwards, and in auxiliary mode WR_BEGIN/WR_END bracket it.
class Exchange {
 public:
  Exchange(int fd, bool bracket) : fd_(fd), bracket_(bracket && ic_is_aux(fd)) {
    if (tcgetattr(fd, &saved_) != 0) return;
    struct termios raw = saved_;
    raw.c_iflag = IXANY;
    raw.c_oflag = 0;
    raw.c_lflag = 0;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 3;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) return;
    raw_set_ = true;
    ok_ = true;
    if (bracket_) {
      const Sequence& b = ic_state().aux.wr_begin;
      if (b.n > 0 && write_all(fd, b.bytes, b.n) != 0) ok_ = false;
    }
  }
  ~Exchange() {
    if (bracket_) {
      const Sequence& e = ic_state().aux.wr_end;
      if (e.n > 0) write_all(fd_, e.bytes, e.n);
    }
    if (raw_set_) tcsetattr(fd_, TCSANOW, &saved_);
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool bracket_;
  bool ok_ = false;
  bool raw_set_ = false;
  struct termios saved_;
};

// One character of the auxiliary port: PREFIX c SUFFIX. A PREFIX seen
// where the character or SUFFIX was due starts the pattern again, so noise
// ending in PREFIX does not swallow the next character.
int aux_read_char(int fd, uint8_t* c) {
  const TermDef& d = ic_state().aux;
  enum { kWait, kChar, kSuffix } state = kWait;
  uint8_t v = 0;
  for (int scanned = 0; scanned < kAuxScan; ++scanned) {
    uint8_t b;
    int r = read_byte(fd, &b, read_ms());
    if (r != 1) return r;
    switch (state) {
      case kWait:
        if (b == d.prefix) state = kChar;
        break;
      case kChar:
        if (b != d.prefix) {
          v = b;
          state = kSuffix;
        }
        break;
      case kSuffix:
        if (b == d.suffix) {
          *c = v;
          return 1;
        }
        state = (b == d.prefix) ? kChar : kWait;
        break;
    }
  }
  return 0;
}

// One byte from the reader: 1, 0 (nothing in time) or -1 (port failed).
int get_once(int fd, uint8_t* b) {
  if (!ic_is_aux(fd)) return read_byte(fd, b, read_ms());
  uint8_t hi;
  uint8_t lo;
  int r = aux_read_char(fd, &hi);
  if (r != 1) return r;
  r = aux_read_char(fd, &lo);
  if (r != 1) return r;
  int h = hex_digit(static_cast<char>(hi));
  int l = hex_digit(static_cast<char>(lo));
  if (h < 0 || l < 0) return 0;
  *b = static_cast<uint8_t>(h << 4 | l);
  return 1;
}

// Up to three reads: 1 with the byte, or 0 when nothing usable came.
int get(int fd, uint8_t* b) {
  for (int i = 0; i < kTries; ++i) {
    int r = get_once(fd, b);
    if (r == 1) return 1;
    if (r < 0) return 0;
  }
  return 0;
}

int put(int fd, const uint8_t* p, size_t n) {
  if (!ic_is_aux(fd)) return write_all(fd, p, n);
  char hex[2 * 256];
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    ic_aux_hex(p[i], hex + o);
    o += 2;
    if (o == sizeof hex) {
      if (write_all(fd, hex, o) != 0) return -1;
      o = 0;
    }
  }
  return o > 0 ? write_all(fd, hex, o) : 0;
}

int put1(int fd, uint8_t b) { return put(fd, &b, 1); }

// Through a D6 terminal's auxiliary port the terminal answers the
// sender's handshakes and the plain receiver's acknowledgements itself.
bool handshakes(int fd) { return !(ic_is_aux(fd) && ic_state().device_d6); }

// Answer byte after the attention byte or the frame.
int answer(int fd) {
  uint8_t b;
  if (!get(fd, &b)) return kIcNoAnswer;
  return b == 0 ? 0 : -static_cast<int>(b);
}

// What follows the marker: status, length, that many data bytes, check.
struct IcBody {
  uint8_t status;
  uint8_t n;
  uint8_t data[256];
  uint8_t check;
};

bool get_body(int fd, IcBody* r) {
  if (!get(fd, &r->status) || !get(fd, &r->n)) return false;
  for (unsigned i = 0; i < r->n; ++i)
    if (!get(fd, &r->data[i])) return false;
  return get(fd, &r->check);
}

}  // namespace

int ic_mysend(int fd, const uint8_t* frame) {
  if (frame == nullptr) return -1;
  uint8_t sealed[256];
  size_t n = ic_seal_frame(frame, sealed);
  if (n == 0) return -1;
  Exchange ex(fd, true);
  if (!ex.ok()) return -1;
  bool hs = handshakes(fd);
  if (put1(fd, kIcAttention) != 0) return -1;
  if (hs) {
    int r = answer(fd);
    if (r != 0) return r;
    pause_ms(5);
  }
  if (put(fd, sealed, n) != 0) return -1;
  if (hs) return answer(fd);
  return 0;
}

// The patient receiver acknowledges in every mode: a D6 terminal answers
// the other handshakes itself but waits for these.
int ic_myrecive1(int fd, uint8_t* out) {
  Exchange ex(fd, false);
  if (!ex.ok()) return -1;
  bool marker = false;
  for (int i = 0; i < kMarkerReads && !marker; ++i) {
    uint8_t b;
    if (get(fd, &b)) marker = (b == kIcMarker);
  }
  if (!marker) return kIcNoAnswer;
  if (put1(fd, 0x00) != 0 && put1(fd, 0x00) != 0) return -1;
  IcBody r;
  if (!get_body(fd, &r)) return kIcNoAnswer;
  if (r.status != 0) return -static_cast<int>(r.status);
  if (r.check != ic_reply_check(r.data, r.n)) {
    put1(fd, 0x01);
    return kIcBadCheck;
  }
  put1(fd, 0x00);
  if (out != nullptr && r.n > 0) memcpy(out, r.data, r.n);
  return r.n;
}

int ic_myrecive(int fd, uint8_t* out) {
  Exchange ex(fd, false);
  if (!ex.ok()) return -1;
  bool hs = handshakes(fd);
  uint8_t b;
  if (!get(fd, &b)) return kIcNoAnswer;
  // A first byte 0x00 must not read as an empty success.
  if (b != kIcMarker) return b == 0 ? -1 : -static_cast<int>(b);
  if (hs) put1(fd, 0x00);
  IcBody r;
  if (!get_body(fd, &r)) return kIcNoAnswer;
  if (hs) put1(fd, 0x00);
  if (r.check != ic_reply_check(r.data, r.n)) return kIcBadCheck;
  if (out != nullptr && r.n > 0) memcpy(out, r.data, r.n);
  return r.n;
}

int ic_datacomm(int fd, const uint8_t* frame, uint8_t* out) {
  if (!ic_is_aux(fd)) tcflush(fd, TCIFLUSH);
  int r = ic_mysend(fd, frame);
  if (r != 0) return r;
  return ic_myrecive1(fd, out);
}

}  // namespace payterm

using namespace payterm;

int IC_DATACOMM(int icdev, const unsigned char* frame, unsigned char* out) {
  return ic_datacomm(icdev, frame, out);
}
int IC_SEND(int icdev, const unsigned char* frame) { return ic_mysend(icdev, frame); }
int IC_RECEIVE(int icdev, unsigned char* out) { return ic_myrecive(icdev, out); }
int IC_RECEIVE1(int icdev, unsigned char* out) { return ic_myrecive1(icdev, out); }

int IC_Status(int icdev) {
  Exchange ex(icdev, false);
  if (!ex.ok()) return -1;
  if (put1(icdev, kIcStatusQuery) != 0) return -1;
  uint8_t b;
  if (!get(icdev, &b)) return -1;
  if (b == 0x82) return 0;
  if (b == 0x86) return 1;
  return -1;
}
