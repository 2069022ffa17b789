// Device: the driver library of device types 1..4 behind one table of
// operations, each with its own failure code.
#include "device.h"

#include <dlfcn.h>

#include "payterm.h"

namespace payterm {

Device device;

namespace {

int type() { return g_DEVTYPE; }
bool dc_api() { return type() == 1 || type() == 2; }
bool ic_api() { return type() == 3 || type() == 4; }

// Term_Head before and Term_Tail after every operation.
// Traced responses never run past the largest response buffer.
int traced(unsigned long n) {
  return static_cast<int>(n < PAYTERM_APDU_RESP_MAX ? n : PAYTERM_APDU_RESP_MAX);
}

struct TermBracket {
  TermBracket() { Term_Head(); }
  ~TermBracket() { Term_Tail(); }
};

}  // namespace

template <typename F>
F Device::lookup(F* field, const char* name) {
  // Without a loaded driver there is nothing to look in: a plain dlsym
  // would search the whole process and could find another library's
  // function of the same name.
  *field = handle_ != nullptr ? reinterpret_cast<F>(dlsym(handle_, name)) : nullptr;
  return *field;
}

int Device::Device_LoadDrive() {
  TermBracket tb;
  if (type() < 1 || type() > 4) return PAYTERM_E_DEVTYPE;
  void* h = dlopen(g_DEVICE_DRV_PATH, RTLD_NOW);
  if (h == nullptr) {
    d_printf("dlopen %s: %s\n", g_DEVICE_DRV_PATH, dlerror());
    return PAYTERM_E_DRV_LOAD;
  }
  // A driver still loaded from an earlier call is released after the new
  // reference is taken, so the same library keeps its state.
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = h;
  return 0;
}

int Device::Device_FreeDrive() {
  TermBracket tb;
  if (handle_ != nullptr) dlclose(handle_);
  *this = Device();
  return 0;
}

int Device::Device_Open(int port, long baud) {
  TermBracket tb;
  OpenFn f;
  if (dc_api())
    f = lookup(&open_, "dc_init");
  else if (ic_api())
    f = lookup(&open_, "IC_InitComm_Baud");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  int r = f(port, baud);
  g_icdev = r;
  if (r < 0) return PAYTERM_E_OPEN;
  Term_OpenPort();
  return r;
}

int Device::Device_Beep(long icdev, unsigned short ms) {
  TermBracket tb;
  if (ic_api()) return 0;
  if (!dc_api()) return PAYTERM_E_DEVTYPE;
  BeepFn f = lookup(&beep_, "dc_beep");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  return f(static_cast<int>(icdev), ms);
}

int Device::Device_Close(long icdev) {
  TermBracket tb;
  IcdevFn f;
  if (dc_api())
    f = lookup(&close_, "dc_exit");
  else if (ic_api())
    f = lookup(&close_, "IC_ExitComm");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  Term_ClosePort();
  return f(static_cast<int>(icdev));
}

int Device::Device_Reset(long icdev, unsigned short ms) {
  TermBracket tb;
  ResetMsFn f;
  if (type() == 2)
    f = lookup(&reset_ms_, "dc_reset");
  else if (ic_api())
    f = lookup(&reset_ms_, "IC_ResetMifare");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  if (f(static_cast<int>(icdev), ms) != 0) return type() == 2 ? -2 : PAYTERM_E_RF_RESET;
  return 0;
}

int Device::Device_Reset(long icdev) {
  TermBracket tb;
  if (ic_api()) return 0;
  if (type() != 1) return PAYTERM_E_DEVTYPE;
  IcdevFn f = lookup(&reset_, "dc_reset");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  return f(static_cast<int>(icdev)) != 0 ? PAYTERM_E_RF_RESET : 0;
}

int Device::Device_FindCard(long icdev, unsigned char mode, unsigned long* snr) {
  TermBracket tb;
  FindModeFn f;
  if (type() == 2)
    f = lookup(&find_card_, "dc_card");
  else if (ic_api())
    f = lookup(&find_card_, "IC_Card");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  return f(static_cast<int>(icdev), mode, snr) != 0 ? -1 : 0;
}

int Device::Device_FindCard(long icdev, unsigned long* len, unsigned char* snr) {
  TermBracket tb;
  if (type() != 1) return PAYTERM_E_DEVTYPE;
  FindProFn f = lookup(&find_card_pro_, "dc_card_pro");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  return f(static_cast<int>(icdev), len, snr) != 0 ? -1 : 0;
}

int Device::Device_CardReset(long icdev, unsigned long* rlen, unsigned char* ats) {
  TermBracket tb;
  CardResetFn f;
  if (dc_api())
    f = lookup(&card_reset_, "dc_pro_reset");
  else if (ic_api())
    f = lookup(&card_reset_, "IC_Pro_Reset");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  unsigned char n = 0;
  if (f(static_cast<int>(icdev), &n, ats) != 0) return -2;
  if (rlen != nullptr) *rlen = n;
  d_printf_hex_note("ATS", ats, n);
  return 0;
}

int Device::Device_CardApdu(long icdev, unsigned long slen, unsigned char* sbuf,
                            unsigned long* rlen, unsigned char* rbuf, unsigned char tt,
                            unsigned char fg) {
  TermBracket tb;
  ApduWordFn f;
  if (type() == 1)
    f = lookup(&card_apdu_word_, "dc_pro_commandlink");
  else if (ic_api())
    f = lookup(&card_apdu_word_, "IC_Pro_Commandlink");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  unsigned long n = 0;
  if (f(static_cast<int>(icdev), slen, sbuf, &n, rbuf, tt, fg) != 0) return -3;
  if (rlen != nullptr) *rlen = n;
  d_printf_hex(rbuf, traced(n));
  return 0;
}

int Device::Device_CardApdu(long icdev, unsigned char slen, unsigned char* sbuf,
                            unsigned char* rlen, unsigned char* rbuf, unsigned char tt,
                            unsigned char fg) {
  TermBracket tb;
  if (type() != 2) return PAYTERM_E_DEVTYPE;
  ApduByteFn f = lookup(&card_apdu_byte_, "dc_pro_commandlink");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  unsigned char n = 0;
  if (f(static_cast<int>(icdev), slen, sbuf, &n, rbuf, tt, fg) != 0) return -3;
  if (rlen != nullptr) *rlen = n;
  d_printf_hex(rbuf, n);
  return 0;
}

int Device::Device_CardConfig(long icdev, unsigned char cardType) {
  TermBracket tb;
  if (!dc_api()) return PAYTERM_E_DEVTYPE;
  ByteArgFn f = lookup(&card_config_, "dc_config_card");
  if (f == nullptr) return 0;
  int r = f(static_cast<int>(icdev), cardType);
  if (r != 0) d_printf("dc_config_card: %d\n", r);
  return 0;
}

int Device::Device_SetCpu(long icdev, unsigned char slot) {
  TermBracket tb;
  ByteArgFn f;
  if (dc_api())
    f = lookup(&set_cpu_, "dc_setcpu");
  else if (ic_api())
    f = lookup(&set_cpu_, "IC_InitType");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  return f(static_cast<int>(icdev), slot) != 0 ? -5 : 0;
}

int Device::Device_SetCpuPara(long icdev, unsigned char cpuType, unsigned char cpuPro,
                              unsigned char cpuEtu) {
  TermBracket tb;
  if (type() == 1 || ic_api()) return 0;
  if (type() != 2) return PAYTERM_E_DEVTYPE;
  CpuParaFn f = lookup(&set_cpu_para_, "dc_setcpupara");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  return f(static_cast<int>(icdev), cpuType, cpuPro, cpuEtu) != 0 ? -6 : 0;
}

int Device::Device_CpuReset(long icdev, unsigned char cardType, unsigned char baud,
                            unsigned char volt, unsigned long* rlen, unsigned char* atr,
                            unsigned long* protocol) {
  TermBracket tb;
  if (type() != 1) return PAYTERM_E_DEVTYPE;
  CpuResetFullFn f = lookup(&cpu_reset_full_, "dc_cpureset");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  unsigned char n = 0;
  if (f(static_cast<int>(icdev), cardType, baud, volt, &n, atr, protocol) != 0) return -7;
  if (rlen != nullptr) *rlen = n;
  d_printf_hex_note("ATR", atr, n);
  return 0;
}

int Device::Device_CpuReset(long icdev, unsigned char* rlen, unsigned char* atr) {
  TermBracket tb;
  CpuResetByteFn f;
  if (type() == 2)
    f = lookup(&cpu_reset_, "dc_cpureset");
  else if (ic_api())
    f = lookup(&cpu_reset_, "IC_CpuReset");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  unsigned char n = 0;
  if (f(static_cast<int>(icdev), &n, atr) != 0) return -7;
  if (rlen != nullptr) *rlen = n;
  d_printf_hex_note("ATR", atr, n);
  return 0;
}

int Device::Device_Cpuapdu(long icdev, unsigned char slot, unsigned long slen,
                           unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf,
                           unsigned long timeout) {
  TermBracket tb;
  if (type() != 1) return PAYTERM_E_DEVTYPE;
  CpuApduFullFn f = lookup(&cpu_apdu_full_, "dc_cpuapdu");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  if (f(static_cast<int>(icdev), slot, slen, sbuf, rlen, rbuf, timeout) != 0) return -8;
  if (rlen != nullptr) d_printf_hex(rbuf, traced(*rlen));
  return 0;
}

int Device::Device_Cpuapdu(long icdev, unsigned long slen, unsigned char* sbuf,
                           unsigned long* rlen, unsigned char* rbuf) {
  TermBracket tb;
  CpuApduWordFn f;
  if (type() == 2)
    f = lookup(&cpu_apdu_, "dc_cpuapdu");
  else if (ic_api())
    f = lookup(&cpu_apdu_, "IC_CpuApduEXT");
  else
    return PAYTERM_E_DEVTYPE;
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  unsigned long n = 0;
  if (f(static_cast<int>(icdev), slen, sbuf, &n, rbuf) != 0) return -8;
  if (rlen != nullptr) *rlen = n;
  d_printf_hex(rbuf, traced(n));
  return 0;
}

int Device::Device_CheckIc(long icdev) {
  TermBracket tb;
  if (dc_api()) return 0;
  if (!ic_api()) return PAYTERM_E_DEVTYPE;
  IcdevFn f = lookup(&check_ic_, "IC_Status");
  if (f == nullptr) return PAYTERM_E_DRV_SYMBOL;
  int st = f(static_cast<int>(icdev));
  if (st < 0) return -8;
  if (st == 1) return -10;
  return 0;
}

}  // namespace payterm
