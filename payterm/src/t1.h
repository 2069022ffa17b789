// ISO/IEC 7816-3 pieces run in the host: protocol from the ATR and T=1
// information blocks.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

// True when the ATR has TD1 and TD1 names T=1. TD1 follows the TA1, TB1
// and TC1 that T0 bits 0x10, 0x20 and 0x40 announce.
bool atr_selects_t1(const uint8_t* atr, size_t n);

// I-block NAD 0, pcb, LEN, INF, LRC into out (n + 4 bytes); n <= 254.
size_t t1_build_iblock(uint8_t pcb, const uint8_t* inf, size_t n, uint8_t* out);

// Information field of a received block whose XOR over all bytes must be
// 0: offset 3, length n - 4. False when the block is short or the LRC is
// wrong.
bool t1_open_block(const uint8_t* blk, size_t n, size_t* inf_len);

}  // namespace payterm
