#include "ic_auxterm.h"

#include <string.h>

#include "hexconv.h"

namespace payterm {

void Sequence::set(const uint8_t* p, size_t len, size_t limit) {
  if (limit > kMax) limit = kMax;
  n = len < limit ? len : limit;
  if (n > 0) memcpy(bytes, p, n);
}

void Sequence::append(const char* s) {
  if (s == nullptr) return;
  for (; *s != '\0' && n < kMax; ++s) bytes[n++] = static_cast<uint8_t>(*s);
}

size_t unescape_value(const char* v, size_t n, uint8_t* out, size_t cap) {
  size_t o = 0;
  size_t i = 0;
  while (i < n && o < cap) {
    char c = v[i++];
    if (c != '\\' || i >= n) {
      out[o++] = static_cast<uint8_t>(c);
      continue;
    }
    char e = v[i];
    if (e == '\\') {
      out[o++] = '\\';
      ++i;
    } else if (e == 'x' || e == 'X') {
      ++i;
      int val = 0;
      int digits = 0;
      while (digits < 2 && i < n && hex_digit(v[i]) >= 0) {
        val = val * 16 + hex_digit(v[i++]);
        ++digits;
      }
      // "\x" without digits stands for the letter itself.
      out[o++] = digits > 0 ? static_cast<uint8_t>(val) : static_cast<uint8_t>(e);
    } else if (e >= '0' && e <= '7') {
      int val = 0;
      int digits = 0;
      while (digits < 3 && i < n && v[i] >= '0' && v[i] <= '7') {
        val = val * 8 + (v[i++] - '0');
        ++digits;
      }
      out[o++] = static_cast<uint8_t>(val);
    } else {
      // Unknown escape: the character stands for itself.
      out[o++] = static_cast<uint8_t>(e);
      ++i;
    }
  }
  return o;
}

void parse_term_def(const char* text, size_t n, TermDef* def) {
  size_t pos = 0;
  while (pos < n) {
    size_t end = pos;
    while (end < n && text[end] != '\n') ++end;
    size_t line_end = end;
    if (line_end > pos && text[line_end - 1] == '\r') --line_end;
    size_t p = pos;
    pos = end + 1;
    while (p < line_end && (text[p] == ' ' || text[p] == '\t')) ++p;
    if (p >= line_end || text[p] == '#') continue;
    const char* eq = static_cast<const char*>(memchr(text + p, '=', line_end - p));
    if (eq == nullptr) continue;
    size_t name_end = static_cast<size_t>(eq - text);
    while (name_end > p && (text[name_end - 1] == ' ' || text[name_end - 1] == '\t')) --name_end;
    size_t v = static_cast<size_t>(eq - text) + 1;
    while (v < line_end && (text[v] == ' ' || text[v] == '\t')) ++v;
    uint8_t val[Sequence::kMax];
    size_t vn = unescape_value(text + v, line_end - v, val, sizeof val);
    size_t name_len = name_end - p;
    auto is = [&](const char* name) {
      return strlen(name) == name_len && memcmp(text + p, name, name_len) == 0;
    };
    if (is("CLOSE")) {
      def->close.set(val, vn, kTermSeqMax);
    } else if (is("WR_BEGIN")) {
      def->wr_begin.set(val, vn, kTermSeqMax);
    } else if (is("WR_END")) {
      def->wr_end.set(val, vn, kTermSeqMax);
    } else if (is("OPEN")) {
      def->open.set(val, vn, Sequence::kMax);
    } else if (is("PREFIX")) {
      if (vn > 0) def->prefix = val[0];
    } else if (is("SUFFIX")) {
      if (vn > 0) def->suffix = val[0];
    }
  }
}

}  // namespace payterm
