// Serial port primitives shared by every framing: opening a terminal line
// and bounded single-byte reads.
#pragma once

#include <stddef.h>
#include <sys/ioctl.h>

namespace payterm {

enum class BaudTable { Dc, Ic };

// Line settings for the given parameters, applied to t in place.
void apply_line(struct termio* t, long baud, int dataBits, int parity, int stopBits, int vmin,
                int vtime, BaudTable table);

// Opens path read/write, requires a terminal and sets the line with the
// termio ioctls. Returns the descriptor or -1.
int open_line(const char* path, long baud, int dataBits, int parity, int stopBits,
              int vmin, int vtime, BaudTable table);

// Waits up to timeout_ms for one byte: 1 read, 0 nothing came, -1 error or
// hang-up.
int read_byte(int fd, unsigned char* b, int timeout_ms);

// Writes all n bytes (retrying short writes): 0 or -1.
int write_all(int fd, const void* p, size_t n);

}  // namespace payterm
