// The reader driver library of device types 1..4, loaded at run time.
// Types 1 and 2 export the dc_ API (1 with the pro variants), types 3 and
// 4 the IC_ API, all under plain names. Each operation looks its entry
// point up on every call, keeps it in its field and calls it between the
// terminal hooks Term_Head and Term_Tail.
#pragma once

namespace payterm {

class Device {
 public:
  int Device_LoadDrive();
  int Device_FreeDrive();
  int Device_Open(int port, long baud);
  int Device_Beep(long icdev, unsigned short ms);
  int Device_Close(long icdev);
  int Device_Reset(long icdev, unsigned short ms);
  int Device_Reset(long icdev);
  int Device_FindCard(long icdev, unsigned char mode, unsigned long* snr);
  int Device_FindCard(long icdev, unsigned long* len, unsigned char* snr);
  int Device_CardReset(long icdev, unsigned long* rlen, unsigned char* ats);
  int Device_CardApdu(long icdev, unsigned long slen, unsigned char* sbuf, unsigned long* rlen,
                      unsigned char* rbuf, unsigned char tt, unsigned char fg);
  int Device_CardApdu(long icdev, unsigned char slen, unsigned char* sbuf, unsigned char* rlen,
                      unsigned char* rbuf, unsigned char tt, unsigned char fg);
  int Device_CardConfig(long icdev, unsigned char cardType);
  int Device_SetCpu(long icdev, unsigned char slot);
  int Device_SetCpuPara(long icdev, unsigned char cpuType, unsigned char cpuPro,
                        unsigned char cpuEtu);
  int Device_CpuReset(long icdev, unsigned char cardType, unsigned char baud, unsigned char volt,
                      unsigned long* rlen, unsigned char* atr, unsigned long* protocol);
  int Device_CpuReset(long icdev, unsigned char* rlen, unsigned char* atr);
  int Device_Cpuapdu(long icdev, unsigned char slot, unsigned long slen, unsigned char* sbuf,
                     unsigned long* rlen, unsigned char* rbuf, unsigned long timeout);
  int Device_Cpuapdu(long icdev, unsigned long slen, unsigned char* sbuf, unsigned long* rlen,
                     unsigned char* rbuf);
  int Device_CheckIc(long icdev);

  bool loaded() const { return handle_ != nullptr; }

 private:
  // Entry-point types as the driver libraries export them.
  using OpenFn = int (*)(int, long);
  using IcdevFn = int (*)(int);
  using BeepFn = int (*)(int, unsigned short);
  using ResetMsFn = int (*)(int, unsigned short);
  using FindModeFn = int (*)(int, unsigned char, unsigned long*);
  using FindProFn = int (*)(int, unsigned long*, unsigned char*);
  using CardResetFn = int (*)(int, unsigned char*, unsigned char*);
  using ApduWordFn = int (*)(int, unsigned long, unsigned char*, unsigned long*, unsigned char*,
                             unsigned char, unsigned char);
  using ApduByteFn = int (*)(int, unsigned char, unsigned char*, unsigned char*, unsigned char*,
                             unsigned char, unsigned char);
  using ByteArgFn = int (*)(int, unsigned char);
  using CpuParaFn = int (*)(int, unsigned char, unsigned char, unsigned char);
  using CpuResetFullFn = int (*)(int, unsigned char, unsigned char, unsigned char, unsigned char*,
                                 unsigned char*, unsigned long*);
  using CpuResetByteFn = int (*)(int, unsigned char*, unsigned char*);
  using CpuApduFullFn = int (*)(int, unsigned char, unsigned long, unsigned char*,
                                unsigned long*, unsigned char*, unsigned long);
  using CpuApduWordFn = int (*)(int, unsigned long, unsigned char*, unsigned long*,
                                unsigned char*);

  // Looks name up in the loaded driver; null when absent or none loaded.
  template <typename F>
  F lookup(F* field, const char* name);

  void* handle_ = nullptr;
  OpenFn open_ = nullptr;
  BeepFn beep_ = nullptr;
  IcdevFn close_ = nullptr;
  ResetMsFn reset_ms_ = nullptr;
  IcdevFn reset_ = nullptr;
  FindModeFn find_card_ = nullptr;
  FindProFn find_card_pro_ = nullptr;
  CardResetFn card_reset_ = nullptr;
  ApduWordFn card_apdu_word_ = nullptr;
  ApduByteFn card_apdu_byte_ = nullptr;
  ByteArgFn card_config_ = nullptr;
  ByteArgFn set_cpu_ = nullptr;
  CpuParaFn set_cpu_para_ = nullptr;
  CpuResetByteFn cpu_reset_ = nullptr;
  CpuResetFullFn cpu_reset_full_ = nullptr;
  CpuApduFullFn cpu_apdu_full_ = nullptr;
  CpuApduWordFn cpu_apdu_ = nullptr;
  IcdevFn check_ic_ = nullptr;
};

extern Device device;

}  // namespace payterm
