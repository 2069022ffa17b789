#include "crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

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

static Bytes bnBytes(const BIGNUM* b) {
  Bytes out(size_t(BN_num_bytes(b)));
  BN_bn2bin(b, out.data());
  return out;
}

RsaKey generateRsa(int bits, unsigned long e) {
  RsaKey k;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
  BIGNUM* pub = BN_new();
  EVP_PKEY* key = nullptr;
  bool ok = ctx && pub && BN_set_word(pub, e) == 1 && EVP_PKEY_keygen_init(ctx) == 1 &&
            EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, bits) == 1 &&
            EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, pub) == 1 && EVP_PKEY_keygen(ctx, &key) == 1;
  BIGNUM *n = nullptr, *ee = nullptr, *d = nullptr;
  if (ok && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
      EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &ee) == 1 &&
      EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_D, &d) == 1) {
    k.n = bnBytes(n);
    k.e = bnBytes(ee);
    k.d = bnBytes(d);
  }
  BN_free(n);
  BN_free(ee);
  BN_clear_free(d);
  BN_free(pub);
  EVP_PKEY_free(key);
  EVP_PKEY_CTX_free(ctx);
  if (k.n.empty()) std::abort();  // a test cannot go on without its keys
  return k;
}

// The cards' own modular exponentiation (libcrypto's BIGNUM), kept apart
// from the way the terminal verifies so that one mistake cannot hide another.
static Bytes modExp(const Bytes& in, const Bytes& exp, const Bytes& mod) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* x = BN_bin2bn(in.data(), int(in.size()), nullptr);
  BIGNUM* e = BN_bin2bn(exp.data(), int(exp.size()), nullptr);
  BIGNUM* m = BN_bin2bn(mod.data(), int(mod.size()), nullptr);
  BIGNUM* r = BN_new();
  Bytes out(mod.size());
  bool ok = ctx && x && e && m && r && BN_mod_exp(r, x, e, m, ctx) == 1 &&
            BN_bn2binpad(r, out.data(), int(out.size())) == int(out.size());
  BN_free(x);
  BN_clear_free(e);
  BN_free(m);
  BN_free(r);
  BN_CTX_free(ctx);
  if (!ok) out.clear();
  return out;
}

Bytes rsaPrivate(const RsaKey& k, const Bytes& in) { return modExp(in, k.d, k.n); }
Bytes rsaPublic(const RsaKey& k, const Bytes& in) { return modExp(in, k.e, k.n); }

Bytes sha1(const Bytes& data) {
  Bytes out(20);
  unsigned int n = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sha1(), nullptr) != 1 || n != 20)
    std::abort();
  return out;
}

}  // namespace vr::crypto
