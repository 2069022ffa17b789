// INI-style profile lookup, pure: the lines are fed one by one as the file
// reader yields them (at most 511 characters each).
#pragma once

#include <stddef.h>

#include <string>

namespace payterm {

constexpr size_t kProfileLineMax = 511;

class ProfileScan {
 public:
  ProfileScan(const char* section, const char* key) : section_(section), key_(key) {}
  // Takes the next line; true once the key line has been seen (no more
  // lines are needed).
  bool line(const char* s, size_t n);
  // The value, when the section, the key line and an '=' on it were found.
  bool value(std::string* out) const;

 private:
  const char* section_;
  const char* key_;
  enum { kSection, kKey, kDone } state_ = kSection;
  bool has_value_ = false;
  std::string value_;
};

// Runs the scan over a whole text, cut into lines as the file reader cuts
// them. True when a value was found.
bool profile_lookup(const char* text, size_t n, const char* section, const char* key,
                    std::string* value);

}  // namespace payterm
