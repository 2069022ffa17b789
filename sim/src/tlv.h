// BER-TLV as used by chip cards: one- or two-byte tags, short or 81/82 lengths.
#pragma once
#include <utility>
#include <vector>

#include "bytes.h"

namespace vr::tlv {

Bytes make(unsigned tag, const Bytes& value);
// Finds `tag` anywhere in `data`, descending into constructed objects.
bool find(const Bytes& data, unsigned tag, Bytes& value);
// A data object list: tags with lengths, no values.
bool parseDol(const Bytes& dol, std::vector<std::pair<unsigned, size_t>>& out);
size_t dolLength(const Bytes& dol);

}  // namespace vr::tlv
