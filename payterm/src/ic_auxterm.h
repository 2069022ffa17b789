// Terminal definitions for the auxiliary port of a terminal: the control
// sequences that open, close and bracket writes to the port behind it.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

struct Sequence {
  static constexpr size_t kMax = 160;
  uint8_t bytes[kMax];
  size_t n = 0;
  void set(const uint8_t* p, size_t len, size_t limit);
  void append(const char* s);
};

struct TermDef {
  Sequence open;      // written once when the port opens
  Sequence close;     // written when it closes (40 at most)
  Sequence wr_begin;  // before every frame sent (40 at most)
  Sequence wr_end;    // after it (40 at most)
  uint8_t prefix = 0;  // a received character stands between these two
  uint8_t suffix = 0;
};

constexpr size_t kTermSeqMax = 40;

// Parses "NAME=value" lines ('#' comments, leading blanks skipped, value
// from the first non-blank after '=' with backslash escapes).
void parse_term_def(const char* text, size_t n, TermDef* def);

// Expands the escapes of one value: "\\\\", "\\x" + up to two hex digits,
// "\\" + up to three octal digits. Returns the byte count (<= cap).
size_t unescape_value(const char* v, size_t n, uint8_t* out, size_t cap);

}  // namespace payterm
