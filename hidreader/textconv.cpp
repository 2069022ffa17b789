// Text helpers: blank trimming, hex text, UCS-2LE to UTF-8.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hidlink_internal.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One iconv conversion descriptor, closed with its scope.
class Converter {
 public:
  Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  size_t convert(char **in, size_t *inLeft, char **out, size_t *outLeft) {
    return iconv(cd_, in, inLeft, out, outLeft);
  }

 private:
  iconv_t cd_;
};

}  // namespace

char *killblank(char *str) {
  if (!str) return nullptr;
  while (*str == ' ') str++;
  if (*str == '\0') return str;
  char *end = str + std::strlen(str) - 1;
  while (end > str && *end == ' ') end--;
  end[1] = '\0';
  return str;
}

uint8_t *CHexToBin(uint8_t *bin, const char *asc, uint32_t len) {
  if (!asc || !bin) return nullptr;
  for (uint32_t i = 0; i < len; i++) {
    int v = hexValue(asc[i]);
    if (v < 0) break;
    if (i % 2 == 0)
      bin[i / 2] = uint8_t(v << 4);
    else
      bin[i / 2] |= uint8_t(v);
  }
  bin[len / 2] = 0;
  return bin;
}

char *BinToCHex(char *asc, const uint8_t *bin, uint32_t len) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (!asc || !bin) return nullptr;
  for (uint32_t i = 0; i < len; i++) {
    asc[2 * size_t(i)] = kDigits[bin[i] >> 4];
    asc[2 * size_t(i) + 1] = kDigits[bin[i] & 0x0F];
  }
  asc[2 * size_t(len)] = '\0';
  return asc;
}

int wstring2string(const char *a_szSrc, size_t a_nSrcSize, char *a_szDest, size_t a_nDestSize) {
  if (!a_szSrc || !a_szDest || a_nDestSize == 0) return -1;
  Converter cv("UTF-8", "UTF-16LE");
  if (!cv.ok()) {
    std::printf("iconv_open WCHAR_T->UTF8 error %s %d\n", std::strerror(errno), errno);
    return -1;
  }
  char *in = const_cast<char *>(a_szSrc);  // iconv takes char ** and does not write the input
  char *out = a_szDest;
  size_t inLeft = a_nSrcSize;
  size_t outLeft = a_nDestSize - 1;  // keeps a NUL at the end in every case
  size_t rc = cv.convert(&in, &inLeft, &out, &outLeft);
  int err = errno;
  *out = '\0';
  if (rc == size_t(-1)) {
    std::printf("iconv WCHAR_T->UTF8 error %s %d\n", std::strerror(err), err);
    return -1;
  }
  return int(rc);
}
