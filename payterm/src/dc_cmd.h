// Shapes of dc_ command exchanges shared by the command units.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

// Command without reply data of interest.
int dc_simple(int fd, uint8_t cmd, const uint8_t* data, uint8_t n);
// Reply of at least want bytes, of which want are copied to out (-16 if
// shorter).
int dc_fixed(int fd, uint8_t cmd, const uint8_t* data, uint8_t n, uint8_t* out, size_t want);
// Reply copied whole (out 255) with its length.
int dc_raw(int fd, uint8_t cmd, const uint8_t* data, uint8_t n, uint8_t* rlen, uint8_t* out);

void put_le16(uint8_t* p, unsigned v);
void put_le32(uint8_t* p, unsigned long v);
unsigned long get_le32(const uint8_t* p);

}  // namespace payterm
