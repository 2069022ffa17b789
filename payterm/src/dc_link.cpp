#include "dc_link.h"

#include <string.h>

#include "dc_frame.h"
#include "payterm.h"
#include "port.h"
#include "timing.h"

namespace payterm {

namespace {

uint8_t g_seq = 0;

// The line is opened with VTIME 5: half a second per byte.
int byte_ms() { return vtime_ms(5); }

int put(int fd, uint8_t b) { return write_all(fd, &b, 1) == 0 ? 0 : kDcWriteFail; }

// 0 with the byte, or -64 when it failed or did not come.
int get(int fd, uint8_t* b) { return read_byte(fd, b, byte_ms()) == 1 ? 0 : kDcReadFail; }

}  // namespace

uint8_t& dc_sequence() { return g_seq; }

int dc_send(int fd, uint8_t cmd, uint8_t len, const uint8_t* data) {
  uint8_t body[260];
  uint8_t wire[2 * sizeof body + 2];
  size_t n = dc_build_body(g_seq++, cmd, data, len, body);
  size_t w = dc_stuff(body, n, wire);
  wire[w++] = kDle;
  wire[w++] = kEtx;

  if (put(fd, kStx) != 0) return kDcWriteFail;
  uint8_t b;
  int r = get(fd, &b);
  if (r != 0) return r;
  if (b != kDle) return kDcNoSync;
  if (write_all(fd, wire, w) != 0) return kDcWriteFail;
  r = get(fd, &b);
  if (r != 0) return r;
  return b == kDle ? 0 : kDcNoSync;
}

int dc_receive(int fd, uint8_t* out, uint8_t* outlen) {
  uint8_t b;
  int r = get(fd, &b);
  if (r != 0) return r;
  if (b != kStx) return kDcNoSync;
  if (put(fd, kDle) != 0) return kDcWriteFail;
  // At most 2 * 259 stuffed bytes and the trailer can belong to one reply.
  DcReplyParser p;
  for (;;) {
    r = get(fd, &b);
    if (r != 0) return r;
    DcReplyParser::Result res = p.feed(b);
    if (res == DcReplyParser::kMore) continue;
    if (res == DcReplyParser::kBadFrame) return kDcFrameErr;
    if (res == DcReplyParser::kBadCheck) {
      put(fd, kNak);
      return kDcFrameErr;
    }
    break;
  }
  if (put(fd, kDle) != 0) return kDcWriteFail;
  if (p.status() != 0) return -1;
  if (out != nullptr && p.length() > 0) memcpy(out, p.data(), p.length());
  if (outlen != nullptr) *outlen = p.length();
  return 0;
}

int dc_xfer(int fd, uint8_t cmd, const uint8_t* data, uint8_t len, uint8_t* out,
            uint8_t* outlen) {
  int r = dc_send(fd, cmd, len, data);
  if (r != 0) return r;
  uint8_t scratch[255];
  uint8_t n = 0;
  r = dc_receive(fd, out != nullptr ? out : scratch, &n);
  if (outlen != nullptr) *outlen = (r == 0) ? n : 0;
  return r;
}

}  // namespace payterm

int send_cmd(int icdev, unsigned char cmd, unsigned char len, const unsigned char* data) {
  if (len > 0 && data == nullptr) return payterm::kDcBadApdu;
  return payterm::dc_send(icdev, cmd, len, data);
}

int receive_cmd(int icdev, unsigned char* out) {
  unsigned char n;
  unsigned char scratch[255];
  return payterm::dc_receive(icdev, out != nullptr ? out : scratch, &n);
}
