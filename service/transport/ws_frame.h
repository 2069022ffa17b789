// WebSocket framing: pure functions over byte buffers, no sockets.
#ifndef HWTRANSPORT_WS_FRAME_H
#define HWTRANSPORT_WS_FRAME_H

#include <stddef.h>
#include <stdint.h>

struct ws_frame_header {
  unsigned char byte0; // FIN (0x80) | RSV | opcode
  bool fin;
  int opcode;          // 0..15
  bool masked;
  unsigned char mask[4];
  uint64_t payload_len;
  size_t header_len;   // bytes before the payload (2..14)
};

// Reads a frame header at p. Returns 1 and fills h when the whole header
// (length and mask key included) is there, 0 when more bytes are needed.
int ws_parse_frame_header(const unsigned char *p, size_t n, struct ws_frame_header *h);

// XORs n payload bytes with mask[i % 4], in place.
void ws_unmask(unsigned char *p, size_t n, const unsigned char mask[4]);

// Writes the header of an unmasked frame with FIN set: 2, 4 or 10 bytes.
size_t ws_encode_frame_header(unsigned char out[10], int opcode, uint64_t payload_len);

// Sec-WebSocket-Accept for a Sec-WebSocket-Key: Base64 of the SHA-1 of the
// key text followed by the protocol's GUID. out gets 28 characters and a NUL.
void ws_accept_key(const char *key, size_t key_len, char out[29]);

#endif
