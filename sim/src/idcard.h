// Resident ID cards as the ID-card module reads them: a 256-byte UCS-2LE
// text block, a 1024-byte compressed photo and an optional fingerprint.
#pragma once
#include <string>

#include "bytes.h"

namespace vr {

// Text block layout, byte offsets and sizes (UCS-2LE, blank padded).
struct IdField {
  size_t off, size;
};
namespace idtext {
constexpr IdField kName{0, 30}, kSex{30, 2}, kNation{32, 4}, kBirth{36, 16}, kAddress{52, 70},
    kNumber{122, 36}, kAuthority{158, 30}, kStart{188, 16}, kEnd{204, 16}, kTail{220, 36};
constexpr size_t kTypeOffset = 248;  // "I" foreigner, "J" Hong Kong/Macao/Taiwan
// Foreigner's permanent-residence card
constexpr IdField kFEnName{0, 120}, kFSex{120, 2}, kFNumber{122, 30}, kFCountry{152, 6},
    kFCnName{158, 30}, kFStart{188, 16}, kFEnd{204, 16}, kFBirth{220, 16}, kFVersion{236, 4},
    kFAuthority{240, 8};
// Residence permit of Hong Kong, Macao and Taiwan residents (resident layout
// up to the end date, then the pass number and the issue count)
constexpr IdField kHPass{220, 18}, kHCount{238, 4};
constexpr size_t kTextSize = 256, kPhotoSize = 1024;
}  // namespace idtext

struct IdCardData {
  std::string name, sex, nation, birth, address, number, authority, start, end;
  std::string type;  // "", "I" or "J"
  std::string enName, country, version, pass, count;  // other card types
  Bytes photo, fingerprint;
};

// Fills a field with the UCS-2LE text, blank padded; false when it does not fit.
bool putIdField(Bytes& block, IdField f, const std::string& utf8);
// The text block of a card; false (with the field's name) when a field does not fit.
bool buildIdText(const IdCardData& d, Bytes& block, std::string* bad);
// The check character of an 18-character citizen number (ISO 7064 MOD 11-2),
// '?' for a malformed first 17 characters.
char idCheckChar(const std::string& first17);
bool idNumberValid(const std::string& number);

}  // namespace vr
