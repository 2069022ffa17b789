// SDANDC framing, pure: "D&C", four hex characters giving the number of
// characters that follow, then hex text of command (or status), data and
// the XOR check byte.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

constexpr size_t kSdandcFrameMax = 4096;               // characters
constexpr size_t kSdandcDataMax = (kSdandcFrameMax - 11) / 2;  // bytes

// Request text into out (2n + 11 characters, no NUL); 0 when n is too big.
size_t sdandc_encode(uint8_t cmd, const uint8_t* data, size_t n, char* out);

// Value of the four-character length field, or -1.
long sdandc_length_field(const char* p);

// Decodes the hex characters after the length field: status, data, and a
// check that makes the XOR of all bytes 0. 0 or -1.
int sdandc_decode(const char* hex, size_t nchars, uint8_t* status, uint8_t* data,
                  size_t* dlen);

}  // namespace payterm
