// GBK <-> UTF-16 by table, and GBK -> UTF-8 through iconv.
#include "Qmxtool.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iconv.h>

int tool_GbkToUnicode(char *gbk, unsigned short *out, int max) {
  if (gbk == nullptr || out == nullptr)
    return -1;
  // No room means nothing is written (max - 1 compared unsigned would
  // otherwise lift every bound).
  if (max <= 0)
    return 0;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(gbk);
  int n = 0;
  while (*p != 0) {
    unsigned b = *p++;
    if (b <= 0x80) {
      out[n++] = static_cast<unsigned short>(b);
    } else {
      // A lead byte cut off by the end of the text stands for nothing; the
      // terminator is not consumed as its second byte.
      if (*p == 0)
        break;
      unsigned code = b << 8 | *p++;
      if (code >= gbk_first_code && code <= gbk_last_code)
        out[n++] = unicodeTables[code - gbk_first_code];
    }
    if (n >= max)
      break;
  }
  return n;
}

int tool_UnicodeToGbk(unsigned short *in, char *out, int max) {
  if (in == nullptr || out == nullptr)
    return -1;
  int n = 0;
  for (const unsigned short *p = in; *p != 0 && n < max; ++p) {
    unsigned u = *p;
    if (u <= 0x7F) {
      out[n++] = static_cast<char>(u);
    } else if (u >= unicode_first_code && u <= unicode_last_code) {
      // A two-byte code that would pass max ends the text here.
      if (max - n < 2)
        break;
      unsigned code = gbkTables[u - unicode_first_code];
      out[n++] = static_cast<char>(code >> 8);
      out[n++] = static_cast<char>(code & 0xFF);
    }
  }
  return n;
}

int tool_gbk_to_utf8(unsigned long len, char *gbk, char **out, char *err) {
  if (gbk == nullptr || out == nullptr)
    return -1;
  *out = nullptr;
  auto fail = [err](const char *message, int code) {
    if (err != nullptr)
      std::strcat(err, message);
    return code;
  };
  if (len == 0)
    return fail("tool_gbk_to_utf8 :输入数据长度有误", -5);
  // GBK needs at most two output bytes per input byte (two-byte codes
  // become three UTF-8 bytes); a length whose double overflows cannot be
  // served either.
  if (len > (ULONG_MAX - 1) / 2 || 2 * len > INT_MAX)
    return fail(" :输出数据动态空间申请失败", -1);
  std::size_t cap = 2 * len;
  char *buf = static_cast<char *>(std::calloc(cap + 1, 1));
  if (buf == nullptr)
    return fail(" :输出数据动态空间申请失败", -1);
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::free(buf);
    return fail(" :GBK转UTF-8编码参数设置失败", -2);
  }
  char *ip = gbk, *op = buf;
  std::size_t il = len, ol = cap;
  std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) {
    std::free(buf);
    return fail(" :GBK转UTF-8编码失败", -3);
  }
  *out = buf;
  return static_cast<int>(cap - ol);
}
