// ISO/IEC 14443-4 half-duplex block protocol run in the host, over any
// reader transport that carries one block to the card and returns the
// card's next block. CID 0 in every block, NAD never sent.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

class BlockLink {
 public:
  virtual ~BlockLink() = default;
  // Sends blk (PCB first) and stores the card's block in reply (255);
  // 0 or the transport's code.
  virtual int exchange(const uint8_t* blk, size_t n, uint8_t* reply, size_t* rn) = 0;
};

enum class ProStyle {
  Dc,  // echoes S(WTX); transport codes pass through, protocol faults -16
  Ic,  // answers S(WTX) with FA 00 WTXM, R(NAK) recovery, every fault -136
};

// Offset of INF in a card block: after PCB, and the CID/NAD bytes its
// bits 0x08/0x04 announce.
size_t pro_inf_offset(uint8_t pcb);

// Sends apdu in segments of seg bytes (the last without the chaining
// bit), collects the chained response into resp (cap bytes). pcb_state
// holds the last I-block PCB sent (0x0A or 0x0B) and toggles per I-block.
int pro_transceive(BlockLink& link, ProStyle style, uint8_t& pcb_state, const uint8_t* apdu,
                   size_t n, size_t seg, uint8_t* resp, size_t cap, size_t* rlen);

// Card S(WTX) requests answered in a row before the exchange is given up.
constexpr int kMaxWtx = 255;

}  // namespace payterm
