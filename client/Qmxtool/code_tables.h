// Internal: the name tables behind CodeTranslate (UTF-8 texts).
#ifndef QMXTOOL_CODE_TABLES_H
#define QMXTOOL_CODE_TABLES_H

#include <cstddef>

struct CountryName {
  const char *key;   // three-letter code, compared exactly
  const char *name;
};

constexpr std::size_t kSexCount = 2;
constexpr std::size_t kNationCount = 56;
constexpr std::size_t kCountryCount = 239;

extern const char *const kSexNames[kSexCount + 1];        // index = code, [0] unused
extern const char *const kNationNames[kNationCount + 1];  // index = code, [0] unused
extern const CountryName kCountryNames[kCountryCount];

#endif
