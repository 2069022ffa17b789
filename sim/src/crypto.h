// Keyed operations of the card models: two-key triple DES from libcrypto.
#pragma once
#include <array>

#include "bytes.h"

namespace vr::crypto {

using Key = std::array<uint8_t, 16>;
using Block = std::array<uint8_t, 8>;

bool keyFromHex(const std::string& hex, Key& k);
// ECB over whole 8-byte blocks; false when n is not a multiple of 8.
bool encrypt(const Key& k, const uint8_t* in, size_t n, uint8_t* out);
Block encryptBlock(const Key& k, const uint8_t* in8);
// One diversification step: E(d) || E(NOT d).
Key derive(const Key& k, const uint8_t* d8);
// Diversification along `data`, one step per 8-byte block (data.size() % 8 == 0).
Key diversify(const Key& master, const Bytes& data);
// Full triple-DES CBC MAC with 80 00.. padding.
Block mac(const Key& k, const Bytes& data);
// Unpredictable bytes for card challenges.
void randomBytes(uint8_t* p, size_t n);

// An RSA key as the cards and the test issuers hold it: modulus, public and
// private exponent, big-endian. Empty when the card has no key.
struct RsaKey {
  Bytes n, e, d;
  bool empty() const { return n.empty(); }
};
// A fresh key of `bits` bits with public exponent e (3 or 65537).
RsaKey generateRsa(int bits, unsigned long e);
// in^d mod n, left-padded to the modulus length; in must be as long as n.
Bytes rsaPrivate(const RsaKey& k, const Bytes& in);
// in^e mod n, left-padded to the modulus length.
Bytes rsaPublic(const RsaKey& k, const Bytes& in);
Bytes sha1(const Bytes& data);

}  // namespace vr::crypto
