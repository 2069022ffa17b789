// CPU cards over the IC_ set: contact reset and APDUs (T=0 or T=1
// I-blocks), and the contactless block protocol through the transparent
// exchange 0xDF.
#include <string.h>

#include "ic_cmd.h"
#include "ic_frame.h"
#include "ic_link.h"
#include "iso14443.h"
#include "payterm.h"
#include "t1.h"

namespace payterm {
namespace {

int apdu_source(int fd, const uint8_t* p, size_t n, uint8_t* out) {
  if (n > 251) return kIcBadParam;
  uint8_t params[253];
  params[0] = 0x00;
  params[1] = 0x00;
  if (n > 0) memcpy(params + 2, p, n);
  return ic_cmd(fd, 'A', params, n + 2, out);
}

// Transparent exchange: time-out, length, data; the reply is the card's.
int exchange_df(int fd, uint8_t tt, const uint8_t* blk, size_t n, uint8_t* reply) {
  if (n > 251) return kIcBadParam;
  uint8_t params[253];
  params[0] = tt;
  params[1] = static_cast<uint8_t>(n);
  if (n > 0) memcpy(params + 2, blk, n);
  return ic_cmd(fd, 0xDF, params, n + 2, reply);
}

class IcBlockLink : public BlockLink {
 public:
  IcBlockLink(int fd, uint8_t tt) : fd_(fd), tt_(tt) {}
  int exchange(const uint8_t* blk, size_t n, uint8_t* reply, size_t* rn) override {
    int r = exchange_df(fd_, tt_, blk, n, reply);
    if (r < 0) return r;
    *rn = static_cast<size_t>(r);
    return 0;
  }

 private:
  int fd_;
  uint8_t tt_;
};

}  // namespace
}  // namespace payterm

using namespace payterm;

int IC_CpuReset(int icdev, unsigned char* rlen, unsigned char* atr) {
  IcState& st = ic_state();
  uint8_t p = 0x00;
  uint8_t reply[255];
  int r = ic_cmd(icdev, 'C', &p, 1, reply);
  if (r < 0) return r;
  if (r < 1 || reply[0] > r - 1) return -1;
  st.tpro = atr_selects_t1(reply + 1, reply[0]) ? 1 : 0;
  st.cpcb = 0x00;
  if (atr != nullptr) memcpy(atr, reply + 1, reply[0]);
  if (rlen != nullptr) *rlen = reply[0];
  return 0;
}

int IC_CpuApduSource(int icdev, unsigned char slen, const unsigned char* sbuf,
                     unsigned char* rlen, unsigned char* rbuf) {
  if (sbuf == nullptr && slen > 0) return kIcBadParam;
  uint8_t reply[255];
  int r = apdu_source(icdev, sbuf, slen, reply);
  if (r < 0) return r;
  if (rbuf != nullptr) memcpy(rbuf, reply, r);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(r);
  return 0;
}

int IC_CpuApdu(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen,
               unsigned char* rbuf) {
  if (slen < 5 || sbuf == nullptr) return kIcBadParam;
  IcState& st = ic_state();
  uint8_t reply[255];
  if (st.tpro != 1) {
    int r = apdu_source(icdev, sbuf, slen, reply);
    if (r < 0) return r;
    if (rbuf != nullptr) memcpy(rbuf, reply, r);
    if (rlen != nullptr) *rlen = static_cast<unsigned char>(r);
    return 0;
  }
  if (slen > 247) return kIcBadParam;
  uint8_t blk[255];
  size_t bn = t1_build_iblock(st.cpcb, sbuf, slen, blk);
  st.cpcb ^= 0x40;
  int r = apdu_source(icdev, blk, bn, reply);
  if (r < 0) return r;
  size_t inf = 0;
  if (!t1_open_block(reply, static_cast<size_t>(r), &inf)) return kIcBadCheck;
  if (rbuf != nullptr) memcpy(rbuf, reply + 3, inf);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(inf);
  return 0;
}

int IC_Pro_Commandsource(int icdev, unsigned char slen, const unsigned char* sbuf,
                         unsigned char* rlen, unsigned char* rbuf, unsigned char tt) {
  if (sbuf == nullptr && slen > 0) return kIcBadParam;
  uint8_t reply[255];
  int r = exchange_df(icdev, tt, sbuf, slen, reply);
  if (r < 0) return r;
  if (rbuf != nullptr) memcpy(rbuf, reply, r);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(r);
  return 0;
}

int IC_Pro_Reset(int icdev, unsigned char* rlen, unsigned char* ats) {
  static const uint8_t kRats[2] = {0xE0, 0x50};
  uint8_t reply[255];
  int r = exchange_df(icdev, 4, kRats, 2, reply);
  if (r < 0) return r;
  ic_state().pro_pcb = 0x0B;
  if (ats != nullptr) memcpy(ats, reply, r);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(r);
  return 0;
}

int IC_Pro_Commandlink(int icdev, unsigned long slen, const unsigned char* sbuf,
                       unsigned long* rlen, unsigned char* rbuf, unsigned char tt,
                       unsigned char fg) {
  if (fg < 5 || (sbuf == nullptr && slen > 0) || rbuf == nullptr) return kIcProFail;
  // A block (PCB, CID, segment) must fit the 251 data bytes of 0xDF.
  size_t seg = static_cast<size_t>(fg) - 4;
  if (seg > 249) seg = 249;
  IcBlockLink link(icdev, tt);
  size_t n = 0;
  int r = pro_transceive(link, ProStyle::Ic, ic_state().pro_pcb, sbuf, slen, seg, rbuf,
                         PAYTERM_PRO_RESP_MAX, &n);
  if (r != 0) return kIcProFail;
  if (rlen != nullptr) *rlen = n;
  return 0;
}
