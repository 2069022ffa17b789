// BER-TLV, data object lists and the terminal data list.
#include "emv_tlv.h"

#include <string.h>

namespace payterm {

size_t tlv_read_tag(const uint8_t* p, size_t n, uint32_t* tag) {
  if (n == 0) return 0;
  uint32_t t = p[0];
  size_t used = 1;
  if ((p[0] & 0x1F) == 0x1F) {
    // Subsequent bytes follow while bit 8 is set; three bytes at most.
    for (;;) {
      if (used >= n || used >= 3) return 0;
      uint8_t b = p[used++];
      t = t << 8 | b;
      if (!(b & 0x80)) break;
    }
  }
  *tag = t;
  return used;
}

size_t tlv_tag_size(uint32_t tag) { return tag > 0xFFFF ? 3 : tag > 0xFF ? 2 : 1; }

size_t tlv_put_tag(uint32_t tag, uint8_t* out) {
  size_t n = tlv_tag_size(tag);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(tag >> (8 * (n - 1 - i)));
  return n;
}

int tlv_next(const uint8_t* buf, size_t n, size_t* pos, Tlv* out) {
  size_t i = *pos;
  while (i < n && (buf[i] == 0x00 || buf[i] == 0xFF)) ++i;
  if (i >= n) {
    *pos = i;
    return 0;
  }
  Tlv t;
  t.start = buf + i;
  t.constructed = (buf[i] & 0x20) != 0;
  size_t used = tlv_read_tag(buf + i, n - i, &t.tag);
  if (used == 0) return -1;
  i += used;
  if (i >= n) return -1;
  uint8_t l = buf[i++];
  size_t len;
  if (l < 0x80) {
    len = l;
  } else {
    size_t k = l & 0x7F;
    if (k == 0 || k > 3 || k > n - i) return -1;
    len = 0;
    for (size_t j = 0; j < k; ++j) len = len << 8 | buf[i + j];
    i += k;
  }
  if (len > n - i) return -1;
  t.value = buf + i;
  t.len = len;
  t.total = static_cast<size_t>(buf + i + len - t.start);
  *pos = i + len;
  *out = t;
  return 1;
}

namespace {
bool find_in(const uint8_t* buf, size_t n, uint32_t tag, Tlv* out, int depth) {
  if (depth > 8) return false;
  size_t pos = 0;
  Tlv t;
  while (tlv_next(buf, n, &pos, &t) == 1) {
    if (t.tag == tag) {
      *out = t;
      return true;
    }
    if (t.constructed && find_in(t.value, t.len, tag, out, depth + 1)) return true;
  }
  return false;
}
}  // namespace

bool tlv_find(const uint8_t* buf, size_t n, uint32_t tag, Tlv* out) {
  if (buf == nullptr) return false;
  Tlv t;
  if (!find_in(buf, n, tag, &t, 0)) return false;
  if (out != nullptr) *out = t;
  return true;
}

bool tlv_append(uint8_t* out, size_t cap, size_t* at, uint32_t tag, const uint8_t* v, size_t n) {
  if (n > 0xFFFF) return false;
  size_t ts = tlv_tag_size(tag);
  size_t ls = n < 0x80 ? 1 : n < 0x100 ? 2 : 3;
  if (*at > cap || ts + ls + n > cap - *at) return false;
  uint8_t* p = out + *at;
  p += tlv_put_tag(tag, p);
  if (ls == 1) {
    *p++ = static_cast<uint8_t>(n);
  } else if (ls == 2) {
    *p++ = 0x81;
    *p++ = static_cast<uint8_t>(n);
  } else {
    *p++ = 0x82;
    *p++ = static_cast<uint8_t>(n >> 8);
    *p++ = static_cast<uint8_t>(n);
  }
  if (n > 0) memcpy(p, v, n);
  *at += ts + ls + n;
  return true;
}

int dol_parse(const uint8_t* dol, size_t n, DolItem* items, int max) {
  int count = 0;
  size_t i = 0;
  while (i < n) {
    uint32_t tag;
    size_t used = tlv_read_tag(dol + i, n - i, &tag);
    if (used == 0) return -1;
    i += used;
    if (i >= n || count >= max) return -1;
    items[count].tag = tag;
    items[count].len = dol[i++];
    ++count;
  }
  return count;
}

size_t dol_length(const uint8_t* dol, size_t n) {
  DolItem items[128];
  int k = dol_parse(dol, n, items, 128);
  size_t total = 0;
  for (int i = 0; i < k; ++i) total += items[i].len;
  return total;
}

namespace {
struct TagFormat {
  uint32_t tag;
  char format;
};
// Formats of the objects this kernel meets, after the EMV and PBOC data
// dictionaries.
const TagFormat kTagFormats[] = {
    {0x4F, 'b'},   {0x50, 'a'},   {0x57, 'b'},   {0x5A, 'c'},   {0x61, 't'},   {0x6F, 't'},
    {0x70, 't'},   {0x71, 't'},   {0x72, 't'},   {0x73, 't'},   {0x77, 't'},   {0x80, 'b'},
    {0x82, 'b'},   {0x84, 'b'},   {0x86, 'b'},   {0x87, 'b'},   {0x88, 'b'},   {0x8A, 'a'},
    {0x8C, 'b'},   {0x8D, 'b'},   {0x8E, 'b'},   {0x8F, 'b'},   {0x90, 'b'},   {0x91, 'b'},
    {0x92, 'b'},   {0x93, 'b'},   {0x94, 'b'},   {0x95, 'b'},   {0x9A, 'n'},   {0x9C, 'n'},
    {0x9D, 'b'},   {0xA5, 't'},   {0x5F20, 'a'}, {0x5F24, 'n'}, {0x5F25, 'n'}, {0x5F28, 'n'},
    {0x5F2A, 'n'}, {0x5F2D, 'a'}, {0x5F30, 'n'}, {0x5F34, 'n'}, {0x5F36, 'n'}, {0x9F01, 'n'},
    {0x9F02, 'n'}, {0x9F03, 'n'}, {0x9F06, 'b'}, {0x9F07, 'b'}, {0x9F08, 'b'}, {0x9F09, 'b'},
    {0x9F0B, 'a'}, {0x9F0D, 'b'}, {0x9F0E, 'b'}, {0x9F0F, 'b'}, {0x9F10, 'b'}, {0x9F11, 'n'},
    {0x9F12, 'a'}, {0x9F13, 'b'}, {0x9F14, 'b'}, {0x9F15, 'n'}, {0x9F16, 'a'}, {0x9F17, 'b'},
    {0x9F18, 'b'}, {0x9F1A, 'n'}, {0x9F1B, 'b'}, {0x9F1C, 'a'}, {0x9F1D, 'b'}, {0x9F1E, 'a'},
    {0x9F1F, 'a'}, {0x9F20, 'c'}, {0x9F21, 'n'}, {0x9F22, 'b'}, {0x9F23, 'b'}, {0x9F26, 'b'},
    {0x9F27, 'b'}, {0x9F32, 'b'}, {0x9F33, 'b'}, {0x9F34, 'b'}, {0x9F35, 'n'}, {0x9F36, 'b'},
    {0x9F37, 'b'}, {0x9F38, 'b'}, {0x9F39, 'n'}, {0x9F40, 'b'}, {0x9F41, 'n'}, {0x9F42, 'n'},
    {0x9F44, 'n'}, {0x9F45, 'b'}, {0x9F46, 'b'}, {0x9F47, 'b'}, {0x9F48, 'b'}, {0x9F49, 'b'},
    {0x9F4A, 'b'}, {0x9F4B, 'b'}, {0x9F4C, 'b'}, {0x9F4D, 'b'}, {0x9F4E, 'a'}, {0x9F4F, 'b'},
    {0x9F51, 'n'}, {0x9F5D, 'n'}, {0x9F61, 'a'}, {0x9F62, 'n'}, {0x9F63, 'b'}, {0x9F66, 'b'},
    {0x9F69, 'b'}, {0x9F6C, 'b'}, {0x9F6D, 'n'}, {0x9F74, 'a'}, {0x9F77, 'n'}, {0x9F78, 'n'},
    {0x9F79, 'n'}, {0x9F7A, 'b'}, {0x9F7B, 'n'}, {0x9F7C, 'v'}, {0xBF0C, 't'}, {0xDF31, 'b'},
    {0xDF60, 'b'}, {0xDF69, 'b'},
};
}  // namespace

char tag_format(uint32_t tag) {
  for (const TagFormat& f : kTagFormats)
    if (f.tag == tag) return f.format;
  return 0;
}

bool termlist_add(uint8_t* list, size_t cap, size_t* at, uint32_t tag, const uint8_t* v,
                  size_t n) {
  size_t ts = tlv_tag_size(tag);
  // Room for the object and the end byte after it.
  if (n > 255 || *at > cap || ts + 1 + n + 1 > cap - *at) return false;
  uint8_t* p = list + *at;
  p += tlv_put_tag(tag, p);
  *p++ = static_cast<uint8_t>(n);
  if (n > 0) memcpy(p, v, n);
  *at += ts + 1 + n;
  list[*at] = 0;
  return true;
}

bool termlist_find(const uint8_t* list, size_t n, uint32_t tag, const uint8_t** v,
                   size_t* len) {
  size_t i = 0;
  while (i < n && list[i] != 0) {
    uint32_t t;
    size_t used = tlv_read_tag(list + i, n - i, &t);
    if (used == 0 || i + used >= n) return false;
    size_t l = list[i + used];
    size_t at = i + used + 1;
    if (l > n - at) return false;
    if (t == tag) {
      *v = list + at;
      *len = l;
      return true;
    }
    i = at + l;
  }
  return false;
}

int dol_build(const uint8_t* dol, size_t n, const uint8_t* list, size_t listLen, uint8_t* out,
              size_t cap, size_t* outLen) {
  DolItem items[128];
  int k = dol_parse(dol, n, items, 128);
  if (k < 0) return -2;
  size_t at = 0;
  for (int i = 0; i < k; ++i) {
    const size_t want = items[i].len;
    if (want > cap - at) return -2;
    uint8_t* dst = out + at;
    at += want;
    char fmt = tag_format(items[i].tag);
    if (fmt == 0 || fmt == 't') {
      memset(dst, 0, want);
      continue;
    }
    const uint8_t* v = nullptr;
    size_t vl = 0;
    if (!termlist_find(list, listLen, items[i].tag, &v, &vl)) return -1;
    if (fmt == 'n') {
      if (vl >= want) {
        memcpy(dst, v + (vl - want), want);
      } else {
        memset(dst, 0, want - vl);
        memcpy(dst + (want - vl), v, vl);
      }
    } else {
      size_t c = vl < want ? vl : want;
      memcpy(dst, v, c);
      memset(dst + c, fmt == 'c' ? 0xFF : 0x00, want - c);
    }
  }
  *outLen = at;
  return 0;
}

}  // namespace payterm
