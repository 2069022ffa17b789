// dc_ framing, pure over byte buffers.
//
// Wire: STX | stuffed(seq cmd len data[len] xor) | DLE ETX, where every
// body byte equal to DLE travels as DLE DLE. The reader answers in the
// same framing with a status byte in place of the command byte.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;

constexpr int kDcFrameErr = -49;  // bad stuffing, trailer or check

uint8_t xor_bytes(const uint8_t* p, size_t n);

// Unstuffed body: seq, cmd, len, data, check. body holds len + 4 bytes.
size_t dc_build_body(uint8_t seq, uint8_t cmd, const uint8_t* data, uint8_t len,
                     uint8_t* body);

// DLE doubling; out holds 2 * n bytes. Returns the stuffed length.
size_t dc_stuff(const uint8_t* in, size_t n, uint8_t* out);

// Decodes a reply from the bytes that follow STX, one byte at a time.
class DcReplyParser {
 public:
  enum Result { kMore = 0, kDone = 1, kBadFrame = 2, kBadCheck = 3 };
  Result feed(uint8_t b);
  uint8_t status() const { return body_[1]; }
  uint8_t length() const { return body_[2]; }
  const uint8_t* data() const { return body_ + 3; }

 private:
  Result push(uint8_t v);
  enum Phase { kBody, kTrailerDle, kTrailerEtx };
  uint8_t body_[260] = {};
  size_t n_ = 0;
  bool pending_dle_ = false;
  Phase phase_ = kBody;
};

}  // namespace payterm
