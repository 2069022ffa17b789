// Contact CPU cards over the dc_ set: reset with protocol detection and
// APDUs in T=0 or as T=1 I-blocks.
#include <string.h>

#include "dc_cmd.h"
#include "dc_link.h"
#include "dc_state.h"
#include "payterm.h"
#include "t1.h"

namespace payterm {

DcCardState& dc_card_state() {
  static DcCardState s;
  return s;
}

namespace {

// Command 0x7D: length byte and payload out, length byte and payload back.
int apdu_source(int fd, const uint8_t* p, size_t n, uint8_t* out, size_t* outn) {
  if (n > 254) return kDcBadApdu;
  uint8_t req[255];
  req[0] = static_cast<uint8_t>(n);
  if (n > 0) memcpy(req + 1, p, n);
  uint8_t reply[255];
  uint8_t got = 0;
  int r = dc_xfer(fd, 0x7D, req, static_cast<uint8_t>(n + 1), reply, &got);
  if (r != 0) return r;
  if (got < 1 || reply[0] > got - 1) return kDcNoSync;
  memcpy(out, reply + 1, reply[0]);
  *outn = reply[0];
  return 0;
}

}  // namespace
}  // namespace payterm

using namespace payterm;

int dc_cpureset(int icdev, unsigned char* rlen, unsigned char* atr) {
  DcCardState& st = dc_card_state();
  st.tpro = 0;
  st.cpcb = 0x00;
  uint8_t reply[255];
  uint8_t got = 0;
  int r = dc_xfer(icdev, 0x7E, nullptr, 0, reply, &got);
  if (r != 0) return r;
  if (got < 1 || reply[0] > got - 1) return kDcNoSync;
  if (atr_selects_t1(reply + 1, reply[0])) st.tpro = 1;
  if (atr != nullptr) memcpy(atr, reply + 1, reply[0]);
  if (rlen != nullptr) *rlen = reply[0];
  return 0;
}

int dc_cpuapdusource(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen,
                     unsigned char* rbuf) {
  if (sbuf == nullptr && slen > 0) return kDcBadApdu;
  uint8_t out[255];
  size_t n = 0;
  int r = apdu_source(icdev, sbuf, slen, out, &n);
  if (r != 0) return r;
  if (rbuf != nullptr) memcpy(rbuf, out, n);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(n);
  return 0;
}

int dc_cpuapdu(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen,
               unsigned char* rbuf) {
  if (slen < 5 || sbuf == nullptr) return kDcBadApdu;
  DcCardState& st = dc_card_state();
  uint8_t out[255];
  size_t n = 0;
  if (st.tpro != 1) {
    if (slen > 254) return kDcBadApdu;
    int r = apdu_source(icdev, sbuf, slen, out, &n);
    if (r != 0) return r;
    if (rbuf != nullptr) memcpy(rbuf, out, n);
    if (rlen != nullptr) *rlen = n;
    return 0;
  }
  // One I-block must fit the length byte of command 0x7D.
  if (slen > 250) return kDcBadApdu;
  uint8_t blk[255];
  size_t bn = t1_build_iblock(st.cpcb, sbuf, slen, blk);
  st.cpcb ^= 0x40;
  int r = apdu_source(icdev, blk, bn, out, &n);
  if (r != 0) return r;
  size_t inf = 0;
  if (!t1_open_block(out, n, &inf)) return kDcBadLrc;
  if (rbuf != nullptr) memcpy(rbuf, out + 3, inf);
  if (rlen != nullptr) *rlen = inf;
  return 0;
}
