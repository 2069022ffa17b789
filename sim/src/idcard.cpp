#include "idcard.h"

#include <iterator>

#include "textconv.h"

namespace vr {

bool putIdField(Bytes& block, IdField f, const std::string& utf8) {
  Bytes u;
  if (!text::utf8ToUcs2le(utf8, u) || u.size() > f.size) return false;
  for (size_t i = 0; i < f.size; i += 2) {
    block[f.off + i] = i < u.size() ? u[i] : 0x20;
    block[f.off + i + 1] = i < u.size() ? u[i + 1] : 0x00;
  }
  return true;
}

bool buildIdText(const IdCardData& d, Bytes& block, std::string* bad) {
  using namespace idtext;
  block.assign(kTextSize, 0);
  putIdField(block, IdField{0, kTextSize}, "");
  struct Item {
    IdField f;
    const std::string* v;
    const char* name;
  };
  const Item foreign[] = {{kFEnName, &d.enName, "en_name"}, {kFSex, &d.sex, "sex"},
                          {kFNumber, &d.number, "number"},  {kFCountry, &d.country, "country"},
                          {kFCnName, &d.name, "name"},      {kFStart, &d.start, "start"},
                          {kFEnd, &d.end, "end"},           {kFBirth, &d.birth, "birth"},
                          {kFVersion, &d.version, "version"}, {kFAuthority, &d.authority, "authority"}};
  const Item resident[] = {{kName, &d.name, "name"},         {kSex, &d.sex, "sex"},
                           {kNation, &d.nation, "nation"},   {kBirth, &d.birth, "birth"},
                           {kAddress, &d.address, "address"}, {kNumber, &d.number, "number"},
                           {kAuthority, &d.authority, "authority"}, {kStart, &d.start, "start"},
                           {kEnd, &d.end, "end"},            {kHPass, &d.pass, "pass"},
                           {kHCount, &d.count, "count"}};
  bool isForeign = d.type == "I";
  const Item* first = isForeign ? foreign : resident;
  size_t count = isForeign ? std::size(foreign) : std::size(resident) - (d.type == "J" ? 0 : 2);
  for (const Item* it = first; it != first + count; ++it) {
    if (!putIdField(block, it->f, *it->v)) {
      if (bad) *bad = it->name;
      return false;
    }
  }
  if (!d.type.empty()) {
    block[kTypeOffset] = static_cast<uint8_t>(d.type[0]);
    block[kTypeOffset + 1] = 0;
  }
  return true;
}

char idCheckChar(const std::string& s) {
  static const int w[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
  static const char map[] = "10X98765432";
  if (s.size() < 17) return '?';
  int sum = 0;
  for (int i = 0; i < 17; ++i) {
    if (s[i] < '0' || s[i] > '9') return '?';
    sum += (s[i] - '0') * w[i];
  }
  return map[sum % 11];
}

bool idNumberValid(const std::string& n) { return n.size() == 18 && idCheckChar(n) == n[17]; }

}  // namespace vr
