// Decoding of the ID card text block and bounded copies of its fields.
#include "id_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Qmxtool.h"

namespace portico {

namespace {

// Fields of the text block in 16-bit code units (the block is 128 units).
struct Span {
  size_t first, count;
};
constexpr Span kName{0, 15}, kSexCode{15, 1}, kNationCode{16, 2}, kBirth{18, 8}, kAddress{26, 35},
    kNumber{61, 18}, kAuthority{79, 15},
    // validity start (8 units) and end (8 units) and the unit after them
    kValidity{94, 17};
constexpr size_t kMaxUnits = 35;

// One field's units followed by a terminating zero unit.
struct Units {
  unsigned short u[kMaxUnits + 1];
};

Units take(const unsigned short* block, Span s) {
  Units f{};
  std::memcpy(f.u, block + s.first, s.count * sizeof(unsigned short));
  f.u[s.count] = 0;
  return f;
}

size_t encodeUtf8(uint32_t c, char* b) {
  if (c < 0x80) {
    b[0] = char(c);
    return 1;
  }
  if (c < 0x800) {
    b[0] = char(0xC0 | (c >> 6));
    b[1] = char(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    b[0] = char(0xE0 | (c >> 12));
    b[1] = char(0x80 | ((c >> 6) & 0x3F));
    b[2] = char(0x80 | (c & 0x3F));
    return 3;
  }
  b[0] = char(0xF0 | (c >> 18));
  b[1] = char(0x80 | ((c >> 12) & 0x3F));
  b[2] = char(0x80 | ((c >> 6) & 0x3F));
  b[3] = char(0x80 | (c & 0x3F));
  return 4;
}

// UCS-2 (surrogate pairs accepted) to UTF-8, up to the zero unit. Straight
// to UTF-8 rather than through the GBK table, which holds only the unified
// ideographs and would drop the middle dot of minority names, full-width
// brackets and digits in addresses and the rarer ideographs.
void toUtf8(const Units& f, char* out, size_t cap) {
  size_t n = 0;
  for (size_t i = 0; f.u[i] != 0; ++i) {
    uint32_t c = f.u[i];
    if (c >= 0xD800 && c <= 0xDBFF && f.u[i + 1] >= 0xDC00 && f.u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (f.u[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    char b[4];
    size_t w = encodeUtf8(c, b);
    if (n + w >= cap) break;
    std::memcpy(out + n, b, w);
    n += w;
  }
  out[n] = '\0';
  tool_StrTrim(out);
}

// UCS-2 to GBK by the tool unit's table (digits and the validity end).
void toGbk(Units f, char* out, size_t cap) {
  int n = tool_UnicodeToGbk(f.u, out, int(cap - 1));
  out[n > 0 ? n : 0] = '\0';
  tool_StrTrim(out);
}

}  // namespace

size_t copyText(char* dst, size_t cap, const char* src, size_t len, Charset cs) {
  if (!dst || cap == 0) return 0;
  size_t n = 0;
  if (src) {
    if (cs == Charset::Utf8) {
      n = std::min(len, cap - 1);
      while (n > 0 && n < len && (uint8_t(src[n]) & 0xC0) == 0x80) --n;
    } else {
      while (n < len) {
        uint8_t lead = uint8_t(src[n]);
        size_t w = lead >= 0x81 && lead <= 0xFE && n + 1 < len ? 2 : 1;
        if (n + w > cap - 1) break;
        n += w;
      }
    }
    std::memmove(dst, src, n);
  }
  dst[n] = '\0';
  return n;
}

const char* sexName(const char* code) {
  if (!code || !code[0] || code[1]) return "";
  switch (code[0]) {
    case '0': return "未知";
    case '1': return "男";
    case '2': return "女";
    case '9': return "未说明";
    default: return "";
  }
}

bool decodeIdReply(const uint8_t* reply, size_t len, IdText& out) {
  if (!reply || len < kIdTextOffset + kIdTextSize) return false;
  // The tool unit's road: hex text, bytes of each unit swapped to big-endian
  // order, then 4-digit groups read as units.
  char err[64] = "";
  char hex[2 * kIdTextSize + 1] = "";
  char swapped[2 * kIdTextSize + 1] = "";
  unsigned short block[kIdTextSize / 2];
  char* text = reinterpret_cast<char*>(const_cast<uint8_t*>(reply + kIdTextOffset));
  if (StringToHex(text, int(kIdTextSize), hex, sizeof hex, err) != 0 ||
      tool_HexHLSwap(hex, int(2 * kIdTextSize), swapped) != 0 ||
      tool_HexToShort(swapped, int(2 * kIdTextSize), block) != 0)
    return false;

  IdText t{};
  char buf[4 * kMaxUnits + 1];
  toUtf8(take(block, kName), buf, sizeof buf);
  copyText(t.name, buf, std::strlen(buf), Charset::Utf8);

  toGbk(take(block, kSexCode), buf, sizeof buf);
  const char* sex = sexName(buf);
  copyText(t.sex, sex, std::strlen(sex), Charset::Utf8);

  toGbk(take(block, kNationCode), buf, sizeof buf);
  char scratch[8] = "";
  char nation[64] = "";
  CodeTranslate(2, std::atoi(buf), scratch, nation);
  copyText(t.nation, nation, std::strlen(nation), Charset::Utf8);

  toGbk(take(block, kBirth), buf, sizeof buf);
  copyText(t.birth, buf, std::strlen(buf), Charset::Gbk);
  toUtf8(take(block, kAddress), buf, sizeof buf);
  copyText(t.address, buf, std::strlen(buf), Charset::Utf8);
  toGbk(take(block, kNumber), buf, sizeof buf);
  copyText(t.number, buf, std::strlen(buf), Charset::Gbk);
  toUtf8(take(block, kAuthority), buf, sizeof buf);
  copyText(t.authority, buf, std::strlen(buf), Charset::Utf8);

  // The first 8 characters of the validity area are the start; whatever
  // follows is the end, kept whole ("长期" on long-term cards).
  toGbk(take(block, kValidity), buf, sizeof buf);
  size_t all = std::strlen(buf);
  size_t start = copyText(t.validStart, 9, buf, all, Charset::Gbk);
  copyText(t.validEnd, buf + start, all - start, Charset::Gbk);

  out = t;
  return true;
}

bool takeIdPhoto(const uint8_t* reply, size_t len, IdPhoto& out) {
  if (!reply || len < kIdTextOffset) return false;
  const size_t textLen = size_t(reply[10]) << 8 | reply[11];
  const size_t photoLen = size_t(reply[12]) << 8 | reply[13];
  if (photoLen > sizeof out.bytes || kIdTextOffset + textLen + photoLen > len) return false;
  std::memcpy(out.bytes, reply + kIdTextOffset + textLen, photoLen);
  out.len = photoLen;
  return true;
}

void deliver(const IdText& t, char* const outs[9]) {
  const char* const fields[9] = {t.name,   t.sex,       t.nation,     t.birth,   t.address,
                                 t.number, t.authority, t.validStart, t.validEnd};
  for (int i = 0; i < 9; ++i)
    if (outs[i]) std::memcpy(outs[i], fields[i], std::strlen(fields[i]) + 1);
}

}  // namespace portico
