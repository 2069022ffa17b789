#include "textconv.h"

#include <iconv.h>

namespace vr::text {

static bool convert(const char* to, const char* from, const char* in, size_t n, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string buf(n * 4 + 8, '\0');
  char* src = const_cast<char*>(in);
  char* dst = &buf[0];
  size_t inLeft = n, outLeft = buf.size();
  size_t r = iconv(cd, &src, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (r == (size_t)-1 || inLeft != 0) return false;
  buf.resize(buf.size() - outLeft);
  out.swap(buf);
  return true;
}

bool utf8ToGbk(const std::string& in, std::string& out) {
  return convert("GBK", "UTF-8", in.data(), in.size(), out);
}

bool utf8ToUcs2le(const std::string& in, Bytes& out) {
  std::string s;
  if (!convert("UTF-16LE", "UTF-8", in.data(), in.size(), s)) return false;
  out.assign(s.begin(), s.end());
  return true;
}

bool ucs2leToUtf8(const uint8_t* p, size_t n, std::string& out) {
  return convert("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(p), n, out);
}

bool ucs2leToGbk(const uint8_t* p, size_t n, std::string& out) {
  return convert("GBK", "UTF-16LE", reinterpret_cast<const char*>(p), n, out);
}

}  // namespace vr::text
