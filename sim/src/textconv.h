// Character-set conversions of card texts (glibc iconv).
#pragma once
#include <string>

#include "bytes.h"

namespace vr::text {

// false when the text cannot be represented.
bool utf8ToGbk(const std::string& in, std::string& out);
bool utf8ToUcs2le(const std::string& in, Bytes& out);
bool ucs2leToUtf8(const uint8_t* p, size_t n, std::string& out);
bool ucs2leToGbk(const uint8_t* p, size_t n, std::string& out);

}  // namespace vr::text
