// Fuzz target: the bank-card kernel's BER-TLV and data-object-list parsing,
// and the texts it builds from card records.
//
// Input: byte 0 splits the rest into a data object list (its first byte 0
// bytes) and the remainder, which serves as card data (records, TLV) and
// as a terminal data list. Checked:
// - tlv_next against a model reader written from BER-TLV (filler 00/FF,
//   tags of up to three bytes, short and 81/82/83 long lengths): same
//   objects, all inside the buffer; each tag encodes back to its bytes;
// - tlv_find gives the first match of a depth-first search (eight levels);
// - tlv_append of every object found reads back the same, and refuses one
//   byte too little room;
// - dol_parse/dol_length agree; dol_build fills exactly the list's length
//   with each item formatted by its tag's format, and fails with one byte
//   less room;
// - card_info_text over the records is a sequence of letter, three-digit
//   length and that many bytes, letters in order; card_record_text has its
//   stated length.
#include <string.h>

#include <string>
#include <vector>

#include "emv_tlv.h"
#include "fuzz_check.h"
#include "kernel.h"
#include "payterm.h"

namespace {

using payterm::Tlv;

struct ModelTlv {
  size_t start, total, value, len;
  uint32_t tag;
  bool constructed;
};

// 1 object, 0 end, -1 malformed; pos moves past the object.
int ModelNext(const uint8_t *b, size_t n, size_t *pos, ModelTlv *t) {
  size_t i = *pos;
  while (i < n && (b[i] == 0x00 || b[i] == 0xFF)) i++;
  if (i >= n) {
    *pos = i;
    return 0;
  }
  t->start = i;
  t->constructed = b[i] & 0x20;
  uint32_t tag = b[i++];
  if ((tag & 0x1F) == 0x1F) {
    size_t more = 0;
    for (;;) {
      if (i >= n || ++more > 2) return -1;
      uint8_t c = b[i++];
      tag = tag << 8 | c;
      if (!(c & 0x80)) break;
    }
  }
  t->tag = tag;
  if (i >= n) return -1;
  uint8_t l = b[i++];
  size_t len = l;
  if (l >= 0x80) {
    size_t k = l - 0x80;
    if (k < 1 || k > 3 || n - i < k) return -1;
    len = 0;
    while (k--) len = len << 8 | b[i++];
  }
  if (n - i < len) return -1;
  t->value = i;
  t->len = len;
  t->total = i + len - t->start;
  *pos = i + len;
  return 1;
}

// First object with tag in depth-first order, descending at most 8 levels.
const uint8_t *ModelFind(const uint8_t *b, size_t n, uint32_t tag, int depth) {
  if (depth > 8) return nullptr;
  size_t pos = 0;
  ModelTlv t;
  while (ModelNext(b, n, &pos, &t) == 1) {
    if (t.tag == tag) return b + t.start;
    if (t.constructed) {
      const uint8_t *f = ModelFind(b + t.value, t.len, tag, depth + 1);
      if (f != nullptr) return f;
    }
  }
  return nullptr;
}

void CheckObjects(const uint8_t *b, size_t n, std::vector<Tlv> *objects) {
  size_t pos = 0, mpos = 0;
  for (;;) {
    Tlv t;
    ModelTlv m;
    size_t before = pos;
    int r = payterm::tlv_next(b, n, &pos, &t);
    int mr = ModelNext(b, n, &mpos, &m);
    FUZZ_CHECK(r == mr);
    if (r != 1) {
      if (r == 0) FUZZ_CHECK(pos == n && mpos == n);
      return;
    }
    FUZZ_CHECK(pos == mpos && pos > before && pos <= n);
    FUZZ_CHECK(t.start == b + m.start && t.total == m.total && t.value == b + m.value && t.len == m.len);
    FUZZ_CHECK(t.tag == m.tag && t.constructed == m.constructed);
    uint8_t tagBytes[3];
    size_t ts = payterm::tlv_put_tag(t.tag, tagBytes);
    FUZZ_CHECK(ts == payterm::tlv_tag_size(t.tag) && memcmp(tagBytes, t.start, ts) == 0);
    objects->push_back(t);
  }
}

void CheckAppend(const Tlv &t) {
  const size_t ls = t.len < 0x80 ? 1 : t.len < 0x100 ? 2 : 3;
  const size_t need = payterm::tlv_tag_size(t.tag) + ls + t.len;
  std::vector<uint8_t> out(need);
  size_t at = 0;
  FUZZ_CHECK(payterm::tlv_append(out.data(), out.size(), &at, t.tag, t.value, t.len) && at == need);
  size_t pos = 0;
  Tlv back;
  FUZZ_CHECK(payterm::tlv_next(out.data(), out.size(), &pos, &back) == 1 && pos == need);
  FUZZ_CHECK(back.tag == t.tag && back.len == t.len && (t.len == 0 || memcmp(back.value, t.value, t.len) == 0));
  std::vector<uint8_t> tight(need - 1);
  at = 0;
  FUZZ_CHECK(!payterm::tlv_append(tight.data(), tight.size(), &at, t.tag, t.value, t.len) && at == 0);
}

// The terminal data list's value for tag, read by its layout (tag, one
// length byte, value; a zero byte ends it).
bool ModelTermFind(const uint8_t *l, size_t n, uint32_t tag, const uint8_t **v, size_t *len) {
  size_t i = 0;
  while (i < n && l[i] != 0) {
    uint32_t t;
    size_t used = payterm::tlv_read_tag(l + i, n - i, &t);
    if (used == 0 || i + used >= n || l[i + used] > n - (i + used + 1)) return false;
    size_t vl = l[i + used], at = i + used + 1;
    if (t == tag) {
      *v = l + at;
      *len = vl;
      return true;
    }
    i = at + vl;
  }
  return false;
}

void CheckDol(const uint8_t *dol, size_t dn, const uint8_t *list, size_t ln) {
  std::vector<payterm::DolItem> items(128);
  int k = payterm::dol_parse(dol, dn, items.data(), 128);
  size_t total = 0;
  for (int i = 0; i < k; i++) total += items[i].len;
  FUZZ_CHECK(payterm::dol_length(dol, dn) == total);
  // Buffers are never null, as in the kernel (an empty one still has an
  // address): one spare byte that the call is not told about.
  std::vector<uint8_t> out(total + 1, 0xEE);
  size_t outLen = 12345;
  int r = payterm::dol_build(dol, dn, list, ln, out.data(), total, &outLen);
  FUZZ_CHECK(r == 0 || r == -1 || r == -2);
  if (k < 0) FUZZ_CHECK(r == -2);
  if (r != 0) return;
  FUZZ_CHECK(outLen == total && out[total] == 0xEE);
  size_t at = 0;
  for (int i = 0; i < k; i++) {
    const size_t want = items[i].len;
    const uint8_t *dst = out.data() + at;
    at += want;
    const char fmt = payterm::tag_format(items[i].tag);
    const uint8_t *v = nullptr;
    size_t vl = 0;
    if (fmt == 0 || fmt == 't') {
      for (size_t j = 0; j < want; j++) FUZZ_CHECK(dst[j] == 0);
      continue;
    }
    FUZZ_CHECK(ModelTermFind(list, ln, items[i].tag, &v, &vl));
    for (size_t j = 0; j < want; j++) {
      uint8_t e;
      if (fmt == 'n')  // right-aligned, leading zeros or leftmost bytes dropped
        e = vl >= want ? v[vl - want + j] : (j < want - vl ? 0 : v[j - (want - vl)]);
      else  // left-aligned, padded (FF for compressed numeric)
        e = j < vl ? v[j] : (fmt == 'c' ? 0xFF : 0x00);
      FUZZ_CHECK(dst[j] == e);
    }
  }
  if (total > 0) {
    std::vector<uint8_t> tight(total);
    FUZZ_CHECK(payterm::dol_build(dol, dn, list, ln, tight.data(), total - 1, &outLen) != 0);
  }
}

void CheckTexts(const uint8_t *rec, size_t n) {
  static payterm::Application app;  // large: kept out of the stack
  app = payterm::Application();
  app.recLen = n < sizeof app.records ? n : sizeof app.records;
  app.aidLen = n < 16 ? n : 16;
  if (n > 0) {
    memcpy(app.records, rec, app.recLen);
    memcpy(app.aid, rec, app.aidLen);
  }

  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  std::vector<char> info(PAYTERM_CARDINFO_SIZE, 'Z');
  FUZZ_CHECK(payterm::card_info_text(app, kLetters, false, info.data()) == 0);
  size_t i = 0;
  std::string valueB;
  int lenB = -1;
  for (const char *l = kLetters; *l; l++) {
    FUZZ_CHECK(i + 4 <= info.size() && info[i] == *l);
    int len = 0;
    for (int d = 1; d <= 3; d++) {
      FUZZ_CHECK(info[i + d] >= '0' && info[i + d] <= '9');
      len = len * 10 + (info[i + d] - '0');
    }
    FUZZ_CHECK(i + 4 + static_cast<size_t>(len) < info.size());
    if (*l == 'B') {
      lenB = len;
      valueB.assign(info.data() + i + 4, static_cast<size_t>(len));
    }
    i += 4 + static_cast<size_t>(len);
  }
  FUZZ_CHECK(info[i] == '\0');
  // B is the cardholder name (5F20) as the card holds it, when short.
  const uint8_t *name = ModelFind(app.records, app.recLen, 0x5F20, 0);
  if (name == nullptr) {
    FUZZ_CHECK(lenB == 0);
  } else {
    size_t pos = static_cast<size_t>(name - app.records);
    ModelTlv m;
    FUZZ_CHECK(ModelNext(app.records, app.recLen, &pos, &m) == 1);
    if (m.len > 255) {
      FUZZ_CHECK(lenB == 0);
    } else {
      FUZZ_CHECK(valueB == std::string(reinterpret_cast<const char *>(app.records + m.value), m.len));
    }
  }

  std::vector<char> rec_text(PAYTERM_CARDREC_SIZE, 'Z');
  payterm::card_record_text(app, '1', rec_text.data());
  const size_t len = strlen(rec_text.data());
  FUZZ_CHECK(len == 6 + 6 + 2 + 2 + 2 * app.aidLen + 4 + 4 + 2 * app.recLen + 1);
  FUZZ_CHECK(rec_text[len - 1] == '1');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t dn = data[0] < size - 1 ? data[0] : size - 1;
  std::vector<uint8_t> dol(data + 1, data + 1 + dn), rest(data + 1 + dn, data + size);
  const uint8_t *b = rest.data();
  const size_t n = rest.size();

  std::vector<Tlv> objects;
  CheckObjects(b, n, &objects);
  for (const Tlv &t : objects) CheckAppend(t);

  std::vector<uint32_t> tags = {0x5A, 0x57, 0x70, 0x9F4B, 0x5F20};
  for (const Tlv &t : objects) tags.push_back(t.tag);
  if (tags.size() > 12) tags.resize(12);
  for (uint32_t tag : tags) {
    Tlv t;
    bool found = payterm::tlv_find(b, n, tag, &t);
    const uint8_t *m = ModelFind(b, n, tag, 0);
    FUZZ_CHECK(found == (m != nullptr));
    if (found) FUZZ_CHECK(t.start == m && t.tag == tag && t.start >= b && t.start + t.total <= b + n);
  }

  CheckDol(dol.data(), dol.size(), b, n);
  CheckTexts(b, n);
  return 0;
}
