// Contactless ISO/IEC 14443-4 cards over the dc_ set: blocks travel in
// command 0x86 (time-out, block length, block).
#include <string.h>

#include "dc_cmd.h"
#include "dc_link.h"
#include "dc_state.h"
#include "iso14443.h"
#include "payterm.h"

namespace payterm {
namespace {

// Reply data of 0x86: length byte, then the card's block.
int exchange_86(int fd, uint8_t tt, const uint8_t* blk, size_t n, uint8_t* reply, size_t* rn) {
  if (n > 253) return kDcBadApdu;
  uint8_t req[255];
  req[0] = tt;
  req[1] = static_cast<uint8_t>(n);
  if (n > 0) memcpy(req + 2, blk, n);
  uint8_t got_buf[255];
  uint8_t got = 0;
  int r = dc_xfer(fd, 0x86, req, static_cast<uint8_t>(n + 2), got_buf, &got);
  if (r != 0) return r;
  if (got < 1 || got_buf[0] > got - 1) return kDcNoSync;
  memcpy(reply, got_buf + 1, got_buf[0]);
  *rn = got_buf[0];
  return 0;
}

class DcBlockLink : public BlockLink {
 public:
  DcBlockLink(int fd, uint8_t tt) : fd_(fd), tt_(tt) {}
  int exchange(const uint8_t* blk, size_t n, uint8_t* reply, size_t* rn) override {
    return exchange_86(fd_, tt_, blk, n, reply, rn);
  }

 private:
  int fd_;
  uint8_t tt_;
};

}  // namespace
}  // namespace payterm

using namespace payterm;

int dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* ats) {
  uint8_t p = 0x60;
  uint8_t reply[255];
  uint8_t got = 0;
  int r = dc_xfer(icdev, 0x85, &p, 1, reply, &got);
  if (r != 0) return r;
  dc_card_state().pro_pcb = 0x0B;
  if (ats != nullptr) memcpy(ats, reply, got);
  if (rlen != nullptr) *rlen = got;
  return 0;
}

int dc_pro_commandsource(int icdev, unsigned char slen, const unsigned char* sbuf,
                         unsigned char* rlen, unsigned char* rbuf, unsigned char tt) {
  if (sbuf == nullptr && slen > 0) return kDcBadApdu;
  uint8_t reply[255];
  size_t n = 0;
  int r = exchange_86(icdev, tt, sbuf, slen, reply, &n);
  if (r != 0) return r;
  if (rbuf != nullptr) memcpy(rbuf, reply, n);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(n);
  return 0;
}

int dc_pro_command(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen,
                   unsigned char* rbuf, unsigned char tt) {
  if ((sbuf == nullptr && slen > 0) || slen > 251) return kDcBadApdu;
  DcBlockLink link(icdev, tt);
  uint8_t resp[255];
  size_t n = 0;
  int r = pro_transceive(link, ProStyle::Dc, dc_card_state().pro_pcb, sbuf, slen,
                         slen > 0 ? slen : 1, resp, sizeof resp, &n);
  if (r != 0) return r;
  if (rbuf != nullptr) memcpy(rbuf, resp, n);
  if (rlen != nullptr) *rlen = static_cast<unsigned char>(n);
  return 0;
}

int dc_pro_commandlink(int icdev, unsigned long slen, const unsigned char* sbuf,
                       unsigned long* rlen, unsigned char* rbuf, unsigned char tt,
                       unsigned char fg) {
  if (fg < 7 || (sbuf == nullptr && slen > 0) || rbuf == nullptr) return kDcBadApdu;
  DcBlockLink link(icdev, tt);
  size_t n = 0;
  int r = pro_transceive(link, ProStyle::Dc, dc_card_state().pro_pcb, sbuf, slen,
                         static_cast<size_t>(fg) - 6, rbuf, PAYTERM_PRO_RESP_MAX, &n);
  if (r != 0) return r;
  if (rlen != nullptr) *rlen = n;
  return 0;
}

int dc_set_autoflag(int icdev, unsigned char flag) { return dc_simple(icdev, 0x86, &flag, 1); }
