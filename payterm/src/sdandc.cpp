// SDANDC reader link: hex text requests and replies over the port held by
// the device layer, every read bounded by one total time-out.
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "payterm.h"
#include "port.h"
#include "sdandc_frame.h"
#include "sdandc.h"
#include "t1.h"

int g_TIMEOUT_ALL_ComRead = 5;

namespace payterm {
namespace {

int g_sdandc_tpro = 0;

long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

int command_reply(int fd, uint8_t cmd, const uint8_t* data, size_t n, uint8_t* out,
                  size_t* outn) {
  static uint8_t reply[kSdandcDataMax];
  int got = 0;
  int r = DC_command(fd, cmd, data, static_cast<int>(n), reply, &got);
  if (r != 0) return -1;
  if (out != nullptr && got > 0) memcpy(out, reply, static_cast<size_t>(got));
  if (outn != nullptr) *outn = static_cast<size_t>(got);
  return 0;
}

}  // namespace

int sdandc_t1_flag() { return g_sdandc_tpro; }

}  // namespace payterm

using namespace payterm;

int ComWrite(int fd, const unsigned char* buf, int n) {
  if (buf == nullptr || n < 0) return -1;
  return write_all(fd, buf, static_cast<size_t>(n)) == 0 ? n : -1;
}

int ComRead(int fd, unsigned char* buf, int n) {
  if (buf == nullptr || n <= 0) return 0;
  long deadline = now_ms() + 1000L * g_TIMEOUT_ALL_ComRead;
  int got = 0;
  while (got < n) {
    long left = deadline - now_ms();
    if (left <= 0) break;
    struct pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    ssize_t k = read(fd, buf + got, static_cast<size_t>(n - got));
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (k <= 0) break;  // hang-up
    got += static_cast<int>(k);
  }
  return got;
}

int DC_communication(int fd, const char* frame, int len, char* reply, int* replyLen) {
  if (frame == nullptr || reply == nullptr || len < 11 ||
      len > static_cast<int>(kSdandcFrameMax) || memcmp(frame, "D&C", 3) != 0)
    return -1;
  if (ComWrite(fd, reinterpret_cast<const unsigned char*>(frame), len) != len) return -1;
  unsigned char* r = reinterpret_cast<unsigned char*>(reply);
  if (ComRead(fd, r, 3) != 3 || memcmp(reply, "D&C", 3) != 0) return -1;
  if (ComRead(fd, r + 3, 4) != 4) return -1;
  long follow = sdandc_length_field(reply + 3);
  // A length that overruns the frame buffer cannot be a reply of ours.
  if (follow < 0 || 7 + follow > static_cast<long>(kSdandcFrameMax)) return -1;
  if (follow > 0 && ComRead(fd, r + 7, static_cast<int>(follow)) != follow) return -1;
  if (replyLen != nullptr) *replyLen = static_cast<int>(7 + follow);
  return 0;
}

int DC_command(int fd, unsigned char cmd, const unsigned char* data, int n, unsigned char* out,
               int* outLen) {
  if (n < 0 || (n > 0 && data == nullptr)) return -1;
  static char frame[kSdandcFrameMax];
  static char reply[kSdandcFrameMax];
  size_t fl = sdandc_encode(cmd, data, static_cast<size_t>(n), frame);
  if (fl == 0) return -1;
  int rl = 0;
  if (DC_communication(fd, frame, static_cast<int>(fl), reply, &rl) != 0) return -1;
  uint8_t status = 0;
  size_t dlen = 0;
  static uint8_t bytes[kSdandcDataMax];
  if (sdandc_decode(reply + 7, static_cast<size_t>(rl - 7), &status, bytes, &dlen) != 0) return -1;
  if (status != 0) return -static_cast<int>(status);
  if (out != nullptr && dlen > 0) memcpy(out, bytes, dlen);
  if (outLen != nullptr) *outLen = static_cast<int>(dlen);
  return 0;
}

extern "C" {

int SDANDC_Device_Reset(int fd) { return command_reply(fd, 0x40, nullptr, 0, nullptr, nullptr); }

int SDANDC_Device_CardConfig(int fd, unsigned char cardType) {
  return command_reply(fd, 0x41, &cardType, 1, nullptr, nullptr);
}

int SDANDC_Device_SetCpu(int fd, unsigned char slot) {
  return command_reply(fd, 0x30, &slot, 1, nullptr, nullptr);
}

int SDANDC_Device_CpuReset(int fd, unsigned char cardType, unsigned char baud, unsigned char volt,
                           unsigned long* rlen, unsigned char* atr) {
  uint8_t req[3] = {cardType, baud, volt};
  static uint8_t a[kSdandcDataMax];
  size_t n = 0;
  g_sdandc_tpro = 0;
  if (command_reply(fd, 0x31, req, 3, a, &n) != 0) return -1;
  if (atr_selects_t1(a, n)) g_sdandc_tpro = 1;
  if (atr != nullptr) memcpy(atr, a, n);
  if (rlen != nullptr) *rlen = n;
  return 0;
}

int SDANDC_Device_Cpuapdu(int fd, unsigned char slot, unsigned long slen, const unsigned char* sbuf,
                          unsigned long* rlen, unsigned char* rbuf) {
  if (slen > 255 || (slen > 0 && sbuf == nullptr)) return -1;
  uint8_t req[257];
  req[0] = slot;
  req[1] = static_cast<uint8_t>(slen);
  if (slen > 0) memcpy(req + 2, sbuf, slen);
  size_t n = 0;
  if (command_reply(fd, 0x32, req, slen + 2, rbuf, &n) != 0) return -1;
  if (rlen != nullptr) *rlen = n;
  return 0;
}

int SDANDC_Device_FindCard(int fd, unsigned long* len, unsigned char* snr) {
  static uint8_t reply[kSdandcDataMax];
  size_t n = 0;
  if (command_reply(fd, 0x50, nullptr, 0, reply, &n) != 0 || n < 1) return -1;
  if (snr != nullptr) memcpy(snr, reply + 1, n - 1);
  if (len != nullptr) *len = n - 1;
  return 0;
}

int SDANDC_Device_CardReset(int fd, unsigned long* rlen, unsigned char* ats) {
  size_t n = 0;
  if (command_reply(fd, 0x51, nullptr, 0, ats, &n) != 0) return -1;
  if (rlen != nullptr) *rlen = n;
  return 0;
}

int SDANDC_Device_CardApdu(int fd, unsigned long slen, const unsigned char* sbuf,
                           unsigned long* rlen, unsigned char* rbuf, unsigned char tt,
                           unsigned char fg) {
  if (slen > kSdandcDataMax - 2 || (slen > 0 && sbuf == nullptr)) return -1;
  static uint8_t req[kSdandcDataMax];
  req[0] = tt;
  req[1] = fg;
  if (slen > 0) memcpy(req + 2, sbuf, slen);
  size_t n = 0;
  if (command_reply(fd, 0x54, req, slen + 2, rbuf, &n) != 0) return -1;
  if (rlen != nullptr) *rlen = n;
  return 0;
}

}  // extern "C"
