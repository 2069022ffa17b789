// Fuzz target: the hub's decode of the ID-card module's read reply
// (decodeIdReply and its bounded copies).
//
// The input is the reply as the exchange returns it: SAM frame header, the
// two lengths, the 256-byte UCS-2LE text block from byte 14, the photo.
// Checked: a reply too short for the block is refused with the output left
// alone; otherwise every field ends inside its caller buffer size; name,
// address and authority equal a direct decoding of their units (UCS-2 with
// surrogate pairs to UTF-8, blanks and tabs trimmed, cut only at a
// character boundary) and are valid UTF-8; sex and nation are names of
// their tables; the GBK fields end on whole characters, and equal their
// units when those are plain ASCII; the validity start holds at most 8
// bytes and the end what follows.
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "Qmxtool.h"
#include "fuzz_check.h"
#include "id_text.h"

namespace {

using portico::IdText;

std::vector<unsigned> Units(const uint8_t *reply, size_t first, size_t count) {
  std::vector<unsigned> u;
  for (size_t i = first; i < first + count; i++) {
    unsigned v = reply[14 + 2 * i] | reply[15 + 2 * i] << 8;
    if (v == 0) break;
    u.push_back(v);
  }
  return u;
}

void PutUtf8(std::string &s, unsigned c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | c >> 6);
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | c >> 12);
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | c >> 18);
    s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A text field as the card holds it, in UTF-8, cut to fit cap bytes with
// its NUL without splitting a character.
std::string Utf8Field(const uint8_t *reply, size_t first, size_t count, size_t cap) {
  std::vector<unsigned> u = Units(reply, first, count);
  std::string s;
  for (size_t i = 0; i < u.size(); i++) {
    unsigned c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    PutUtf8(s, c);
  }
  s = Trim(s);
  size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
  while (n > 0 && n < s.size() && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80) n--;
  return s.substr(0, n);
}

// The field's units when every one of them is printable ASCII.
bool AsciiField(const uint8_t *reply, size_t first, size_t count, std::string *out) {
  out->clear();
  for (unsigned c : Units(reply, first, count)) {
    if (c < 0x20 || c > 0x7E) return false;
    *out += static_cast<char>(c);
  }
  *out = Trim(*out);
  return true;
}

bool ValidUtf8(const char *s) {
  const uint8_t *p = reinterpret_cast<const uint8_t *>(s);
  while (*p) {
    size_t n = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : (*p & 0xF8) == 0xF0 ? 3 : 9;
    if (n == 9) return false;
    p++;
    for (size_t i = 0; i < n; i++, p++)
      if ((*p & 0xC0) != 0x80) return false;
  }
  return true;
}

// GBK text that does not end inside a two-byte character.
bool WholeGbk(const char *s) {
  size_t n = strlen(s), i = 0;
  while (i < n) i += static_cast<uint8_t>(s[i]) >= 0x81 && static_cast<uint8_t>(s[i]) <= 0xFE ? 2 : 1;
  return i == n;
}

template <size_t N>
void CheckEnds(const char (&field)[N]) {
  FUZZ_CHECK(memchr(field, 0, N) != nullptr);
}

std::set<std::string> NationNames() {
  std::set<std::string> names;
  for (int code = -1; code <= 99; code++) {
    char key[8] = "", out[64] = "";
    if (CodeTranslate(2, code, key, out) == 0) names.insert(out);
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::set<std::string> kNations = NationNames();
  std::vector<uint8_t> reply(data, data + size);  // exactly the reply's bytes
  IdText t;
  memset(&t, 0x5a, sizeof t);
  bool ok = portico::decodeIdReply(reply.data(), reply.size(), t);
  if (size < portico::kIdTextOffset + portico::kIdTextSize) {
    FUZZ_CHECK(!ok);
    for (size_t i = 0; i < sizeof t; i++) FUZZ_CHECK(reinterpret_cast<uint8_t *>(&t)[i] == 0x5a);
    return 0;
  }
  FUZZ_CHECK(ok);
  CheckEnds(t.name);
  CheckEnds(t.sex);
  CheckEnds(t.nation);
  CheckEnds(t.birth);
  CheckEnds(t.address);
  CheckEnds(t.number);
  CheckEnds(t.authority);
  CheckEnds(t.validStart);
  CheckEnds(t.validEnd);

  const uint8_t *r = reply.data();
  FUZZ_CHECK(t.name == Utf8Field(r, 0, 15, sizeof t.name));
  FUZZ_CHECK(t.address == Utf8Field(r, 26, 35, sizeof t.address));
  FUZZ_CHECK(t.authority == Utf8Field(r, 79, 15, sizeof t.authority));
  FUZZ_CHECK(ValidUtf8(t.name) && ValidUtf8(t.address) && ValidUtf8(t.authority));

  const std::string sex = t.sex;
  FUZZ_CHECK(sex.empty() || sex == "未知" || sex == "男" || sex == "女" || sex == "未说明");
  std::string code;
  if (AsciiField(r, 15, 1, &code)) {
    const char *want = code == "0" ? "未知" : code == "1" ? "男" : code == "2" ? "女" : code == "9" ? "未说明" : "";
    FUZZ_CHECK(sex == want);
  }
  FUZZ_CHECK(kNations.count(t.nation) == 1);

  FUZZ_CHECK(WholeGbk(t.birth) && WholeGbk(t.number) && WholeGbk(t.validStart) && WholeGbk(t.validEnd));
  std::string ascii;
  if (AsciiField(r, 18, 8, &ascii)) FUZZ_CHECK(ascii == t.birth);
  if (AsciiField(r, 61, 18, &ascii)) FUZZ_CHECK(ascii == t.number);
  FUZZ_CHECK(strlen(t.validStart) <= 8);
  if (AsciiField(r, 94, 17, &ascii)) {
    FUZZ_CHECK(ascii.compare(0, 8, t.validStart) == 0 && ascii.size() >= strlen(t.validStart));
    FUZZ_CHECK(ascii.substr(strlen(t.validStart)) == t.validEnd);
  }

  // Handed out to the caller's buffers of exactly their documented sizes.
  std::vector<std::vector<char>> bufs = {
      std::vector<char>(PORTICO_ID_NAME_SIZE),      std::vector<char>(PORTICO_ID_SEX_SIZE),
      std::vector<char>(PORTICO_ID_NATION_SIZE),    std::vector<char>(PORTICO_ID_BIRTH_SIZE),
      std::vector<char>(PORTICO_ID_ADDRESS_SIZE),   std::vector<char>(PORTICO_ID_NUMBER_SIZE),
      std::vector<char>(PORTICO_ID_AUTHORITY_SIZE), std::vector<char>(PORTICO_ID_VALID_START_SIZE),
      std::vector<char>(PORTICO_ID_VALID_END_SIZE)};
  char *outs[9];
  for (int i = 0; i < 9; i++) outs[i] = bufs[i].data();
  portico::deliver(t, outs);
  FUZZ_CHECK(strcmp(outs[0], t.name) == 0 && strcmp(outs[8], t.validEnd) == 0);
  return 0;
}
