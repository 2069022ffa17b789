// Messages between the vendor-family library (libdcrf32) and the virtual
// reader, after the connection has said "HELLO dc".
//   request: op (1) | length (2, big-endian) | payload
//   reply:   0xD5 | result (2, big-endian, signed) | length (2) | payload
#pragma once
#include <cstdint>

namespace vr::dc {

constexpr uint8_t kReplyMark = 0xD5;
constexpr size_t kMaxPayload = 4096;

enum Op : uint8_t {
  kSetCpu = 1,    // payload: slot byte (0x0C contact, 0x0D..0x0F, 0x11 PSAM 1-4)
  kCpuReset = 2,  // reply: answer to reset of the selected slot
  kProReset = 3,  // reply: answer to reset of the contactless card
  kCpuApdu = 4,   // payload: command; reply: response with its status word
  kProApdu = 5,   // the same for the contactless card
  kIdRead = 6,    // reply: text len (2) photo len (2) fp len (2), text, photo, fp
};

// Results besides 0 (success); a reader status (e.g. 0x6FF0, no card) is
// passed as is, a failed ID-card step as the SAM status byte.
enum : int16_t { kBadRequest = -3 };

}  // namespace vr::dc
