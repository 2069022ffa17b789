// Offline data authentication, pure over byte buffers: recovery of the
// issuer and ICC public keys from their certificates and verification of
// signed static and dynamic data. RSA and SHA-1 come from libcrypto.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "capk.h"

namespace payterm {

struct RsaPublic {
  uint8_t n[248];
  size_t nLen = 0;
  uint8_t e[3];
  size_t eLen = 0;
};

// in^e mod n for in of exactly nLen bytes (below n): out gets nLen bytes.
bool rsa_public(const uint8_t* n, size_t nLen, const uint8_t* e, size_t eLen,
                const uint8_t* in, size_t inLen, uint8_t* out);

// Date for certificate expiry checks: year (e.g. 2026) and month 1..12.
struct YearMonth {
  int year;
  int month;
};
YearMonth current_year_month();

// Issuer key from tag 90 under the CA key, with remainder 92 and exponent
// 9F32; the issuer identifier must match the leading PAN digits (5A).
// 0 or PAYTERM_E_ODA_ISSUER.
int recover_issuer_key(const Capk& ca, const uint8_t* cert, size_t certLen, const uint8_t* rem,
                       size_t remLen, const uint8_t* exp, size_t expLen, const uint8_t* pan,
                       size_t panLen, YearMonth today, RsaPublic* out);
// ICC key from tag 9F46 under the issuer key, with remainder 9F48, exponent
// 9F47 and the static data to be authenticated; the PAN must equal 5A.
// 0 or PAYTERM_E_ODA_ICC.
int recover_icc_key(const RsaPublic& issuer, const uint8_t* cert, size_t certLen,
                    const uint8_t* rem, size_t remLen, const uint8_t* exp, size_t expLen,
                    const uint8_t* staticData, size_t staticLen, const uint8_t* pan,
                    size_t panLen, YearMonth today, RsaPublic* out);
// Signed dynamic application data (DDA: the DDOL data; fDDA: the
// terminal's dynamic data) under the ICC key. The ICC dynamic number goes
// to dyn (up to 8 bytes). 0 or PAYTERM_E_ODA_SIGNATURE.
int verify_dynamic(const RsaPublic& icc, const uint8_t* sdad, size_t sdadLen,
                   const uint8_t* dynInput, size_t dynLen, uint8_t* dyn, size_t* dynNumLen);
// Signed static application data (tag 93) under the issuer key. 0 or
// PAYTERM_E_ODA_SIGNATURE.
int verify_static(const RsaPublic& issuer, const uint8_t* ssad, size_t ssadLen,
                  const uint8_t* staticData, size_t staticLen);

}  // namespace payterm
