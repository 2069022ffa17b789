#include "tlv.h"

namespace vr::tlv {

Bytes make(unsigned tag, const Bytes& value) {
  Bytes b;
  if (tag > 0xFF) b.push_back(static_cast<uint8_t>(tag >> 8));
  b.push_back(static_cast<uint8_t>(tag));
  size_t n = value.size();
  if (n > 0xFF) {
    b.push_back(0x82);
    put16(b, unsigned(n));
  } else if (n > 0x7F) {
    b.push_back(0x81);
    b.push_back(static_cast<uint8_t>(n));
  } else {
    b.push_back(static_cast<uint8_t>(n));
  }
  append(b, value);
  return b;
}

// Reads one tag and length at `i`; false when the object runs past `end`.
static bool header(const Bytes& d, size_t& i, size_t end, unsigned& tag, size_t& len, bool& constructed) {
  if (i >= end) return false;
  uint8_t first = d[i++];
  constructed = first & 0x20;
  tag = first;
  if ((first & 0x1F) == 0x1F) {
    if (i >= end) return false;
    tag = tag << 8 | d[i++];
  }
  if (i >= end) return false;
  uint8_t l = d[i++];
  if (l < 0x80) {
    len = l;
  } else if (l == 0x81) {
    if (i >= end) return false;
    len = d[i++];
  } else if (l == 0x82) {
    if (i + 1 >= end) return false;
    len = size_t(d[i]) << 8 | d[i + 1];
    i += 2;
  } else {
    return false;
  }
  return len <= end - i;
}

static bool findIn(const Bytes& d, size_t i, size_t end, unsigned want, Bytes& value, int depth) {
  if (depth > 8) return false;
  while (i < end) {
    if (d[i] == 0x00 || d[i] == 0xFF) {  // padding between objects
      ++i;
      continue;
    }
    unsigned tag;
    size_t len;
    bool constructed;
    if (!header(d, i, end, tag, len, constructed)) return false;
    if (tag == want) {
      value.assign(d.begin() + i, d.begin() + i + len);
      return true;
    }
    if (constructed && findIn(d, i, i + len, want, value, depth + 1)) return true;
    i += len;
  }
  return false;
}

bool find(const Bytes& data, unsigned tag, Bytes& value) {
  return findIn(data, 0, data.size(), tag, value, 0);
}

bool parseDol(const Bytes& dol, std::vector<std::pair<unsigned, size_t>>& out) {
  out.clear();
  size_t i = 0;
  while (i < dol.size()) {
    unsigned tag = dol[i++];
    if ((tag & 0x1F) == 0x1F) {
      if (i >= dol.size()) return false;
      tag = tag << 8 | dol[i++];
    }
    if (i >= dol.size()) return false;
    out.emplace_back(tag, dol[i++]);
  }
  return true;
}

size_t dolLength(const Bytes& dol) {
  std::vector<std::pair<unsigned, size_t>> items;
  if (!parseDol(dol, items)) return 0;
  size_t n = 0;
  for (auto& it : items) n += it.second;
  return n;
}

}  // namespace vr::tlv
