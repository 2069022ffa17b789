#include "iso14443.h"

#include <string.h>

namespace payterm {

namespace {

constexpr uint8_t kCid = 0x08;
constexpr uint8_t kNad = 0x04;
constexpr uint8_t kChain = 0x10;

bool is_iblock(uint8_t pcb) { return (pcb & 0xE2) == 0x02; }
bool is_rack(uint8_t pcb) { return (pcb & 0xF0) == 0xA0; }
bool is_wtx(uint8_t pcb) { return (pcb & 0xF7) == 0xF2; }

class Session {
 public:
  Session(BlockLink& link, ProStyle style, uint8_t& pcb_state)
      : link_(link), style_(style), pcb_state_(pcb_state) {}

  int protocol_fault() const { return style_ == ProStyle::Dc ? -16 : -136; }
  int transport_fault(int code) const { return style_ == ProStyle::Dc ? code : -136; }

  // Sends blk and returns the card's next block that is not a waiting-time
  // request. The IC_ style answers a failed or garbled reply with R(NAK).
  int transact(const uint8_t* blk, size_t n, uint8_t* reply, size_t* rn) {
    uint8_t aux[256];
    const uint8_t* send = blk;
    size_t sn = n;
    int errors = 0;
    int wtx = 0;
    for (;;) {
      size_t got = 0;
      int r = link_.exchange(send, sn, reply, &got);
      bool bad = r != 0 || got == 0 || got < pro_inf_offset(reply[0]);
      if (!bad && is_wtx(reply[0]) && style_ == ProStyle::Ic &&
          got <= pro_inf_offset(reply[0]))
        bad = true;  // no WTXM byte
      if (bad) {
        if (style_ == ProStyle::Dc) return r != 0 ? r : protocol_fault();
        if (++errors > 3) return protocol_fault();
        aux[0] = static_cast<uint8_t>(0xBA | (pcb_state_ & 0x01));
        aux[1] = 0x00;
        send = aux;
        sn = 2;
        continue;
      }
      if (is_wtx(reply[0])) {
        // A card that never stops asking for time must not hold the host.
        if (++wtx > kMaxWtx) return protocol_fault();
        if (style_ == ProStyle::Dc) {
          memcpy(aux, reply, got);
          sn = got;
        } else {
          aux[0] = 0xFA;
          aux[1] = 0x00;
          aux[2] = reply[pro_inf_offset(reply[0])] & 0x3F;
          sn = 3;
        }
        send = aux;
        continue;
      }
      *rn = got;
      return 0;
    }
  }

 private:
  BlockLink& link_;
  ProStyle style_;
  uint8_t& pcb_state_;
};

}  // namespace

size_t pro_inf_offset(uint8_t pcb) {
  size_t off = 1;
  if (pcb & kCid) ++off;
  if (pcb & kNad) ++off;
  return off;
}

int pro_transceive(BlockLink& link, ProStyle style, uint8_t& pcb_state, const uint8_t* apdu,
                   size_t n, size_t seg, uint8_t* resp, size_t cap, size_t* rlen) {
  Session s(link, style, pcb_state);
  if (seg == 0 || seg > 251) return s.protocol_fault();
  uint8_t blk[256];
  uint8_t rb[256];
  size_t rn = 0;
  size_t pos = 0;
  for (;;) {
    size_t chunk = (n - pos < seg) ? n - pos : seg;
    bool last = pos + chunk == n;
    pcb_state ^= 0x01;
    blk[0] = static_cast<uint8_t>(pcb_state | (last ? 0 : kChain));
    blk[1] = 0x00;
    if (chunk > 0) memcpy(blk + 2, apdu + pos, chunk);
    int r = s.transact(blk, chunk + 2, rb, &rn);
    if (r != 0) return s.transport_fault(r);
    pos += chunk;
    if (last) break;
    if (!is_rack(rb[0])) return s.protocol_fault();
  }
  size_t total = 0;
  for (;;) {
    if (!is_iblock(rb[0])) return s.protocol_fault();
    size_t off = pro_inf_offset(rb[0]);
    size_t inf = rn - off;
    if (total + inf > cap) return s.protocol_fault();
    if (inf > 0) memcpy(resp + total, rb + off, inf);
    total += inf;
    if (!(rb[0] & kChain)) break;
    // An empty chained block would let a card keep the host forever.
    if (inf == 0) return s.protocol_fault();
    uint8_t ack[2] = {static_cast<uint8_t>(0xAA | ((rb[0] & 0x01) ^ 0x01)), 0x00};
    int r = s.transact(ack, 2, rb, &rn);
    if (r != 0) return s.transport_fault(r);
  }
  *rlen = total;
  return 0;
}

}  // namespace payterm
