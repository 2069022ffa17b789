// Byte strings and hex text used throughout the virtual reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vr {

using Bytes = std::vector<uint8_t>;

std::string toHex(const uint8_t* p, size_t n);
inline std::string toHex(const Bytes& b) { return toHex(b.data(), b.size()); }
// Reads hex digits, ignoring blanks; false on an odd count or a non-hex character.
bool fromHex(const std::string& s, Bytes& out);
// For constants written in the source; an invalid text yields an empty string.
Bytes hx(const char* s);

inline void put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void append(Bytes& b, const Bytes& x) { b.insert(b.end(), x.begin(), x.end()); }
inline void append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
// data followed by the status word SW1 SW2
inline Bytes withSw(Bytes data, unsigned sw) {
  put16(data, sw);
  return data;
}
inline Bytes swOnly(unsigned sw) { return withSw(Bytes(), sw); }
// Status word of a reply (last two bytes); 0 when shorter than two bytes.
inline unsigned swOf(const Bytes& r) {
  return r.size() < 2 ? 0u : (unsigned(r[r.size() - 2]) << 8) | r[r.size() - 1];
}

}  // namespace vr
