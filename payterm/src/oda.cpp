// Offline data authentication with libcrypto's RSA and SHA-1.
#include "oda.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <string.h>
#include <time.h>

#include "payterm.h"

namespace payterm {

namespace {

constexpr size_t kHash = 20;

struct Digest {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) == 1;
  ~Digest() { EVP_MD_CTX_free(ctx); }
  void add(const uint8_t* p, size_t n) {
    if (ok && n > 0) ok = EVP_DigestUpdate(ctx, p, n) == 1;
  }
  // The digest equals want.
  bool matches(const uint8_t* want) {
    uint8_t d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    return ok && EVP_DigestFinal_ex(ctx, d, &n) == 1 && n == kHash &&
           memcmp(d, want, kHash) == 0;
  }
};

int bcd_value(uint8_t b) {
  if ((b >> 4) > 9 || (b & 15) > 9) return -1;
  return (b >> 4) * 10 + (b & 15);
}

// MMYY: valid through the end of that month.
bool not_expired(const uint8_t* mmyy, YearMonth today) {
  int mm = bcd_value(mmyy[0]), yy = bcd_value(mmyy[1]);
  if (mm < 1 || mm > 12 || yy < 0) return false;
  int year = 2000 + yy;
  return year > today.year || (year == today.year && mm >= today.month);
}

// Recovered data of a signature: header 6A, trailer BC, and the format.
bool frame_ok(const uint8_t* x, size_t n, uint8_t format) {
  return n >= 22 + 2 && x[0] == 0x6A && x[n - 1] == 0xBC && x[1] == format;
}

// Hash over x[1 .. n-22] and the extra parts equals x[n-21 .. n-2].
bool hash_ok(const uint8_t* x, size_t n, const uint8_t* a, size_t an, const uint8_t* b,
             size_t bn, const uint8_t* c, size_t cn) {
  Digest d;
  d.add(x + 1, n - 22);
  d.add(a, an);
  d.add(b, bn);
  d.add(c, cn);
  return d.matches(x + n - 21);
}

// PAN digits (nibbles up to the first F) of a compressed numeric field.
size_t pan_digits(const uint8_t* p, size_t n, char* out, size_t cap) {
  size_t k = 0;
  for (size_t i = 0; i < n && k < cap; ++i) {
    for (int s = 4; s >= 0; s -= 4) {
      uint8_t v = (p[i] >> s) & 15;
      if (v == 0xF) return k;
      if (k < cap) out[k++] = static_cast<char>('0' + v);
    }
  }
  return k;
}

bool set_key(RsaPublic* k, const uint8_t* n, size_t nLen, const uint8_t* e, size_t eLen) {
  if (nLen == 0 || nLen > sizeof k->n || eLen == 0 || eLen > sizeof k->e) return false;
  memcpy(k->n, n, nLen);
  k->nLen = nLen;
  memcpy(k->e, e, eLen);
  k->eLen = eLen;
  return true;
}

}  // namespace

bool rsa_public(const uint8_t* n, size_t nLen, const uint8_t* e, size_t eLen,
                const uint8_t* in, size_t inLen, uint8_t* out) {
  if (nLen == 0 || inLen != nLen || eLen == 0) return false;
  bool ok = false;
  BIGNUM* bn = BN_bin2bn(n, static_cast<int>(nLen), nullptr);
  BIGNUM* be = BN_bin2bn(e, static_cast<int>(eLen), nullptr);
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* ctx = nullptr;
  if (bn && be && bld && kctx && OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn) == 1 &&
      OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be) == 1 &&
      (params = OSSL_PARAM_BLD_to_param(bld)) != nullptr && EVP_PKEY_fromdata_init(kctx) == 1 &&
      EVP_PKEY_fromdata(kctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1 &&
      (ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)) != nullptr &&
      EVP_PKEY_encrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1) {
    // The raw public operation (no padding) is what certificate recovery
    // needs; libcrypto calls it encryption.
    size_t outLen = nLen;
    ok = EVP_PKEY_encrypt(ctx, out, &outLen, in, inLen) == 1 && outLen == nLen;
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);
  EVP_PKEY_CTX_free(kctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  BN_free(bn);
  BN_free(be);
  return ok;
}

YearMonth current_year_month() {
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  return YearMonth{tm.tm_year + 1900, tm.tm_mon + 1};
}

int recover_issuer_key(const Capk& ca, const uint8_t* cert, size_t certLen, const uint8_t* rem,
                       size_t remLen, const uint8_t* exp, size_t expLen, const uint8_t* pan,
                       size_t panLen, YearMonth today, RsaPublic* out) {
  const int fail = PAYTERM_E_ODA_ISSUER;
  const size_t n = ca.modLen;
  uint8_t x[248];
  if (cert == nullptr || certLen != n || n < 36 + 1) return fail;
  if (!rsa_public(ca.modulus, n, ca.exponent, ca.expLen, cert, certLen, x)) return fail;
  if (!frame_ok(x, n, 0x02)) return fail;
  if (!hash_ok(x, n, rem, remLen, exp, expLen, nullptr, 0)) return fail;
  // Issuer identifier: 3 to 8 leading PAN digits, padded with F.
  char id[8], pd[19];
  size_t idn = pan_digits(x + 2, 4, id, sizeof id);
  size_t pn = pan_digits(pan, panLen, pd, sizeof pd);
  if (idn < 3 || idn > pn || memcmp(id, pd, idn) != 0) return fail;
  if (!not_expired(x + 6, today)) return fail;
  if (x[11] != 0x01 || x[12] != 0x01) return fail;
  const size_t ni = x[13], ei = x[14];
  if (ei != expLen || ni == 0) return fail;
  const size_t inCert = n - 36;
  uint8_t mod[248];
  if (ni <= inCert) {
    memcpy(mod, x + 15, ni);
  } else {
    if (remLen != ni - inCert || ni > sizeof mod) return fail;
    memcpy(mod, x + 15, inCert);
    memcpy(mod + inCert, rem, remLen);
  }
  return set_key(out, mod, ni, exp, expLen) ? 0 : fail;
}

int recover_icc_key(const RsaPublic& issuer, const uint8_t* cert, size_t certLen,
                    const uint8_t* rem, size_t remLen, const uint8_t* exp, size_t expLen,
                    const uint8_t* staticData, size_t staticLen, const uint8_t* pan,
                    size_t panLen, YearMonth today, RsaPublic* out) {
  const int fail = PAYTERM_E_ODA_ICC;
  const size_t n = issuer.nLen;
  uint8_t x[248];
  if (cert == nullptr || certLen != n || n < 42 + 1) return fail;
  if (!rsa_public(issuer.n, n, issuer.e, issuer.eLen, cert, certLen, x)) return fail;
  if (!frame_ok(x, n, 0x04)) return fail;
  if (!hash_ok(x, n, rem, remLen, exp, expLen, staticData, staticLen)) return fail;
  // The certified PAN (padded with F to 10 bytes) is the card's.
  uint8_t padded[10];
  memset(padded, 0xFF, sizeof padded);
  if (panLen > sizeof padded) return fail;
  memcpy(padded, pan, panLen);
  if (memcmp(x + 2, padded, 10) != 0) return fail;
  if (!not_expired(x + 12, today)) return fail;
  if (x[17] != 0x01 || x[18] != 0x01) return fail;
  const size_t nic = x[19], eic = x[20];
  if (eic != expLen || nic == 0) return fail;
  const size_t inCert = n - 42;
  uint8_t mod[248];
  if (nic <= inCert) {
    memcpy(mod, x + 21, nic);
  } else {
    if (remLen != nic - inCert || nic > sizeof mod) return fail;
    memcpy(mod, x + 21, inCert);
    memcpy(mod + inCert, rem, remLen);
  }
  return set_key(out, mod, nic, exp, expLen) ? 0 : fail;
}

int verify_dynamic(const RsaPublic& icc, const uint8_t* sdad, size_t sdadLen,
                   const uint8_t* dynInput, size_t dynLen, uint8_t* dyn, size_t* dynNumLen) {
  const int fail = PAYTERM_E_ODA_SIGNATURE;
  const size_t n = icc.nLen;
  uint8_t x[248];
  if (sdad == nullptr || sdadLen != n || n < 26) return fail;
  if (!rsa_public(icc.n, n, icc.e, icc.eLen, sdad, sdadLen, x)) return fail;
  if (!frame_ok(x, n, 0x05) || x[2] != 0x01) return fail;
  const size_t ldd = x[3];
  if (ldd > n - 25) return fail;
  if (!hash_ok(x, n, dynInput, dynLen, nullptr, 0, nullptr, 0)) return fail;
  // The dynamic data begin with the ICC dynamic number and its length.
  if (ldd < 1 || x[4] > ldd - 1 || x[4] < 2 || x[4] > 8) return fail;
  if (dyn != nullptr) memcpy(dyn, x + 5, x[4]);
  if (dynNumLen != nullptr) *dynNumLen = x[4];
  return 0;
}

int verify_static(const RsaPublic& issuer, const uint8_t* ssad, size_t ssadLen,
                  const uint8_t* staticData, size_t staticLen) {
  const int fail = PAYTERM_E_ODA_SIGNATURE;
  const size_t n = issuer.nLen;
  uint8_t x[248];
  if (ssad == nullptr || ssadLen != n || n < 26) return fail;
  if (!rsa_public(issuer.n, n, issuer.e, issuer.eLen, ssad, ssadLen, x)) return fail;
  if (!frame_ok(x, n, 0x03) || x[2] != 0x01) return fail;
  return hash_ok(x, n, staticData, staticLen, nullptr, 0, nullptr, 0) ? 0 : fail;
}

}  // namespace payterm
