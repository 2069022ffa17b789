// The D6 and D8 entry points: the IC_ and dc_ functions under the names
// terminal integrations expect.
#include <stdio.h>

#include "payterm.h"

int Dc_D6_IC_InitComm(int port) {
  char path[32];
  if (port >= 0 && port <= 3)
    snprintf(path, sizeof path, "/dev/ttyS%d", port);
  else
    snprintf(path, sizeof path, "/dev/tty1a");
  return IC_InitComm(path);
}
int Dc_D6_IC_ExitComm(int icdev) { return IC_ExitComm(icdev); }
int Dc_D6_IC_Status(int icdev) { return IC_Status(icdev); }
int Dc_D6_IC_InitType(int icdev, unsigned char cardtype) { return IC_InitType(icdev, cardtype); }
int Dc_D6_IC_CpuReset(int icdev, unsigned char* rlen, unsigned char* atr) {
  return IC_CpuReset(icdev, rlen, atr);
}
int Dc_D6_IC_CpuApdu(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen,
                     unsigned char* rbuf) {
  return IC_CpuApdu(icdev, slen, sbuf, rlen, rbuf);
}
int Dc_D6_IC_Card(int icdev, unsigned char mode, unsigned long* snr) {
  return IC_Card(icdev, mode, snr);
}
int Dc_D6_IC_ResetMifare(int icdev, unsigned short msec) { return IC_ResetMifare(icdev, msec); }
int Dc_D6_IC_Pro_Reset(int icdev, unsigned char* rlen, unsigned char* ats) {
  return IC_Pro_Reset(icdev, rlen, ats);
}
int Dc_D6_IC_Pro_Commandlink(int icdev, unsigned long slen, const unsigned char* sbuf,
                             unsigned long* rlen, unsigned char* rbuf, unsigned char tt,
                             unsigned char fg) {
  return IC_Pro_Commandlink(icdev, slen, sbuf, rlen, rbuf, tt, fg);
}
int Dc_D6_IC_Beep(int icdev, unsigned char b1, unsigned char b2) { return IC_Beep(icdev, b1, b2); }

int Dc_D8_dc_init(int port, long baud) { return dc_init(port, baud); }
int Dc_D8_dc_exit(int icdev) { return dc_exit(icdev); }
int Dc_D8_dc_beep(int icdev, unsigned short msec) { return dc_beep(icdev, msec); }
int Dc_D8_dc_reset(int icdev, unsigned short msec) { return dc_reset(icdev, msec); }
int Dc_D8_dc_card(int icdev, unsigned char mode, unsigned long* snr) {
  return dc_card(icdev, mode, snr);
}
int Dc_D8_dc_config_card(int icdev, unsigned char cardtype) {
  return dc_config_card(icdev, cardtype);
}
int Dc_D8_dc_setcpu(int icdev, unsigned char slot) { return dc_setcpu(icdev, slot); }
int Dc_D8_dc_setcpupara(int icdev, unsigned char cputype, unsigned char cpupro,
                        unsigned char cpuetu) {
  return dc_setcpupara(icdev, cputype, cpupro, cpuetu);
}
int Dc_D8_dc_cpureset(int icdev, unsigned char* rlen, unsigned char* atr) {
  return dc_cpureset(icdev, rlen, atr);
}
int Dc_D8_dc_cpuapdu(int icdev, unsigned long slen, const unsigned char* sbuf,
                     unsigned long* rlen, unsigned char* rbuf) {
  return dc_cpuapdu(icdev, slen, sbuf, rlen, rbuf);
}
int Dc_D8_dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* ats) {
  return dc_pro_reset(icdev, rlen, ats);
}
int Dc_D8_dc_pro_command(int icdev, unsigned char slen, const unsigned char* sbuf,
                         unsigned char* rlen, unsigned char* rbuf, unsigned char tt) {
  return dc_pro_command(icdev, slen, sbuf, rlen, rbuf, tt);
}
int Dc_D8_dc_pro_commandlink(int icdev, unsigned long slen, const unsigned char* sbuf,
                             unsigned long* rlen, unsigned char* rbuf, unsigned char tt,
                             unsigned char fg) {
  return dc_pro_commandlink(icdev, slen, sbuf, rlen, rbuf, tt, fg);
}
