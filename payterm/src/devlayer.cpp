// The device layer: open the reader, bring a card up on the configured
// interface, carry APDUs, close; or hand APDUs to the host in host mode.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "device.h"
#include "payterm.h"
#include "t10n.h"
#include "timing.h"

namespace payterm {
namespace {

constexpr unsigned char kUserSlot = 0x0C;
constexpr int kHostBuffer = 1024;
// Pause between two unsuccessful contactless polls: the in-process
// drivers answer at once, and the loop must not spin.
constexpr long kPollPauseMs = 10;

long now_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec;
}

int find_flag() { return __atomic_load_n(&g_FindCardFlag, __ATOMIC_SEQ_CST); }
void set_find_flag(int v) { __atomic_store_n(&g_FindCardFlag, v, __ATOMIC_SEQ_CST); }

int contact_power_up() {
  const int t = g_DEVTYPE;
  int r;
  switch (t) {
    case 1:
    case 2: r = device.Device_SetCpu(g_icdev, kUserSlot); break;
    case 3:
    case 4:
      r = device.Device_CheckIc(g_icdev);
      if (r == 0) r = device.Device_SetCpu(g_icdev, kUserSlot);
      break;
    case 5: r = 0; break;
    case 6: r = SDANDC_Device_SetCpu(g_icdev, kUserSlot); break;
    default: return PAYTERM_E_DEVTYPE;
  }
  if (r != 0) return r;
  if (t == 2) {
    r = device.Device_SetCpuPara(g_icdev, kUserSlot, 0x00, 0x5C);
    if (r != 0) return r;
  }
  unsigned char atr[PAYTERM_APDU_RESP_MAX];
  switch (t) {
    case 1: {
      unsigned long n = 0, protocol = 0;
      return device.Device_CpuReset(g_icdev, 3, 1, 2, &n, atr, &protocol);
    }
    case 5: {
      int n = 0;
      return Dc_T10N_IC_PowerUp(0x01, 0x00, 0, atr, &n);
    }
    case 6: {
      unsigned long n = 0;
      return SDANDC_Device_CpuReset(g_icdev, 3, 1, 2, &n, atr);
    }
    default: {
      unsigned char n = 0;
      return device.Device_CpuReset(g_icdev, &n, atr);
    }
  }
}

int find_card() {
  unsigned char snr[PAYTERM_APDU_RESP_MAX];
  switch (g_DEVTYPE) {
    case 1: {
      unsigned long n = 0;
      return device.Device_FindCard(g_icdev, &n, snr);
    }
    case 5: return 0;
    case 6: {
      unsigned long n = 0;
      return SDANDC_Device_FindCard(g_icdev, &n, snr);
    }
    default: {
      unsigned long s = 0;
      return device.Device_FindCard(g_icdev, static_cast<unsigned char>(0), &s);
    }
  }
}

int contactless_power_up() {
  const int t = g_DEVTYPE;
  int r;
  switch (t) {
    case 1: r = device.Device_Reset(g_icdev); break;
    case 2:
    case 3:
    case 4: r = device.Device_Reset(g_icdev, static_cast<unsigned short>(2)); break;
    case 5: r = 0; break;
    case 6: r = SDANDC_Device_Reset(g_icdev); break;
    default: return PAYTERM_E_DEVTYPE;
  }
  if (r != 0) return r;

  char text[32];
  GetPrivateProfileString("APPLEPAY", "TIMEOUT", "1", text, sizeof text, ".\\DC_PBOC.ini");
  long limit = atol(text);
  set_find_flag(1);
  long start = now_seconds();
  for (;;) {
    r = find_card();
    if (r == 0 || find_flag() == 0) break;
    if (now_seconds() - start > limit) break;
    pause_ms(kPollPauseMs);
  }
  set_find_flag(0);
  if (r != 0) return r;

  unsigned char ats[PAYTERM_APDU_RESP_MAX];
  switch (t) {
    case 5: {
      int n = 0;
      r = Dc_T10N_RF_PowerUp(0x01, 0x00, ats, &n);
      break;
    }
    case 6: {
      unsigned long n = 0;
      r = SDANDC_Device_CardReset(g_icdev, &n, ats);
      break;
    }
    default: {
      unsigned long n = 0;
      r = device.Device_CardReset(g_icdev, &n, ats);
      break;
    }
  }
  if (r != 0) return r;
  g_ICTYPE = '2';
  g_ICFLAG = '2';
  return 0;
}

// T10N carries the header bytes apart: Lc and data for a command with
// data, the Le byte alone for one without.
int t10n_apdu(unsigned char slot, unsigned long len, const unsigned char* cmd,
              unsigned long* rlen, unsigned char* resp) {
  if (len < 5) return -1;
  unsigned char lc = 0;
  const unsigned char* data = nullptr;
  if (len > 5) {
    lc = cmd[4];
    if (lc == 0 || 5u + lc > len) return -1;
    data = cmd + 5;
  }
  int n = 0;
  if (Dc_T10N_APDU(slot, cmd[0], cmd[1], cmd[2], cmd[3], lc, data, cmd[4], resp, &n) != 0)
    return -1;
  *rlen = static_cast<unsigned long>(n);
  return 0;
}

int host_apdu(unsigned long len, const unsigned char* cmd, unsigned long* rlen,
              unsigned char* resp) {
  PaytermHostExchange fn = g_fc != nullptr ? g_fc[0] : nullptr;
  if (fn == nullptr || len > static_cast<unsigned long>(kHostBuffer)) return -1;
  unsigned char buf[kHostBuffer];
  memcpy(buf, cmd, len);
  int r = fn(g_icdev, g_Wy_type, buf, static_cast<int>(len), kHostBuffer);
  // A host that claims more than the buffer it was given cannot be trusted.
  if (r < 0 || r > kHostBuffer) return -1;
  memcpy(resp, buf, static_cast<size_t>(r));
  *rlen = static_cast<unsigned long>(r);
  return 0;
}

int contact_apdu(unsigned long len, unsigned char* cmd, unsigned long* rlen,
                 unsigned char* resp) {
  switch (g_DEVTYPE) {
    case 1: return device.Device_Cpuapdu(g_icdev, kUserSlot, len, cmd, rlen, resp, 0);
    case 2:
    case 3:
    case 4: return device.Device_Cpuapdu(g_icdev, len, cmd, rlen, resp);
    case 5: return t10n_apdu(0x00, len, cmd, rlen, resp);
    case 6: return SDANDC_Device_Cpuapdu(g_icdev, kUserSlot, len, cmd, rlen, resp) != 0 ? -1 : 0;
    default: return -1;
  }
}

int contactless_apdu(unsigned long len, unsigned char* cmd, unsigned long* rlen,
                     unsigned char* resp) {
  switch (g_DEVTYPE) {
    case 1:
    case 3:
    case 4: return device.Device_CardApdu(g_icdev, len, cmd, rlen, resp, 7, 56);
    case 2: {
      if (len > 255) return -3;
      unsigned char n = 0;
      int r = device.Device_CardApdu(g_icdev, static_cast<unsigned char>(len), cmd, &n, resp, 7,
                                     56);
      if (r == 0) *rlen = n;
      return r;
    }
    case 5: return t10n_apdu(0xFF, len, cmd, rlen, resp);
    case 6: return SDANDC_Device_CardApdu(g_icdev, len, cmd, rlen, resp, 7, 56) != 0 ? -1 : 0;
    default: return -1;
  }
}

}  // namespace
}  // namespace payterm

using namespace payterm;

extern "C" {

int Dev_Open(void) {
  if (g_Wy_Flag) return 0;
  const int t = g_DEVTYPE;
  int r;
  if (t != 5 && t != 6) {
    r = device.Device_LoadDrive();
    if (r != 0) return r;
  }
  if (t == 5 || t == 6) {
    char port[24];
    snprintf(port, sizeof port, "COM%d", g_PORTNO);
    d_printf("Dev_Open %s\n", port);
    // The line is the caller's (see g_icdev); without one there is nothing
    // to talk to.
    if (g_icdev <= 0) return PAYTERM_E_OPEN;
  } else {
    if (g_icdev != 0) {
      device.Device_Close(g_icdev);
      g_icdev = 0;
    }
    if (g_PORTTYPE == 1) {
      r = device.Device_Open(100, g_PORTBAUD);
    } else if (g_PORTTYPE == 2) {
      r = device.Device_Open(g_PORTNO - 1, g_PORTBAUD);
    } else {
      device.Device_FreeDrive();
      return -205;
    }
    if (r < 0) {
      // Nothing is open: a later open must not close a handle it never got.
      g_icdev = 0;
      device.Device_FreeDrive();
      return r;
    }
  }
  t10n_channel() = t == 5 ? g_icdev : -1;
  Dev_Open_BpPort(g_icdev, g_BPTYPE, g_BPPORT);
  if (t == 1 || t == 2)
    r = device.Device_CardConfig(g_icdev, 'A');
  else if (t == 6)
    r = SDANDC_Device_CardConfig(g_icdev, 'A');
  else
    r = 0;
  if (r == 0) {
    d_printf("Dev_Open OK\n");
    return 0;
  }
  if (t >= 1 && t <= 4) {
    device.Device_Close(g_icdev);
    g_icdev = 0;
  }
  device.Device_FreeDrive();
  return r;
}

int Dev_Card(void) {
  if (g_Wy_Flag) return 0;
  g_ICTYPE = '0';
  const int flag = g_ICFLAG;
  if (flag != '1' && flag != '2' && flag != '3') {
    g_ICFLAG = '0';
    return 0;
  }
  if (flag == '1' || flag == '3') {
    int r = contact_power_up();
    if (r == 0) {
      g_ICTYPE = '1';
      g_ICFLAG = '1';
      return 0;
    }
    d_printf("Dev_Card contact: %d\n", r);
    if (flag == '1') return r;
  }
  return contactless_power_up();
}

int Dev_Apdu(unsigned long len, unsigned char* cmd, unsigned long* rlen, unsigned char* resp) {
  if (cmd == nullptr || rlen == nullptr || resp == nullptr) return -1;
  d_printf_hex_note("APDU", cmd, static_cast<int>(len));
  int r;
  if (g_Wy_Flag) {
    r = host_apdu(len, cmd, rlen, resp);
  } else if (g_ICFLAG == '1') {
    r = contact_apdu(len, cmd, rlen, resp);
    if (r == 0 && *rlen > PAYTERM_APDU_RESP_MAX) r = -8;
  } else if (g_ICFLAG == '2') {
    r = contactless_apdu(len, cmd, rlen, resp);
    if (r == 0 && *rlen > PAYTERM_APDU_RESP_MAX) r = -3;
  } else {
    return PAYTERM_E_NO_INTERFACE;
  }
  return r;
}

int Dev_Close(void) {
  if (g_Wy_Flag || g_DEVTYPE == 5 || g_DEVTYPE == 6) return 0;
  device.Device_Close(g_icdev);
  g_icdev = 0;
  device.Device_FreeDrive();
  return 0;
}

int Dc_BreakFindCard(void) {
  set_find_flag(0);
  return 0;
}

int Dev_Open_BpPort(int icdev, int bpType, int bpPort) {
  d_printf("Dev_Open_BpPort %d %d %d\n", icdev, bpType, bpPort);
  if (bpPort != 'A' && bpPort != 'B' && bpPort != 'C' && bpPort != 'K') return -2;
  const char seq[4] = {0x1B, '%', static_cast<char>(bpPort), 0};
  return Dc_WriteDev(seq);
}

int Dc_WriteTerm(const void* data) { return Dc_WriteDev(data); }
int Term_Head(void) { return 0; }
int Term_Tail(void) { return 0; }
int Term_OpenPort(void) { return 0; }
int Term_ClosePort(void) { return 0; }
int Term_Reset(void) { return 0; }
int Term_Set(void) { return 0; }

long Wy_LibMain(int op, char* arg) {
  g_Wy_Flag = 1;
  switch (op) {
    case 0:
      if (arg != nullptr) memcpy(arg, "1.0", 4);
      return 0;
    case 1:
      if (arg != nullptr) {
        size_t n = strnlen(arg, sizeof g_work_dir - 1);
        memcpy(g_work_dir, arg, n);
        g_work_dir[n] = '\0';
      }
      return 0;
    case 2:
      if (arg != nullptr) memcpy(arg, g_work_dir, strlen(g_work_dir) + 1);
      return 0;
    case 3:
      g_fc = reinterpret_cast<PaytermHostExchange*>(arg);
      return reinterpret_cast<long>(&g_fc);
    default: return 0;
  }
}

}  // extern "C"
