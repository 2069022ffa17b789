// Pieces of the online transaction shared with qPBOC: the GENERATE AC
// answer and the IC data list.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kernel.h"

namespace payterm {

struct AcResult {
  uint8_t cid = 0;
  uint8_t atc[2] = {0, 0};
  uint8_t ac[8] = {0};
  uint8_t iad[32] = {0};
  size_t iadLen = 0;
};
// Format 1 (80: CID, ATC, AC, IAD) or format 2 (77 with 9F27, 9F36, 9F26,
// 9F10). 0 or PAYTERM_E_CARD_DATA.
int parse_ac(const uint8_t* d, size_t n, AcResult* out);

// IC data for the issuer: 9F26, 9F27, 9F10, 9F37, 9F36, 95, [9F13], 9A,
// 9C, 9F02, 5F2A, 82, 9F1A, 9F03, 9F33, 84, 9F34, 9F35, 9F41, 9F09, 9F1E.
// Writes the hex text and "%03d" of the byte count. 0 or
// PAYTERM_E_CARD_DATA when it would not fit.
int ic_data_text(const Application& app, const TermData& td, const AcResult& ac,
                 const uint8_t* atc9f13, char* icData, char* icDataLen);

// Parses a transaction-data text field: the digits of letter, right-aligned
// into width bytes of BCD. 1 found, 0 absent, -1 malformed.
int tx_field(const char* tx, char letter, size_t width, uint8_t* out);

}  // namespace payterm
