// libdctrace: preloaded in front of the vendor SDK libdcrf32, it records
// each dc_ call the hub makes (arguments, returned buffers, result, time)
// and passes it on (trace/README.md). The parse calls work on the text the
// ID-card read already recorded: only their results are kept.
#include <dlfcn.h>

#include <string>

#include "dcrf32.h"
#include "tracelog.h"

namespace {

using hwtrace::Line;

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::string libs() {
  std::string file = "?";
  Dl_info info;
  void* sym = dlsym(RTLD_NEXT, "dc_init");
  if (sym && dladdr(sym, &info) && info.dli_fname) file = info.dli_fname;
  return "{\"dcrf32_file\":" + hwtrace::quoted(file) + "}";
}

bool on() { return hwtrace::traceOn("dc", libs()); }

#define REAL(name, type)                                                   \
  static auto real = reinterpret_cast<type>(dlsym(RTLD_NEXT, #name));     \
  if (!real) return DC_ERR_DEVICE

}  // namespace

extern "C" {

int dc_init(short port, long baud) {
  REAL(dc_init, int (*)(short, long));
  if (!on()) return real(port, baud);
  int64_t t0 = hwtrace::nowUs();
  int r = real(port, baud);
  Line("dc_init", t0).num("port", port).num("baud", baud).num("result", r).write();
  return r;
}

short dc_exit(int icdev) {
  REAL(dc_exit, short (*)(int));
  if (!on()) return real(icdev);
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev);
  Line("dc_exit", t0).num("dev", icdev).num("result", r).write();
  return r;
}

short dc_setcpu(int icdev, unsigned char address) {
  REAL(dc_setcpu, short (*)(int, unsigned char));
  if (!on()) return real(icdev, address);
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, address);
  Line("dc_setcpu", t0).num("dev", icdev).num("addr", address).num("result", r).write();
  return r;
}

using ResetFn = short (*)(int, unsigned char*, unsigned char*);

static short reset(const char* name, ResetFn real, int icdev, unsigned char* rlen, unsigned char* buf) {
  if (!real) return DC_ERR_DEVICE;
  if (!on()) return real(icdev, rlen, buf);
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, rlen, buf);
  Line(name, t0).num("dev", icdev).num("result", r).hex("out", buf, r == 0 && rlen && buf ? *rlen : 0).write();
  return r;
}

short dc_cpureset(int icdev, unsigned char* rlen, unsigned char* databuffer) {
  static ResetFn real = next<ResetFn>("dc_cpureset");
  return reset("dc_cpureset", real, icdev, rlen, databuffer);
}

short dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* receive_data) {
  static ResetFn real = next<ResetFn>("dc_pro_reset");
  return reset("dc_pro_reset", real, icdev, rlen, receive_data);
}

short dc_cpuapdu(int icdev, unsigned char slen, unsigned char* sendbuffer, unsigned char* rlen,
                 unsigned char* databuffer) {
  REAL(dc_cpuapdu, short (*)(int, unsigned char, unsigned char*, unsigned char*, unsigned char*));
  if (!on()) return real(icdev, slen, sendbuffer, rlen, databuffer);
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, slen, sendbuffer, rlen, databuffer);
  Line("dc_cpuapdu", t0).num("dev", icdev).hex("cmd", sendbuffer, sendbuffer ? slen : 0).num("result", r)
      .hex("out", databuffer, r == 0 && rlen && databuffer ? *rlen : 0).write();
  return r;
}

short dc_pro_command(int icdev, unsigned char slen, unsigned char* sendbuffer, unsigned char* rlen,
                     unsigned char* databuffer, unsigned char timeout) {
  REAL(dc_pro_command, short (*)(int, unsigned char, unsigned char*, unsigned char*, unsigned char*, unsigned char));
  if (!on()) return real(icdev, slen, sendbuffer, rlen, databuffer, timeout);
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, slen, sendbuffer, rlen, databuffer, timeout);
  Line("dc_pro_command", t0).num("dev", icdev).hex("cmd", sendbuffer, sendbuffer ? slen : 0).num("timeout", timeout)
      .num("result", r).hex("out", databuffer, r == 0 && rlen && databuffer ? *rlen : 0).write();
  return r;
}

short dc_SamAReadCardInfo(int icdev, int type, unsigned int* text_len, unsigned char* text, unsigned int* photo_len,
                          unsigned char* photo, unsigned int* fingerprint_len, unsigned char* fingerprint,
                          unsigned int* extra_len, unsigned char* extra) {
  REAL(dc_SamAReadCardInfo, short (*)(int, int, unsigned int*, unsigned char*, unsigned int*, unsigned char*,
                                      unsigned int*, unsigned char*, unsigned int*, unsigned char*));
  if (!on()) return real(icdev, type, text_len, text, photo_len, photo, fingerprint_len, fingerprint, extra_len, extra);
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, type, text_len, text, photo_len, photo, fingerprint_len, fingerprint, extra_len, extra);
  auto len = [r](const unsigned int* n, const unsigned char* b) { return r == 0 && n && b ? size_t(*n) : 0; };
  Line("dc_SamAReadCardInfo", t0).num("dev", icdev).num("type", type).num("result", r)
      .hex("text", text, len(text_len, text)).hex("photo", photo, type >= 2 ? len(photo_len, photo) : 0)
      .hex("fp", fingerprint, type >= 3 ? len(fingerprint_len, fingerprint) : 0).write();
  return r;
}

short dc_ParseTextInfo(int icdev, int charset, unsigned int info_len, unsigned char* info, unsigned char* name,
                       unsigned char* sex, unsigned char* nation, unsigned char* birth_day, unsigned char* address,
                       unsigned char* id_number, unsigned char* department, unsigned char* expire_start_day,
                       unsigned char* expire_end_day, unsigned char* reserved) {
  REAL(dc_ParseTextInfo, decltype(&dc_ParseTextInfo));
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, charset, info_len, info, name, sex, nation, birth_day, address, id_number, department,
                 expire_start_day, expire_end_day, reserved);
  if (on()) Line("dc_ParseTextInfo", t0).num("dev", icdev).num("charset", charset).num("result", r).write();
  return r;
}

short dc_ParseTextInfoForForeigner(int icdev, int charset, unsigned int info_len, unsigned char* info,
                                   unsigned char* english_name, unsigned char* sex, unsigned char* id_number,
                                   unsigned char* citizenship, unsigned char* chinese_name,
                                   unsigned char* expire_start_day, unsigned char* expire_end_day,
                                   unsigned char* birth_day, unsigned char* version_number,
                                   unsigned char* department_code, unsigned char* type_sign, unsigned char* reserved) {
  REAL(dc_ParseTextInfoForForeigner, decltype(&dc_ParseTextInfoForForeigner));
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, charset, info_len, info, english_name, sex, id_number, citizenship, chinese_name,
                 expire_start_day, expire_end_day, birth_day, version_number, department_code, type_sign, reserved);
  if (on()) Line("dc_ParseTextInfoForForeigner", t0).num("dev", icdev).num("charset", charset).num("result", r).write();
  return r;
}

short dc_ParseTextInfoForHkMoTw(int icdev, int charset, unsigned int info_len, unsigned char* info,
                                unsigned char* name, unsigned char* sex, unsigned char* birth_day,
                                unsigned char* address, unsigned char* id_number, unsigned char* department,
                                unsigned char* expire_start_day, unsigned char* expire_end_day,
                                unsigned char* pass_number, unsigned char* sign_count, unsigned char* type_sign,
                                unsigned char* reserved) {
  REAL(dc_ParseTextInfoForHkMoTw, decltype(&dc_ParseTextInfoForHkMoTw));
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, charset, info_len, info, name, sex, birth_day, address, id_number, department,
                 expire_start_day, expire_end_day, pass_number, sign_count, type_sign, reserved);
  if (on()) Line("dc_ParseTextInfoForHkMoTw", t0).num("dev", icdev).num("charset", charset).num("result", r).write();
  return r;
}

short dc_ParseOtherInfo(int icdev, int flag, unsigned char* in_info, unsigned char* out_info) {
  REAL(dc_ParseOtherInfo, decltype(&dc_ParseOtherInfo));
  int64_t t0 = hwtrace::nowUs();
  short r = real(icdev, flag, in_info, out_info);
  if (on()) Line("dc_ParseOtherInfo", t0).num("dev", icdev).num("flag", flag).num("result", r).write();
  return r;
}

}  // extern "C"
