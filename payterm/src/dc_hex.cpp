// Hex-text twins of the dc_ commands: same exchanges, arguments and results
// as upper-case hex text.
#include <string.h>

#include "dc_link.h"
#include "hexconv.h"
#include "payterm.h"

using namespace payterm;

namespace {

// Decodes exactly n bytes from text; false when the text is short or not hex.
bool in_hex(const char* text, size_t n, unsigned char* out) {
  if (text == nullptr) return n == 0;
  if (strnlen(text, 2 * n) < 2 * n) return false;
  return from_hex(text, n, out);
}

void out_hex(const unsigned char* in, size_t n, char* out) {
  if (out == nullptr) return;
  to_hex(in, n, out);
  out[2 * n] = '\0';
}

}  // namespace

int dc_read_hex(int icdev, unsigned char adr, char* hex33) {
  unsigned char d[16];
  int r = dc_read(icdev, adr, d);
  if (r == 0) out_hex(d, 16, hex33);
  return r;
}

int dc_write_hex(int icdev, unsigned char adr, const char* hex32) {
  unsigned char d[16];
  if (!in_hex(hex32, 16, d)) return kDcBadApdu;
  return dc_write(icdev, adr, d);
}

int dc_load_key_hex(int icdev, unsigned char mode, unsigned char secnr, const char* hex32) {
  unsigned char k[16];
  if (!in_hex(hex32, 16, k)) return kDcBadApdu;
  return dc_load_key(icdev, mode, secnr, k);
}

int dc_card_hex(int icdev, unsigned char mode, char* snrhex9) {
  unsigned long snr = 0;
  int r = dc_card(icdev, mode, &snr);
  if (r == 0) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(snr >> (8 * i));
    out_hex(b, 4, snrhex9);
  }
  return r;
}

int dc_cpureset_hex(int icdev, unsigned char* rlen, char* atrhex) {
  unsigned char atr[255];
  unsigned char n = 0;
  int r = dc_cpureset(icdev, &n, atr);
  if (r == 0) {
    out_hex(atr, n, atrhex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

int dc_cpuapdu_hex(int icdev, unsigned long slen, const char* sbufhex, unsigned long* rlen,
                   char* rbufhex) {
  unsigned char s[255];
  if (slen > sizeof s || !in_hex(sbufhex, slen, s)) return kDcBadApdu;
  unsigned char resp[255];
  unsigned long n = 0;
  int r = dc_cpuapdu(icdev, slen, s, &n, resp);
  if (r == 0) {
    out_hex(resp, n, rbufhex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

int dc_cpuapdusource_hex(int icdev, unsigned char slen, const char* sbufhex, unsigned char* rlen,
                         char* rbufhex) {
  unsigned char s[255];
  if (!in_hex(sbufhex, slen, s)) return kDcBadApdu;
  unsigned char resp[255];
  unsigned char n = 0;
  int r = dc_cpuapdusource(icdev, slen, s, &n, resp);
  if (r == 0) {
    out_hex(resp, n, rbufhex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

int dc_pro_reset_hex(int icdev, unsigned char* rlen, char* atshex) {
  unsigned char ats[255];
  unsigned char n = 0;
  int r = dc_pro_reset(icdev, &n, ats);
  if (r == 0) {
    out_hex(ats, n, atshex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

int dc_pro_command_hex(int icdev, unsigned char slen, const char* sbufhex, unsigned char* rlen,
                       char* rbufhex, unsigned char tt) {
  unsigned char s[255];
  if (!in_hex(sbufhex, slen, s)) return kDcBadApdu;
  unsigned char resp[255];
  unsigned char n = 0;
  int r = dc_pro_command(icdev, slen, s, &n, resp, tt);
  if (r == 0) {
    out_hex(resp, n, rbufhex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

int dc_pro_commandsource_hex(int icdev, unsigned char slen, const char* sbufhex,
                             unsigned char* rlen, char* rbufhex, unsigned char tt) {
  unsigned char s[255];
  if (!in_hex(sbufhex, slen, s)) return kDcBadApdu;
  unsigned char resp[255];
  unsigned char n = 0;
  int r = dc_pro_commandsource(icdev, slen, s, &n, resp, tt);
  if (r == 0) {
    out_hex(resp, n, rbufhex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

int dc_pro_commandlink_hex(int icdev, unsigned long slen, const char* sbufhex,
                           unsigned long* rlen, char* rbufhex, unsigned char tt,
                           unsigned char fg) {
  unsigned char s[PAYTERM_PRO_RESP_MAX];
  if (slen > sizeof s || !in_hex(sbufhex, slen, s)) return kDcBadApdu;
  unsigned char resp[PAYTERM_PRO_RESP_MAX];
  unsigned long n = 0;
  int r = dc_pro_commandlink(icdev, slen, s, &n, resp, tt, fg);
  if (r == 0) {
    out_hex(resp, n, rbufhex);
    if (rlen != nullptr) *rlen = n;
  }
  return r;
}

namespace {

using ReadFn = int (*)(int, unsigned short, unsigned char, unsigned char*);
using WriteFn = int (*)(int, unsigned short, unsigned char, const unsigned char*);

int read_hex(ReadFn fn, int icdev, unsigned short offset, unsigned char length, char* datahex) {
  unsigned char d[255];
  int r = fn(icdev, offset, length, d);
  if (r == 0) out_hex(d, length, datahex);
  return r;
}

int write_hex(WriteFn fn, int icdev, unsigned short offset, unsigned char length,
              const char* datahex) {
  unsigned char d[255];
  if (!in_hex(datahex, length, d)) return kDcBadApdu;
  return fn(icdev, offset, length, d);
}

}  // namespace

int srd_alleeprom_hex(int icdev, unsigned short offset, unsigned char length, char* datahex) {
  return read_hex(srd_alleeprom, icdev, offset, length, datahex);
}
int swr_alleeprom_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex) {
  return write_hex(swr_alleeprom, icdev, offset, length, datahex);
}
int dc_read_4442_hex(int icdev, unsigned short offset, unsigned char length, char* datahex) {
  return read_hex(dc_read_4442, icdev, offset, length, datahex);
}
int dc_write_4442_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex) {
  return write_hex(dc_write_4442, icdev, offset, length, datahex);
}
int dc_read_24c_hex(int icdev, unsigned short offset, unsigned char length, char* datahex) {
  return read_hex(dc_read_24c, icdev, offset, length, datahex);
}
int dc_write_24c_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex) {
  return write_hex(dc_write_24c, icdev, offset, length, datahex);
}
int dc_read_24c64_hex(int icdev, unsigned short offset, unsigned char length, char* datahex) {
  return read_hex(dc_read_24c64, icdev, offset, length, datahex);
}
int dc_write_24c64_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex) {
  return write_hex(dc_write_24c64, icdev, offset, length, datahex);
}
int dc_read_4428_hex(int icdev, unsigned short offset, unsigned char length, char* datahex) {
  return read_hex(dc_read_4428, icdev, offset, length, datahex);
}
int dc_write_4428_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex) {
  return write_hex(dc_write_4428, icdev, offset, length, datahex);
}

int dc_gettime_hex(int icdev, char* timehex15) {
  unsigned char t[7];
  int r = dc_gettime(icdev, t);
  if (r == 0) out_hex(t, 7, timehex15);
  return r;
}

int dc_settime_hex(int icdev, const char* timehex14) {
  unsigned char t[7];
  if (!in_hex(timehex14, 7, t)) return kDcBadApdu;
  return dc_settime(icdev, t);
}

int dc_getverhex(int icdev, char* verhex5) {
  unsigned char v[2];
  int r = dc_getver(icdev, v);
  if (r == 0) out_hex(v, 2, verhex5);
  return r;
}
