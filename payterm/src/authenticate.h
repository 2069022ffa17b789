// Offline data authentication of the current application: the CA key of
// its RID and index, the issuer and ICC keys from the records, and the
// static data the certificates sign.
#pragma once

#include <string>

#include "kernel.h"
#include "oda.h"

namespace payterm {

// Static data to be authenticated: the AFL's authentication records and,
// when 9F4A names 82, the AIP. False when 9F4A names anything else.
bool static_auth_data(const Application& app, std::string* out);
// Issuer key (and the ICC key when icc is given). 0 or -311..-313.
int recover_keys(const Application& app, RsaPublic* issuer, RsaPublic* icc);
// DDA: INTERNAL AUTHENTICATE with the DDOL data (random unpredictable
// number) and verification; dynNumber gets the ICC dynamic number as hex.
int run_dda(const Application& app, const TermData& td, std::string* dynNumber);

}  // namespace payterm
