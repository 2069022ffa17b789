// Report framing of the reader link: pure functions over byte buffers, and
// the hidapi transport under them.
//
// One 64-byte report:
//   [0]    node address (NAD)
//   [1]    control: bits 0-4 sequence number, bit 5 more follows, bit 6 toggle
//   [2]    data bytes in this report (61 in every report but the last)
//   [3..63] data, the tail of the last report zero
#pragma once
#include <cstddef>
#include <cstdint>

#include "hidlink.h"

constexpr uint8_t HL_CTRL_SEQ_MASK = 0x1F;
constexpr uint8_t HL_CTRL_MORE = 0x20;
constexpr uint8_t HL_CTRL_TOGGLE = 0x40;

// Builds report number index of a command of len bytes into report (64
// bytes). Returns the data bytes it carries, 0 when index is past the end.
size_t hl_build_report(uint8_t *report, uint8_t nad, const uint8_t *cmd, size_t len, size_t index);

// Reassembly of one response into a buffer the caller owns.
struct hl_rx_t {
  uint8_t *buf;
  size_t cap;
  size_t len;
  uint32_t seq;  // expected sequence number (low 5 bits compared)
};

// Results of hl_rx_feed.
enum : int {
  HL_RX_DONE = 0,
  HL_RX_MORE = 1,
  HL_RX_BAD_SEQ = -1,
  HL_RX_BAD_LEN = -2,
  HL_RX_OVERFLOW = -3,
};

void hl_rx_start(hl_rx_t *rx, uint8_t *buf, size_t cap);
// Takes one 64-byte report; HL_RX_MORE while more reports are to come.
int hl_rx_feed(hl_rx_t *rx, const uint8_t *report);

// Writes one report already preceded by report ID 0 (65 bytes).
int hl_write_report(void *dev, const uint8_t *report_with_id);
// Discards input reports already queued (late answers to an abandoned
// command); returns how many.
int hl_drain_input(void *dev);
