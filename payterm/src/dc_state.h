// Card protocol state of the dc_ set (process-wide, one card at a time).
#pragma once

#include <stdint.h>

namespace payterm {

struct DcCardState {
  int tpro = 0;          // 1: contact card speaks T=1
  uint8_t cpcb = 0x00;   // next T=1 I-block PCB (0x00 / 0x40)
  uint8_t pro_pcb = 0x0B;  // last contactless I-block PCB sent
};

DcCardState& dc_card_state();

}  // namespace payterm
