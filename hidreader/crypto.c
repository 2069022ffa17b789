/* SHA-1 (FIPS 180-4) and the DES/MAC entry points, which compute nothing. */
#include "hidlink_internal.h"

#include <string.h>

static uint32_t rol(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

static void sha1_block(uint32_t h[5], const uint8_t *p)
{
    uint32_t w[80];
    for (int i = 0; i < 16; i++)
        w[i] = ((uint32_t)p[4 * i] << 24) | ((uint32_t)p[4 * i + 1] << 16) |
               ((uint32_t)p[4 * i + 2] << 8) | p[4 * i + 3];
    for (int i = 16; i < 80; i++)
        w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; i++) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t t = rol(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rol(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

uint8_t *SHA1(const uint8_t *sour, size_t len, uint8_t *digest)
{
    if (!digest || (!sour && len > 0))
        return digest;
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    size_t i = 0;
    for (; len - i >= 64; i += 64)
        sha1_block(h, sour + i);
    uint8_t tail[128] = {0};
    size_t rest = len - i;
    if (rest)
        memcpy(tail, sour + i, rest);
    tail[rest] = 0x80;
    size_t blocks = rest + 9 > 64 ? 2 : 1;
    uint64_t bits = (uint64_t)len * 8;
    for (int b = 0; b < 8; b++)
        tail[blocks * 64 - 1 - b] = (uint8_t)(bits >> (8 * b));
    for (size_t b = 0; b < blocks; b++)
        sha1_block(h, tail + 64 * b);
    for (int k = 0; k < 5; k++) {
        digest[4 * k] = (uint8_t)(h[k] >> 24);
        digest[4 * k + 1] = (uint8_t)(h[k] >> 16);
        digest[4 * k + 2] = (uint8_t)(h[k] >> 8);
        digest[4 * k + 3] = (uint8_t)h[k];
    }
    return digest;
}

int SingleDES(uint8_t DESType, const uint8_t *SingleDESKey, uint32_t SourDataLen,
              const uint8_t *SourData, uint8_t *DestData)
{
    (void)DESType, (void)SingleDESKey, (void)SourDataLen, (void)SourData, (void)DestData;
    return 0;
}

int TripleDES(uint8_t DESType, const uint8_t *TripleDESKey, uint32_t SourDataLen,
              const uint8_t *SourData, uint8_t *DestData)
{
    (void)DESType, (void)TripleDESKey, (void)SourDataLen, (void)SourData, (void)DestData;
    return 0;
}

int SingleMAC(const uint8_t *SingleMACKey, const uint8_t *InitData, uint32_t SourDataLen,
              const uint8_t *SourData, uint8_t *MACData)
{
    (void)SingleMACKey, (void)InitData, (void)SourDataLen, (void)SourData, (void)MACData;
    return 0;
}

int TripleMAC(const uint8_t *TripleMACKey, const uint8_t *InitData, uint32_t SourDataLen,
              const uint8_t *SourData, uint8_t *MACData)
{
    (void)TripleMACKey, (void)InitData, (void)SourDataLen, (void)SourData, (void)MACData;
    return 0;
}
