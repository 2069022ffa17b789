// GetPrivateProfileString: the profile files ".\DC_PBOC.ini" and
// "emv/CAPK.txt" are read with it.
#include "profile_ini.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "payterm.h"

namespace payterm {

namespace {
bool starts_with_nocase(const char* s, size_t n, const char* prefix, size_t pn) {
  return n >= pn && strncasecmp(s, prefix, pn) == 0;
}
}  // namespace

bool ProfileScan::line(const char* s, size_t n) {
  if (section_ == nullptr || key_ == nullptr) return true;
  if (state_ == kSection) {
    size_t sn = strlen(section_);
    if (n >= sn + 2 && s[0] == '[' && strncasecmp(s + 1, section_, sn) == 0 && s[sn + 1] == ']')
      state_ = kKey;
    return false;
  }
  if (state_ == kDone) return true;
  if (!starts_with_nocase(s, n, key_, strlen(key_))) return false;
  state_ = kDone;
  const char* eq = nullptr;
  for (size_t i = 0; i < n; ++i)
    if (s[i] == '=') eq = s + i;
  if (eq == nullptr) return true;
  const char* b = eq + 1;
  const char* e = s + n;
  while (b < e && isspace(static_cast<unsigned char>(*b))) ++b;
  while (e > b && isspace(static_cast<unsigned char>(e[-1]))) --e;
  value_.assign(b, static_cast<size_t>(e - b));
  has_value_ = true;
  return true;
}

bool ProfileScan::value(std::string* out) const {
  if (!has_value_) return false;
  if (out != nullptr) *out = value_;
  return true;
}

bool profile_lookup(const char* text, size_t n, const char* section, const char* key,
                    std::string* value) {
  ProfileScan scan(section, key);
  size_t at = 0;
  while (at < n) {
    size_t len = 0;
    while (at + len < n && len < kProfileLineMax) {
      if (text[at + len++] == '\n') break;
    }
    if (scan.line(text + at, len)) break;
    at += len;
  }
  return scan.value(value);
}

}  // namespace payterm

using namespace payterm;

extern "C" int GetPrivateProfileString(const char* section, const char* key, const char* def,
                                       char* out, int size, const char* file) {
  if (out == nullptr || size <= 0) return 0;
  std::string value;
  bool found = false;
  FILE* f = file != nullptr ? fopen(file, "r") : nullptr;
  if (f == nullptr && file != nullptr && strchr(file, '\\') != nullptr) {
    // Profiles named the Windows way (".\\name") sit in the same place here.
    std::string path(file);
    for (char& c : path)
      if (c == '\\') c = '/';
    f = fopen(path.c_str(), "r");
  }
  if (f != nullptr) {
    ProfileScan scan(section, key);
    char line[kProfileLineMax + 1];
    while (fgets(line, sizeof line, f) != nullptr)
      if (scan.line(line, strlen(line))) break;
    fclose(f);
    found = scan.value(&value);
  }
  const char* src = found ? value.c_str() : (def != nullptr ? def : "");
  size_t n = strnlen(src, static_cast<size_t>(size) - 1);
  memcpy(out, src, n);
  out[n] = '\0';
  return static_cast<int>(n);
}
