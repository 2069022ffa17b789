// Frames of the resident-ID-card security module (SAM).
//
//   AA AA AA 96 69 | LEN (2, big-endian, bytes after it) | body | XOR
// Request body: command, parameter(s); reply body: SW1 SW2 SW3, data.
// The XOR covers every byte from LEN up to the byte before it.
#pragma once
#include <string>

#include "bytes.h"

namespace vr::sam {

// SAM status bytes (SW3) of the public SAM interface.
enum : uint8_t {
  kOk = 0x90,
  kFound = 0x9F,
  kFindFailed = 0x80,
  kSelectFailed = 0x81,
  kReadFailed = 0x41,
  kBadChecksum = 0x10,
  kBadLength = 0x11,
  kUnknownCommand = 0x21,
};

struct Request {
  uint8_t cmd = 0;
  uint8_t param = 0;
  Bytes extra;  // parameter bytes after the first
};

uint8_t xorOf(const uint8_t* p, size_t n);
// Accepts one trailing zero byte after the frame (as some hosts send it).
// Returns 0 on success, else the SAM status that describes the fault.
uint8_t parse(const Bytes& in, Request& out);
Bytes request(uint8_t cmd, const Bytes& params);
Bytes reply(uint8_t sw3, const Bytes& data);

}  // namespace vr::sam
