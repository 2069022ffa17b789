// Hex text helpers used by the _hex twins and the SDANDC link.
#pragma once

#include <stddef.h>

namespace payterm {

// Value of one hex digit (either case), or -1.
int hex_digit(char c);
// 2n upper-case hex characters into out (no terminator).
void to_hex(const unsigned char* in, size_t n, char* out);
// 2n hex characters into n bytes; false at the first non-hex character.
bool from_hex(const char* in, size_t n, unsigned char* out);

}  // namespace payterm
