// WebSocket frame encoding and decoding, and the handshake's accept value.
#include "ws_frame.h"

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <string.h>

int ws_parse_frame_header(const unsigned char *p, size_t n, struct ws_frame_header *h) {
  if (n < 2) return 0;
  h->byte0 = p[0];
  h->fin = (p[0] & 0x80) != 0;
  h->opcode = p[0] & 0x0f;
  h->masked = (p[1] & 0x80) != 0;
  size_t len7 = p[1] & 0x7f;
  size_t pos = 2;
  if (len7 < 126) {
    h->payload_len = len7;
  } else if (len7 == 126) {
    if (n < 4) return 0;
    h->payload_len = (static_cast<uint64_t>(p[2]) << 8) | p[3];
    pos = 4;
  } else {
    if (n < 10) return 0;
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = (v << 8) | p[2 + i];
    h->payload_len = v;
    pos = 10;
  }
  if (h->masked) {
    if (n < pos + 4) return 0;
    memcpy(h->mask, p + pos, 4);
    pos += 4;
  } else {
    memset(h->mask, 0, 4);
  }
  h->header_len = pos;
  return 1;
}

void ws_unmask(unsigned char *p, size_t n, const unsigned char mask[4]) {
  for (size_t i = 0; i < n; i++) p[i] ^= mask[i & 3];
}

size_t ws_encode_frame_header(unsigned char out[10], int opcode, uint64_t payload_len) {
  out[0] = static_cast<unsigned char>(0x80 | (opcode & 0x0f));
  if (payload_len < 126) {
    out[1] = static_cast<unsigned char>(payload_len);
    return 2;
  }
  if (payload_len <= 0xffff) {
    out[1] = 126;
    out[2] = static_cast<unsigned char>(payload_len >> 8);
    out[3] = static_cast<unsigned char>(payload_len);
    return 4;
  }
  out[1] = 127;
  for (int i = 0; i < 8; i++) out[2 + i] = static_cast<unsigned char>(payload_len >> (56 - 8 * i));
  return 10;
}

void ws_accept_key(const char *key, size_t key_len, char out[29]) {
  static const char kGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
  unsigned char digest[SHA_DIGEST_LENGTH];
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  unsigned int dlen = 0;
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, key, key_len) == 1 &&
            EVP_DigestUpdate(ctx, kGuid, sizeof kGuid - 1) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, &dlen) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) {
    out[0] = '\0';
    return;
  }
  EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), digest, SHA_DIGEST_LENGTH);
}
