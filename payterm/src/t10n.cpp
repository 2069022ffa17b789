// T10N command set: frames go out through the terminal write hook and
// replies are read from the same terminal channel.
#include "t10n.h"

#include <string.h>

#include "dc_frame.h"
#include "payterm.h"
#include "port.h"
#include "t10n_frame.h"
#include "timing.h"

namespace payterm {

int& t10n_channel() {
  static int fd = -1;
  return fd;
}

namespace {

// Characters skipped while looking for STX before the reply counts as
// absent (a peer that floods must not hold the caller).
constexpr int kSyncScan = 2 * static_cast<int>(kT10nReplyMax) + 16;
constexpr int kPowerUpTries = 5;
constexpr int kTries = 200;

// One character with up to tries single-byte reads: 1 or 0.
int getc_tries(int fd, uint8_t* c, int tries) {
  for (int i = 0; i < tries; ++i) {
    int r = read_byte(fd, c, g_link_timing.t10n_read_ms);
    if (r == 1) return 1;
    if (r < 0) return 0;
  }
  return 0;
}

int run(const uint8_t* payload, size_t n, int tries, uint8_t* out, int* outLen) {
  if (Dc_T10N_PackAndWriteData(payload, static_cast<int>(n)) != 0) return -1;
  uint8_t status[2];
  int r = Dc_T10N_ReadData(out, outLen, status, tries);
  if (r != 0) return r;
  if (status[0] != 0 || status[1] != 0) return -1;
  return 0;
}

}  // namespace
}  // namespace payterm

using namespace payterm;

extern "C" {

int Dc_WriteDev(const void* data) {
  if (data == nullptr) return 0;
  int fd = t10n_channel();
  if (fd < 0) return 0;
  const char* s = static_cast<const char*>(data);
  return write_all(fd, s, strlen(s)) == 0 ? 0 : -1;
}

int Dc_T10N_PackAndWriteData(const unsigned char* payload, int n) {
  if (n < 0 || (n > 0 && payload == nullptr)) return -1;
  uint8_t frame[2 * kT10nPayloadMax + 9];
  size_t fl = t10n_encode(payload, static_cast<size_t>(n), frame);
  if (fl == 0) return -1;
  frame[fl] = 0;  // the hook takes a NUL-terminated sequence
  return Dc_WriteDev(frame);
}

int Dc_T10N_ReadData(unsigned char* out, int* outLen, unsigned char* status, int tries) {
  int fd = t10n_channel();
  if (fd < 0) return -1;
  uint8_t c = 0;
  bool synced = false;
  for (int i = 0; i < kSyncScan; ++i) {
    if (!getc_tries(fd, &c, tries)) break;
    if (c == kStx) {
      synced = true;
      break;
    }
  }
  if (!synced) return -1;
  unsigned length = 0;
  for (int i = 0; i < 4; ++i) {
    if (!getc_tries(fd, &c, tries) || c == kEtx) return -2;
    int v = t10n_nibble(c);
    if (v < 0) return -2;
    length = length << 4 | static_cast<unsigned>(v);
  }
  static uint8_t chars[2 * (kT10nReplyMax + 1)];
  size_t n = 0;
  for (;;) {
    if (!getc_tries(fd, &c, tries)) return -3;
    if (c == kEtx) break;
    // More characters than any reply holds: the count cannot match.
    if (n == sizeof chars) return -4;
    chars[n++] = c;
  }
  if (n == 0) return -3;
  static uint8_t bytes[kT10nReplyMax + 1];
  size_t nb = 0;
  if (!t10n_decode_body(chars, n, bytes, &nb)) return -4;
  if (nb - 1 != length || length < 2) return -4;
  if (status != nullptr) {
    status[0] = bytes[0];
    status[1] = bytes[1];
  }
  if (out != nullptr && length > 2) memcpy(out, bytes + 2, length - 2);
  if (outLen != nullptr) *outLen = static_cast<int>(length - 2);
  return 0;
}

int Dc_T10N_IC_PowerUp(unsigned char p1, unsigned char p2, unsigned char slot, unsigned char* atr,
                       int* atrLen) {
  uint8_t p[5] = {0x32, 0x22, p1, p2, slot};
  return run(p, sizeof p, kPowerUpTries, atr, atrLen);
}

int Dc_T10N_RF_PowerUp(unsigned char p1, unsigned char p2, unsigned char* ats, int* atsLen) {
  uint8_t p[4] = {0x32, 0x24, p1, p2};
  return run(p, sizeof p, kTries, ats, atsLen);
}

int Dc_T10N_IC_PowerDown(unsigned char slot) {
  uint8_t p[3] = {0x32, 0x23, slot};
  return run(p, sizeof p, kTries, nullptr, nullptr);
}

int Dc_T10N_RF_PowerDown(unsigned char slot) {
  uint8_t p[3] = {0x32, 0x25, slot};
  return run(p, sizeof p, kTries, nullptr, nullptr);
}

int Dc_T10N_APDU(unsigned char slot, unsigned char cla, unsigned char ins, unsigned char p1,
                 unsigned char p2, unsigned char lc, const unsigned char* data, unsigned char le,
                 unsigned char* resp, int* rlen) {
  if (lc > 0 && data == nullptr) return -1;
  uint8_t p[8 + 255];
  size_t n = 0;
  p[n++] = 0x32;
  p[n++] = 0x26;
  p[n++] = slot;
  p[n++] = cla;
  p[n++] = ins;
  p[n++] = p1;
  p[n++] = p2;
  if (lc > 0) {
    p[n++] = lc;
    memcpy(p + n, data, lc);
    n += lc;
  } else {
    p[n++] = le;
  }
  return run(p, n, kTries, resp, rlen);
}

}  // extern "C"
