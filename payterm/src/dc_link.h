// dc_ link: one frame out, one reply in, over a port descriptor.
#pragma once

#include <stdint.h>

namespace payterm {

constexpr int kDcNoSync = -16;
constexpr int kDcBadApdu = -48;
constexpr int kDcReadFail = -64;
constexpr int kDcWriteFail = -65;
constexpr int kDcBadLrc = -81;

// Next sequence number that send_cmd will use (for tests of the wrap).
uint8_t& dc_sequence();

int dc_send(int fd, uint8_t cmd, uint8_t len, const uint8_t* data);
// Receives one reply; out (255) gets the data, *outlen their count.
int dc_receive(int fd, uint8_t* out, uint8_t* outlen);
// send + receive.
int dc_xfer(int fd, uint8_t cmd, const uint8_t* data, uint8_t len, uint8_t* out,
            uint8_t* outlen);

}  // namespace payterm
