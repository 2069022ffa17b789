// Trace sink and the hex helpers of the device layer and the kernel.
#include "trace.h"

#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "hexconv.h"
#include "payterm.h"

namespace payterm {
namespace {
TraceReceiver g_receiver = nullptr;

std::string hex_of(const unsigned char* buf, int len) {
  std::string s;
  if (buf == nullptr || len <= 0) return s;
  s.resize(2 * static_cast<size_t>(len));
  to_hex(buf, static_cast<size_t>(len), &s[0]);
  return s;
}
}  // namespace

void set_trace_receiver(TraceReceiver r) { g_receiver = r; }
bool trace_on() { return g_receiver != nullptr; }

}  // namespace payterm

using namespace payterm;

extern "C" {

void d_printf(const char* format, ...) {
  if (g_receiver == nullptr || format == nullptr) return;
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  if (n > 0) {
    std::string s(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&s[0], s.size(), format, ap2);
    g_receiver(s.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
}

void d_printf_hex(const unsigned char* buf, int len) {
  if (!trace_on()) return;
  d_printf("(%d):%s\n", len, hex_of(buf, len).c_str());
}

void d_printf_hex_note(const char* note, const unsigned char* buf, int len) {
  if (!trace_on()) return;
  d_printf("%s(%d):%s\n", note ? note : "", len, hex_of(buf, len).c_str());
}

void d_printf_table(const unsigned char* buf, int len, const char* suffix) {
  if (!trace_on()) return;
  d_printf("%s%s", hex_of(buf, len).c_str(), suffix ? suffix : "");
}

void MyHexA(const unsigned char* in, char* out, int len) {
  if (out == nullptr) return;
  if (in == nullptr || len <= 0) {
    out[0] = '\0';
    return;
  }
  to_hex(in, static_cast<size_t>(len), out);
  out[2 * len] = '\0';
}

int MyAHex(const char* in, unsigned char* out, int len) {
  if (in == nullptr || out == nullptr || len < 0) return -1;
  for (int i = 0; i + 1 < len; i += 2) {
    int hi = hex_digit(in[i]);
    if (hi < 0) return -1;
    int lo = hex_digit(in[i + 1]);
    if (lo < 0) return -1;
    out[i / 2] = static_cast<unsigned char>(hi << 4 | lo);
  }
  if (len % 2 == 1 && hex_digit(in[len - 1]) < 0) return -1;
  return len / 2;
}

}  // extern "C"
