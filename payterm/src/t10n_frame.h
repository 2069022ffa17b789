// T10N framing, pure: STX, then every 4-bit value as the character
// 0x30 + value (four for the 16-bit payload length, two per payload byte,
// two for the XOR of the payload), then ETX.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

constexpr size_t kT10nPayloadMax = 2000;
constexpr size_t kT10nReplyMax = 2048;  // decoded bytes of one reply

// Frame into out (2n + 8 bytes); 0 when n is too big.
size_t t10n_encode(const uint8_t* payload, size_t n, uint8_t* out);

// Value of a nibble character, or -1.
int t10n_nibble(uint8_t c);

// Decodes the characters between the length field and ETX (2 per byte)
// into bytes; false on an odd count or a character outside 0x30..0x3F.
bool t10n_decode_body(const uint8_t* chars, size_t n, uint8_t* out, size_t* nout);

}  // namespace payterm
