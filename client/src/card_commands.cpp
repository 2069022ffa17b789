#include "card_commands.h"

#include <cstdio>
#include <cstring>

namespace tessera {

void buildSelectSsse(char gen, unsigned char out[kSelectSsseLen]) {
  static const unsigned char head[] = {0x00, 0xA4, 0x04, 0x00, 0x0F, 's', 'x'};
  static const unsigned char tail[] = {'.', 's', 'h', '.', 0xC9, 0xE7, 0xBB, 0xE1, 0xB1, 0xA3, 0xD5, 0xCF};
  std::memcpy(out, head, sizeof head);
  out[sizeof head] = static_cast<unsigned char>(gen);
  std::memcpy(out + sizeof head + 1, tail, sizeof tail);
}

char cardGeneration(const unsigned char *fci, std::size_t fciLen, const char *certId) {
  // The FCI is searched as text: the search ends at its first zero byte.
  std::size_t n = strnlen(reinterpret_cast<const char *>(fci), fciLen);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (fci[i] == 0x86 && fci[i + 1] == 0x01)
      return static_cast<char>('0' + (i + 2 < fciLen ? fci[i + 2] : 0));
  }
  return std::strncmp(certId, "11", 2) == 0 ? '2' : '1';
}

int buildDiversify(unsigned char p2, unsigned char lc, const unsigned char atrTail[8],
                   const char region[6], const unsigned char random[8], unsigned char *out) {
  unsigned char *p = out;
  const unsigned char head[] = {0xBF, 0xDE, 0x67, p2, lc};
  std::memcpy(p, head, sizeof head), p += sizeof head;
  std::memcpy(p, atrTail, 8), p += 8;
  std::memcpy(p, region, 6), p += 6;
  std::memcpy(p, "sx", 2), p += 2;
  std::memcpy(p, region, 2), p += 2;
  std::memcpy(p, "0000sh", 6), p += 6;
  std::memcpy(p, random, 8), p += 8;
  if (lc == 0x28)
    std::memset(p, 0, 8), p += 8;
  return static_cast<int>(p - out);
}

int buildEncrypt(unsigned char lc, const unsigned char random[8], unsigned char *out) {
  const unsigned char head[] = {0x80, 0xFA, 0x00, 0x00, lc};
  std::memcpy(out, head, sizeof head);
  std::memcpy(out + 5, random, 8);
  if (lc == 0x10) {
    std::memset(out + 13, 0, 8);
    return 21;
  }
  return 13;
}

void foldBlocks(const unsigned char in[16], unsigned char out[8]) {
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<unsigned char>(in[i] ^ in[i + 8]);
}

int accountFromRecordHex(const char *hex, const char **start, int *len) {
  const char *tag = std::strstr(hex, "571");
  if (tag == nullptr)
    return -10;
  // The tag and its length byte take four characters; the text may end
  // within them.
  const char *from = tag + 3;
  if (*from != '\0')
    ++from;
  const char *sep = std::strchr(from, 'D');
  if (sep == nullptr)
    return -9;
  long n = sep - from;
  if (n < 16 || n > 19)
    return -8;
  *start = from;
  *len = static_cast<int>(n);
  return 0;
}

int accountFromTracks(const char *track2, const char *track3, char *out, std::size_t cap,
                      bool *track3Used) {
  *track3Used = track2[0] == '\0';
  if (track2[0] == '\0' && track3[0] == '\0')
    return -2;
  const char *from, *eq;
  if (track2[0] != '\0') {
    eq = std::strchr(track2, '=');
    if (eq == nullptr)
      return -3;
    from = track2[0] == ';' ? track2 + 1 : track2;
  } else {
    const char *t = track3;
    eq = std::strchr(t, '=');
    // Start sentinel ';' and format code "99" in the first three places.
    bool sentinelOrCode = t[0] == ';' || t[1] == '9' || (t[1] != '\0' && t[2] == '9');
    bool code = t[0] == '9' || t[1] == '9';
    if (eq == nullptr || !sentinelOrCode || !code)
      return -3;
    from = t + (t[0] == ';' ? 3 : 2);
  }
  // An '=' inside the sentinel or format code leaves no number at all.
  if (eq <= from || static_cast<std::size_t>(eq - from) >= cap)
    return -3;
  std::size_t n = static_cast<std::size_t>(eq - from);
  std::memcpy(out, from, n);
  out[n] = '\0';
  return 0;
}

bool buildScanInterval(unsigned interval, unsigned char out[kScanIntervalLen]) {
  if (interval > 9999)
    return false;
  static const unsigned char head[] = {0xB0, 0xD0, 0x00, 0x00, 0x0E};
  std::memcpy(out, head, sizeof head);
  char text[15];
  std::snprintf(text, sizeof text, "FP-3N010=%04u;", interval);
  std::memcpy(out + sizeof head, text, 14);
  return true;
}

unsigned char scanWait(unsigned timeout) {
  return static_cast<unsigned char>((timeout <= 2 ? 3 : timeout) & 0xFF);
}

unsigned char stripeWait(unsigned timeout) {
  return static_cast<unsigned char>((timeout > 180 ? 180 : timeout) & 0xFF);
}

unsigned char keypadWait(int timeout) {
  unsigned t = static_cast<unsigned>(timeout) & 0xFF;
  return static_cast<unsigned char>(t <= 5 ? 6 : t > 180 ? 180 : t);
}

int stripeAccountWait(int timeout) { return (timeout == 0 || timeout > 99) ? 20 : timeout; }

}  // namespace tessera
