// Dc_APDU: one command with the card's status-word conventions (61 xx,
// 6C xx, 62 xx) handled in the host.
#include "payterm.h"

namespace {

// A card that keeps answering 61 xx or 6C xx must not hold the caller.
constexpr int kMaxRepeats = 8;

void get_response(unsigned char* cmd, unsigned char le) {
  cmd[0] = 0x00;
  cmd[1] = 0xC0;
  cmd[2] = 0x00;
  cmd[3] = 0x00;
  cmd[4] = le;
}

}  // namespace

extern "C" int Dc_APDU(unsigned char* cmd, int len, unsigned char* resp, int* rlen) {
  if (cmd == nullptr || resp == nullptr || rlen == nullptr || len < 4) return -1;
  unsigned long cur = static_cast<unsigned long>(len);
  unsigned long n = 0;
  int r = Dev_Apdu(cur, cmd, &n, resp);
  for (int repeat = 0;; ++repeat) {
    if (r != 0) return r;
    if (n < 2) return -1;
    const unsigned char sw1 = resp[n - 2], sw2 = resp[n - 1];
    *rlen = static_cast<int>(n);
    if (sw1 == 0x90 && sw2 == 0x00) return 0;
    if (n > 10 && sw1 == 0x62 && sw2 == 0x83) return 0;
    if ((sw1 != 0x61 && sw1 != 0x62 && sw1 != 0x6C) || repeat == kMaxRepeats)
      return sw1 << 8 | sw2;
    if (sw1 == 0x62) {
      get_response(cmd, 0x00);
      cur = 5;
    } else if (sw1 == 0x6C) {
      cmd[cur - 1] = sw2;
    } else {
      get_response(cmd, sw2);
      cur = 5;
    }
    r = Dev_Apdu(cur, cmd, &n, resp);
  }
}
