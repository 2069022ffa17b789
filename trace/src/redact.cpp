#include "redact.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

namespace hwtrace {

namespace {

constexpr size_t kSamHead = 10;  // AA AA AA 96 69, LEN (2), SW1 SW2 SW3

// Text, possibly padded with zero bytes at its end.
bool text(const uint8_t* p, size_t n) {
  size_t end = n;
  while (end > 0 && p[end - 1] == 0x00) --end;
  if (end == 0) return false;
  for (size_t i = 0; i < end; ++i)
    if (p[i] < 0x20) return false;
  return true;
}

Bytes hexText(const uint8_t* p, size_t n) {
  static const char d[] = "0123456789ABCDEF";
  Bytes h;
  for (size_t i = 0; i < n; ++i) h.insert(h.end(), {uint8_t(d[p[i] >> 4]), uint8_t(d[p[i] & 15])});
  return h;
}

// A value may come back in a command as it was read or written out in hex.
void remember(const uint8_t* orig, const uint8_t* now, size_t n, Substitutions& subs) {
  // Short values would match by chance in unrelated commands.
  if (n < 4 || std::equal(orig, orig + n, now)) return;
  subs.emplace_back(Bytes(orig, orig + n), Bytes(now, now + n));
  subs.emplace_back(hexText(orig, n), hexText(now, n));
}

// Text becomes spaces (its padding stays), anything else zero bytes.
void fill(uint8_t* p, size_t n, Substitutions& subs) {
  Bytes orig(p, p + n);
  if (text(p, n)) {
    for (size_t i = 0; i < n; ++i)
      if (p[i]) p[i] = 0x20;
  } else {
    std::fill(p, p + n, 0x00);
  }
  remember(orig.data(), p, n, subs);
}

// Numbers in BCD keep their separators (D, F) and get zero digits.
void fillDigits(uint8_t* p, size_t n, Substitutions& subs) {
  Bytes orig(p, p + n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t hi = p[i] >> 4, lo = p[i] & 15;
    p[i] = uint8_t((hi > 9 ? hi : 0) << 4 | (lo > 9 ? lo : 0));
  }
  remember(orig.data(), p, n, subs);
}

// Bank-card record objects that name or number the holder.
void redactBerTlv(uint8_t* p, size_t n, Substitutions& subs) {
  size_t i = 0;
  while (i < n) {
    if (p[i] == 0x00 || p[i] == 0xFF) {  // padding between objects
      ++i;
      continue;
    }
    unsigned tag = p[i];
    bool constructed = p[i] & 0x20;
    if ((p[i++] & 0x1F) == 0x1F)
      while (i < n) {
        tag = tag << 8 | p[i];
        if (!(p[i++] & 0x80)) break;
      }
    if (i >= n) return;
    size_t len = p[i++];
    if (len & 0x80) {
      size_t k = len & 0x7F;
      if (k > 2 || i + k > n) return;
      len = 0;
      while (k--) len = len << 8 | p[i++];
    }
    if (i + len > n) return;
    if (constructed) redactBerTlv(p + i, len, subs);
    else if (tag == 0x5A || tag == 0x57) fillDigits(p + i, len, subs);
    else if (tag == 0x5F20 || tag == 0x9F0B || tag == 0x9F61 || tag == 0x9F62 || tag == 0x9F1F || tag == 0x56)
      fill(p + i, len, subs);
    i += len;
  }
}

}  // namespace

void redactIdText(uint8_t* t, size_t n) {
  for (size_t i = 0; i + 1 < n; i += 2) {
    if ((i >= 30 && i < 36) || i >= 248) continue;  // sex and nation codes; card type
    t[i] = 0x20;
    t[i + 1] = 0x00;
  }
}

void redactAnswer(uint8_t nad, const Bytes& cause, Bytes& a, Substitutions& subs) {
  if (a.size() < 3) return;
  const size_t n = a.size() - 2;  // data before the status word
  const bool ok = a[n] == 0x90 && a[n + 1] == 0x00;
  if (nad == 0x1B) {
    // A SAM read frame: lengths, then text, photo (and fingerprint).
    if (!ok || cause.size() < 9 || cause[7] != 0x30 || n < kSamHead + 5 || a[0] != 0xAA) return;
    const bool fp = cause[8] == 0x10;
    size_t at = kSamHead, lens = fp ? 6 : 4;
    size_t t = size_t(a[at]) << 8 | a[at + 1], ph = size_t(a[at + 2]) << 8 | a[at + 3];
    size_t f = fp ? size_t(a[at + 4]) << 8 | a[at + 5] : 0;
    if (at + lens + t + ph + f + 1 != n) return;
    at += lens;
    redactIdText(&a[at], t);
    std::fill(a.begin() + long(at + t), a.begin() + long(at + t + ph + f), 0x00);
    uint8_t x = 0;
    for (size_t i = 5; i < n - 1; ++i) x ^= a[i];
    a[n - 1] = x;
    return;
  }
  if (!ok || cause.size() < 4) return;
  // Stripe tracks, QR codes and keys typed: digits zero, letters blank.
  if ((nad == 0x1A && cause[0] == 0x00 && cause[1] == 0xB0) || (nad == 0x1C && cause[1] == 0xB0) ||
      (nad == 0x00 && cause[1] == 0xF9 && cause[2] == 0x08)) {
    Bytes orig(a.begin(), a.begin() + long(n));
    for (size_t i = 0; i < n; ++i)
      if (a[i] >= '0' && a[i] <= '9') a[i] = '0';
      else if ((a[i] >= 'A' && a[i] <= 'Z') || (a[i] >= 'a' && a[i] <= 'z')) a[i] = ' ';
    remember(orig.data(), a.data(), n, subs);
    return;
  }
  if (nad < 0x12 || nad > 0x19 || cause[1] != 0xB2) return;
  if (n >= 2 && a[0] == cause[2] && size_t(a[1]) + 2 == n) {
    // A social-security record: number, length, value. The card type,
    // version, sex and nation codes steer the reading and name no one.
    uint8_t rec = a[0];
    if (rec != 0x02 && rec != 0x03 && rec != 0x0A && rec != 0x0B) fill(&a[2], n - 2, subs);
    return;
  }
  redactBerTlv(a.data(), n, subs);
}

bool substitute(Bytes& cmd, const Substitutions& subs) {
  bool changed = false;
  for (const auto& s : subs) {
    auto it = cmd.begin();
    while ((it = std::search(it, cmd.end(), s.first.begin(), s.first.end())) != cmd.end()) {
      std::copy(s.second.begin(), s.second.end(), it);
      it += long(s.second.size());
      changed = true;
    }
  }
  return changed;
}

namespace {

const char kHex[] = "0123456789ABCDEF";

bool unhex(const char* s, Bytes& out) {
  out.clear();
  if (!s) return false;  // a missing member stays missing
  size_t n = strlen(s);
  if (n % 2) return false;
  for (size_t i = 0; i < n; i += 2) {
    auto v = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
    int hi = v(s[i]), lo = v(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(uint8_t(hi << 4 | lo));
  }
  return true;
}

std::string hex(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

const char* str(cJSON* o, const char* k) {
  cJSON* v = cJSON_GetObjectItemCaseSensitive(o, k);
  return cJSON_IsString(v) ? v->valuestring : nullptr;
}

double num(cJSON* o, const char* k) {
  cJSON* v = cJSON_GetObjectItemCaseSensitive(o, k);
  return cJSON_IsNumber(v) && v->valuedouble >= -1e15 && v->valuedouble <= 1e15 ? v->valuedouble : 0;
}

void markHolderData(cJSON* o) {
  if (!cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(o, "holder_data"))) {
    cJSON_DeleteItemFromObjectCaseSensitive(o, "holder_data");
    cJSON_AddTrueToObject(o, "holder_data");
  }
}

void setHex(cJSON* o, const char* k, const Bytes& b) {
  cJSON* v = cJSON_CreateString(hex(b.data(), b.size()).c_str());
  if (v && !cJSON_ReplaceItemInObjectCaseSensitive(o, k, v)) cJSON_Delete(v);
}

// One command or answer of the USB-HID family, gathered from its reports:
// where each data byte sits, so that edits go back in place.
struct Message {
  uint8_t nad = 0;
  Bytes bytes;
  std::vector<std::pair<size_t, size_t>> where;  // (event index, byte in its data)
};

struct HidDev {
  Message in, out;
  bool inOpen = false, outOpen = false;
};

void addReport(std::vector<Bytes>& data, size_t ev, bool write, Message& m, bool& open) {
  const Bytes& r = data[ev];
  size_t b = write && r.size() == 65 && r[0] == 0 ? 1 : 0;
  if (r.size() < b + 3) return;
  size_t count = std::min<size_t>(r[b + 2], r.size() - b - 3);
  if (!open) m = Message(), m.nad = r[b];
  for (size_t i = 0; i < count; ++i) {
    m.bytes.push_back(r[b + 3 + i]);
    m.where.emplace_back(ev, b + 3 + i);
  }
  open = r[b + 1] & 0x20;
}

void putBack(std::vector<Bytes>& data, std::vector<bool>& touched, const Message& m) {
  for (size_t i = 0; i < m.bytes.size(); ++i) {
    data[m.where[i].first][m.where[i].second] = m.bytes[i];
    touched[m.where[i].first] = true;
  }
}

}  // namespace

bool redactTrace(const std::string& in, std::string& out, std::string& err) {
  std::vector<cJSON*> ev;
  std::vector<std::string> blank;  // lines kept as they are (empty ones)
  std::istringstream lines(in);
  int lineNo = 0;
  bool good = true;
  for (std::string line; std::getline(lines, line);) {
    ++lineNo;
    cJSON* o = cJSON_Parse(line.c_str());
    if (!cJSON_IsObject(o)) {
      cJSON_Delete(o);
      err = "line " + std::to_string(lineNo) + " is no JSON object";
      good = false;
      break;
    }
    ev.push_back(o);
  }
  if (good) {
    std::vector<Bytes> data(ev.size());
    std::vector<bool> touched(ev.size(), false);
    std::map<long, HidDev> devs;
    std::map<uint8_t, Bytes> cause;  // per unit: the last command that was no GET RESPONSE
    Substitutions subs;
    for (size_t i = 0; i < ev.size(); ++i) {
      cJSON* o = ev[i];
      const char* e = str(o, "ev");
      std::string name = e ? e : "";
      if (cJSON_GetObjectItemCaseSensitive(o, "trace")) {
        cJSON_DeleteItemFromObjectCaseSensitive(o, "redacted");
        cJSON_AddTrueToObject(o, "redacted");
      } else if ((name == "write" || name == "read") && num(o, "result") > 0 && unhex(str(o, "data"), data[i])) {
        HidDev& d = devs[long(num(o, "dev"))];
        bool w = name == "write";
        Message& m = w ? d.out : d.in;
        bool& open = w ? d.outOpen : d.inOpen;
        addReport(data, i, w, m, open);
        if (open) continue;
        if (w) {
          substitute(m.bytes, subs);
          if (!subs.empty() && m.bytes.size() > 5) markHolderData(o);
          putBack(data, touched, m);
          if (m.bytes.size() < 2 || m.bytes[1] != 0xC0) cause[m.nad] = m.bytes;
        } else {
          redactAnswer(m.nad, cause[m.nad], m.bytes, subs);
          putBack(data, touched, m);
        }
      } else if (name == "dc_cpuapdu" || name == "dc_pro_command") {
        Bytes cmd, ans;
        uint8_t nad = name == "dc_cpuapdu" ? 0x12 : 0x15;
        if (!unhex(str(o, "cmd"), cmd) || !unhex(str(o, "out"), ans)) continue;
        substitute(cmd, subs);
        if (!subs.empty() && cmd.size() > 5) markHolderData(o);
        setHex(o, "cmd", cmd);
        if (cmd.size() < 2 || cmd[1] != 0xC0) cause[nad] = cmd;
        redactAnswer(nad, cause[nad], ans, subs);
        setHex(o, "out", ans);
      } else if (name == "dc_SamAReadCardInfo") {
        Bytes t, p, f;
        if (!unhex(str(o, "text"), t) || !unhex(str(o, "photo"), p) || !unhex(str(o, "fp"), f)) continue;
        redactIdText(t.data(), t.size());
        std::fill(p.begin(), p.end(), 0);
        std::fill(f.begin(), f.end(), 0);
        setHex(o, "text", t);
        setHex(o, "photo", p);
        setHex(o, "fp", f);
      }
    }
    for (size_t i = 0; i < ev.size(); ++i)
      if (touched[i]) setHex(ev[i], "data", data[i]);
    out.clear();
    for (cJSON* o : ev) {
      char* t = cJSON_PrintUnformatted(o);
      if (t) out += t;
      out += '\n';
      cJSON_free(t);
    }
  }
  for (cJSON* o : ev) cJSON_Delete(o);
  return good;
}

}  // namespace hwtrace
