// IC_ framing, pure over byte buffers.
//
// Host to reader: 0x55 attention (answered 0x00), then L, command,
// parameters and the sum of the L bytes (answered 0x00).
// Reader to host: 0xAA (answered 0x00), status, N, N data bytes and the
// sum of N and the data (answered 0x00, or 0x01 when it is wrong).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

constexpr uint8_t kIcAttention = 0x55;
constexpr uint8_t kIcMarker = 0xAA;
constexpr uint8_t kIcStatusQuery = 0x99;

constexpr int kIcNoAnswer = -128;
constexpr int kIcBadCheck = -131;
constexpr int kIcBadParam = -135;
constexpr int kIcProFail = -136;
constexpr int kIcAuxBusy = -16;

uint8_t sum_bytes(const uint8_t* p, size_t n);

// Copies the L frame bytes and appends their sum; out holds L + 1 bytes.
// Returns L + 1, or 0 when L < 2.
size_t ic_seal_frame(const uint8_t* frame, uint8_t* out);

// Check byte the reader appends to a reply of n data bytes.
uint8_t ic_reply_check(const uint8_t* data, uint8_t n);

// A byte as the two upper-case hex characters of the auxiliary port.
void ic_aux_hex(uint8_t b, char out[2]);

}  // namespace payterm
