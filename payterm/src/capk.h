// Certification-authority public keys: the built-in UnionPay keys and those
// of "emv/CAPK.txt", each checked against its check value when loaded.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace payterm {

struct Capk {
  uint8_t rid[5];
  uint8_t index;
  uint8_t hashInd;
  uint8_t arithInd;
  uint8_t modLen;
  uint8_t modulus[248];
  uint8_t expLen;
  uint8_t exponent[3];
  uint8_t expiry[4];  // YYYYMMDD, BCD
  uint8_t checksum[20];
};

constexpr int kCapkMax = 256;

// SHA-1 of RID, index, modulus and exponent equals the check value.
bool capk_check_value_ok(const Capk& k);

// Parses one key from its text columns (hex, expiry as 8 digits). False
// when a column is not in form or a length is out of range.
bool capk_from_text(const char* rid, const char* index, const char* hashInd,
                    const char* arithInd, const char* modulus, const char* exponent,
                    const char* expiry, const char* checksum, Capk* out);

// One key as text columns (hex; expiry YYYYMMDD).
struct CapkText {
  const char *rid, *index, *hashInd, *arithInd, *modulus, *exponent, *expiry, *checksum;
};

class CapkTable {
 public:
  // Built-in keys, then the file's sections [CAPK1], [CAPK2], ... until one
  // is missing. Loading stops at the first key whose check value does not
  // match (it and all after it are left out). Returns the key count.
  int load(const char* file);
  int count() const { return count_; }
  const Capk& at(int i) const { return keys_[i]; }
  const Capk* find(const uint8_t* rid, uint8_t index) const;
  // Adds rows after the keys already held, with the same stop rule; a
  // stop also ends the loading of anything after them.
  int load_rows(const CapkText* rows, int n);
  void clear() {
    count_ = 0;
    stopped_ = false;
  }

 private:
  bool add(const Capk& k);
  Capk keys_[kCapkMax];
  int count_ = 0;
  bool stopped_ = false;
};

// The table the kernel uses (loaded again by each authentication).
CapkTable& capk_table();

}  // namespace payterm
