// IC_ link over a port descriptor: handshaken sends, the two receivers
// and the auxiliary-terminal transport.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ic_auxterm.h"

namespace payterm {

struct IcState {
  int tpro = -1;           // -1 until a reset, then 0 (T=0) or 1 (T=1)
  uint8_t cpcb = 0x00;     // next T=1 I-block PCB
  uint8_t pro_pcb = 0x0B;  // last contactless I-block PCB sent
  uint8_t ctype = 0;       // card type last given to IC_InitType
  int device_d6 = 1;       // with auxiliary mode: the terminal does the handshakes
  bool aux_active = false;
  int aux_fd = -1;
  TermDef aux;
};

IcState& ic_state();

// True when fd is the open auxiliary-terminal port.
bool ic_is_aux(int fd);

int ic_mysend(int fd, const uint8_t* frame);
int ic_myrecive(int fd, uint8_t* out);
int ic_myrecive1(int fd, uint8_t* out);
// Flush, send, patient receive: reply length or code.
int ic_datacomm(int fd, const uint8_t* frame, uint8_t* out);

}  // namespace payterm
