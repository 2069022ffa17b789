#include "crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>

namespace vr::crypto {

bool keyFromHex(const std::string& hex, Key& k) {
  Bytes b;
  if (!fromHex(hex, b) || b.size() != k.size()) return false;
  std::memcpy(k.data(), b.data(), k.size());
  return true;
}

bool encrypt(const Key& k, const uint8_t* in, size_t n, uint8_t* out) {
  if (n % 8 != 0) return false;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (!ctx) return false;
  int len = 0, fin = 0;
  bool ok = EVP_EncryptInit_ex(ctx, EVP_des_ede_ecb(), nullptr, k.data(), nullptr) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_EncryptUpdate(ctx, out, &len, in, int(n)) == 1 &&
            EVP_EncryptFinal_ex(ctx, out + len, &fin) == 1 && size_t(len + fin) == n;
  EVP_CIPHER_CTX_free(ctx);
  return ok;
}

Block encryptBlock(const Key& k, const uint8_t* in8) {
  Block b{};
  if (!encrypt(k, in8, 8, b.data())) std::abort();  // a missing DES cipher is not survivable
  return b;
}

Key derive(const Key& k, const uint8_t* d8) {
  uint8_t inv[8];
  for (int i = 0; i < 8; ++i) inv[i] = static_cast<uint8_t>(~d8[i]);
  Block l = encryptBlock(k, d8), r = encryptBlock(k, inv);
  Key out;
  std::memcpy(out.data(), l.data(), 8);
  std::memcpy(out.data() + 8, r.data(), 8);
  return out;
}

Key diversify(const Key& master, const Bytes& data) {
  Key k = master;
  for (size_t i = 0; i + 8 <= data.size(); i += 8) k = derive(k, &data[i]);
  return k;
}

Block mac(const Key& k, const Bytes& data) {
  Bytes p = data;
  p.push_back(0x80);
  while (p.size() % 8) p.push_back(0);
  Block chain{};
  for (size_t i = 0; i < p.size(); i += 8) {
    uint8_t x[8];
    for (int j = 0; j < 8; ++j) x[j] = chain[j] ^ p[i + j];
    chain = encryptBlock(k, x);
  }
  return chain;
}

void randomBytes(uint8_t* p, size_t n) {
  if (RAND_bytes(p, int(n)) != 1) std::abort();
}

}  // namespace vr::crypto
