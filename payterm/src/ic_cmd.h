// Shapes of IC_ command exchanges shared by the command units.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

// Frame L = np + 2, cmd, params; sent and answered through IC_DATACOMM.
// Returns the reply length (out 255) or a code.
int ic_cmd(int fd, uint8_t cmd, const uint8_t* params, size_t np, uint8_t* out);
// Same, send-only.
int ic_send_only(int fd, uint8_t cmd, const uint8_t* params, size_t np);
// Reply of at least want bytes, want of them copied; 0 or a code (-1 short).
int ic_fixed(int fd, uint8_t cmd, const uint8_t* params, size_t np, uint8_t* out, size_t want);

}  // namespace payterm
