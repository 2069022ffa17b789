// Probability estimation state machine of the QM-coder (113 states).
#pragma once

#include <cstdint>

namespace facet {

struct QeState {
  uint16_t qe;     // LPS probability estimate
  uint8_t nlps;    // next state after an LPS
  uint8_t nmps;    // next state after an MPS renormalisation
  uint8_t swtch;   // 1: an LPS in this state inverts the MPS sense
};

constexpr int kQeStateCount = 113;
extern const QeState kQeTable[kQeStateCount];

}  // namespace facet
