// CodeTranslate: card codes to display names.
#include "Qmxtool.h"
#include "code_tables.h"

#include <cstring>

namespace {

const char kUnknown[] = "其他";

}  // namespace

int CodeTranslate(int mode, int code, char *key, char *out) {
  if (out == nullptr)
    return -1;
  const char *name = kUnknown;
  switch (mode) {
  case 1:
    if (code < 1 || code > static_cast<int>(kSexCount))
      return -2;
    name = kSexNames[code];
    break;
  case 2:
    if (code >= 1 && code <= static_cast<int>(kNationCount))
      name = kNationNames[code];
    break;
  case 3:
    // 239 short keys: a straight scan costs less than building any index.
    for (std::size_t i = 0; key != nullptr && i < kCountryCount; ++i) {
      if (std::strcmp(kCountryNames[i].key, key) == 0) {
        name = kCountryNames[i].name;
        break;
      }
    }
    break;
  default:
    return -1;
  }
  std::strcpy(out, name);
  return 0;
}
