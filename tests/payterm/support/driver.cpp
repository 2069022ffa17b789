// A reader driver library as libpayterm loads it by path, over the
// simulated card of ptcard. Built four times: the dc_ API with the pro
// variants (device type 1), the dc_ API plain (type 2), the IC_ API (types
// 3 and 4), and the IC_ API without IC_Status. Every call is noted with
// its arguments; ptcard::fail makes a function return that code.
#include <stdio.h>
#include <string.h>

#include <string>

#include "ptcard.h"

#define DRV extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kHandle = 7;

std::string args(const char* fn, std::initializer_list<long> a) {
  std::string s = fn;
  s += '(';
  bool first = true;
  for (long v : a) {
    if (!first) s += ',';
    s += std::to_string(v);
    first = false;
  }
  return s + ')';
}

// Notes the call; the injected failure code, else 0.
int enter(const char* fn, std::initializer_list<long> a) {
  ptcard::note(args(fn, a));
  return ptcard::failure(fn);
}

int open(const char* fn, int port, long baud) {
  int f = enter(fn, {port, baud});
  return f != 0 ? f : kHandle;
}

[[maybe_unused]] int find(const char* fn, int icdev, unsigned char mode, unsigned long* snr) {
  int f = enter(fn, {icdev, mode});
  if (f != 0) return f;
  if (!ptcard::present(ptcard::kContactless)) return 1;
  *snr = 0x11223344;
  return 0;
}

int pro_reset(const char* fn, int icdev, unsigned char* rlen, unsigned char* ats) {
  int f = enter(fn, {icdev});
  if (f != 0) return f;
  ptcard::Bytes a = ptcard::power(ptcard::kContactless);
  if (a.empty()) return 1;
  memcpy(ats, a.data(), a.size());
  *rlen = static_cast<unsigned char>(a.size());
  return 0;
}

// Card answer into rbuf; false when no card answered.
bool answer(ptcard::Slot s, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen,
            unsigned char* rbuf) {
  ptcard::Bytes r = ptcard::transmit(s, ptcard::Bytes(sbuf, sbuf + slen));
  if (r.empty()) return false;
  memcpy(rbuf, r.data(), r.size());
  *rlen = r.size();
  return true;
}

int power_contact(unsigned char* rlen, unsigned char* atr) {
  ptcard::Bytes a = ptcard::power(ptcard::kContact);
  if (a.empty()) return 1;
  memcpy(atr, a.data(), a.size());
  *rlen = static_cast<unsigned char>(a.size());
  return 0;
}

[[maybe_unused]] int cpu_reset(const char* fn, int icdev, unsigned char* rlen, unsigned char* atr) {
  int f = enter(fn, {icdev});
  return f != 0 ? f : power_contact(rlen, atr);
}

}  // namespace

#if PTDRV_API_DC

DRV int dc_init(int port, long baud) { return open("dc_init", port, baud); }
DRV int dc_exit(int icdev) { return enter("dc_exit", {icdev}); }
DRV int dc_beep(int icdev, unsigned short ms) { return enter("dc_beep", {icdev, ms}); }
DRV int dc_config_card(int icdev, unsigned char type) { return enter("dc_config_card", {icdev, type}); }
DRV int dc_setcpu(int icdev, unsigned char slot) { return enter("dc_setcpu", {icdev, slot}); }
DRV int dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* ats) {
  return pro_reset("dc_pro_reset", icdev, rlen, ats);
}

#if PTDRV_PRO
DRV int dc_reset(int icdev) { return enter("dc_reset", {icdev}); }
DRV int dc_card_pro(int icdev, unsigned long* len, unsigned char* snr) {
  int f = enter("dc_card_pro", {icdev});
  if (f != 0) return f;
  if (!ptcard::present(ptcard::kContactless)) return 1;
  const unsigned char id[4] = {0x11, 0x22, 0x33, 0x44};
  memcpy(snr, id, 4);
  *len = 4;
  return 0;
}
DRV int dc_cpureset(int icdev, unsigned char type, unsigned char baud, unsigned char volt,
                    unsigned char* rlen, unsigned char* atr, unsigned long* protocol) {
  int f = enter("dc_cpureset", {icdev, type, baud, volt});
  if (f != 0) return f;
  *protocol = 0;
  return power_contact(rlen, atr);
}
DRV int dc_cpuapdu(int icdev, unsigned char slot, unsigned long slen, unsigned char* sbuf,
                   unsigned long* rlen, unsigned char* rbuf, unsigned long timeout) {
  int f = enter("dc_cpuapdu", {icdev, slot, static_cast<long>(slen), static_cast<long>(timeout)});
  if (f != 0) return f;
  return answer(ptcard::kContact, slen, sbuf, rlen, rbuf) ? 0 : 1;
}
DRV int dc_pro_commandlink(int icdev, unsigned long slen, unsigned char* sbuf, unsigned long* rlen,
                           unsigned char* rbuf, unsigned char tt, unsigned char fg) {
  int f = enter("dc_pro_commandlink", {icdev, static_cast<long>(slen), tt, fg});
  if (f != 0) return f;
  return answer(ptcard::kContactless, slen, sbuf, rlen, rbuf) ? 0 : 1;
}
#else
DRV int dc_reset(int icdev, unsigned short ms) { return enter("dc_reset", {icdev, ms}); }
DRV int dc_card(int icdev, unsigned char mode, unsigned long* snr) {
  return find("dc_card", icdev, mode, snr);
}
DRV int dc_setcpupara(int icdev, unsigned char type, unsigned char pro, unsigned char etu) {
  return enter("dc_setcpupara", {icdev, type, pro, etu});
}
DRV int dc_cpureset(int icdev, unsigned char* rlen, unsigned char* atr) {
  return cpu_reset("dc_cpureset", icdev, rlen, atr);
}
DRV int dc_cpuapdu(int icdev, unsigned long slen, unsigned char* sbuf, unsigned long* rlen,
                   unsigned char* rbuf) {
  int f = enter("dc_cpuapdu", {icdev, static_cast<long>(slen)});
  if (f != 0) return f;
  return answer(ptcard::kContact, slen, sbuf, rlen, rbuf) ? 0 : 1;
}
DRV int dc_pro_commandlink(int icdev, unsigned char slen, unsigned char* sbuf, unsigned char* rlen,
                           unsigned char* rbuf, unsigned char tt, unsigned char fg) {
  int f = enter("dc_pro_commandlink", {icdev, slen, tt, fg});
  if (f != 0) return f;
  unsigned long n = 0;
  if (!answer(ptcard::kContactless, slen, sbuf, &n, rbuf) || n > 255) return 1;
  *rlen = static_cast<unsigned char>(n);
  return 0;
}
#endif

#else  // IC_ API

DRV int IC_InitComm_Baud(int port, long baud) { return open("IC_InitComm_Baud", port, baud); }
DRV int IC_ExitComm(int icdev) { return enter("IC_ExitComm", {icdev}); }
DRV int IC_ResetMifare(int icdev, unsigned short ms) { return enter("IC_ResetMifare", {icdev, ms}); }
DRV int IC_Card(int icdev, unsigned char mode, unsigned long* snr) {
  return find("IC_Card", icdev, mode, snr);
}
DRV int IC_Pro_Reset(int icdev, unsigned char* rlen, unsigned char* ats) {
  return pro_reset("IC_Pro_Reset", icdev, rlen, ats);
}
DRV int IC_Pro_Commandlink(int icdev, unsigned long slen, unsigned char* sbuf, unsigned long* rlen,
                           unsigned char* rbuf, unsigned char tt, unsigned char fg) {
  int f = enter("IC_Pro_Commandlink", {icdev, static_cast<long>(slen), tt, fg});
  if (f != 0) return f;
  return answer(ptcard::kContactless, slen, sbuf, rlen, rbuf) ? 0 : 1;
}
DRV int IC_InitType(int icdev, unsigned char type) { return enter("IC_InitType", {icdev, type}); }
DRV int IC_CpuReset(int icdev, unsigned char* rlen, unsigned char* atr) {
  return cpu_reset("IC_CpuReset", icdev, rlen, atr);
}
DRV int IC_CpuApduEXT(int icdev, unsigned long slen, unsigned char* sbuf, unsigned long* rlen,
                      unsigned char* rbuf) {
  int f = enter("IC_CpuApduEXT", {icdev, static_cast<long>(slen)});
  if (f != 0) return f;
  return answer(ptcard::kContact, slen, sbuf, rlen, rbuf) ? 0 : 1;
}
#if !PTDRV_NO_STATUS
DRV int IC_Status(int icdev) {
  int f = enter("IC_Status", {icdev});
  if (f != 0) return f;
  return ptcard::present(ptcard::kContact) ? 0 : 1;
}
#endif

#endif
