#include "profile.h"

#include <cjson/cJSON.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "bankcard.h"
#include "memcards.h"
#include "sscard.h"
#include "textconv.h"

#ifndef VREADER_PROFILE_DIR
#define VREADER_PROFILE_DIR ""
#endif

namespace vr {
namespace {

// Master keys of the demo cards; a profile names its own for other pairs.
const char kDemoKeyInt[] = "4B45592D494E542D534F4349414C2D31";
const char kDemoKeyExt[] = "4B45592D4558542D534F4349414C2D31";
const char kDemoBankKey[] = "0123456789ABCDEFFEDCBA9876543210";

struct Ctx {
  std::string err;
  bool fail(const std::string& where, const std::string& what) {
    if (err.empty()) err = where + ": " + what;
    return false;
  }
};

std::string str(const cJSON* o, const char* key, const std::string& def = "") {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, key);
  return cJSON_IsString(v) ? std::string(v->valuestring) : def;
}

bool has(const cJSON* o, const char* key) { return cJSON_GetObjectItemCaseSensitive(o, key) != nullptr; }

bool boolean(const cJSON* o, const char* key, bool def) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, key);
  if (cJSON_IsBool(v)) return cJSON_IsTrue(v);
  return def;
}

int integer(const cJSON* o, const char* key, int def) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, key);
  return cJSON_IsNumber(v) ? v->valueint : def;
}

bool hexOf(Ctx& c, const std::string& where, const cJSON* o, const char* key, Bytes& out,
           const char* def, size_t len = 0) {
  std::string s = str(o, key, def ? def : "");
  if (!has(o, key) && !def) return c.fail(where, std::string("missing ") + key);
  if (!fromHex(s, out)) return c.fail(where, std::string(key) + " is not hex");
  if (len && out.size() != len) return c.fail(where, std::string(key) + " must be " + std::to_string(len) + " bytes");
  return true;
}

bool keyOf(Ctx& c, const std::string& where, const cJSON* o, const char* key, const char* def,
           crypto::Key& k) {
  std::string s = str(o, key, def);
  if (!crypto::keyFromHex(s, k)) return c.fail(where, std::string(key) + " must be 32 hex digits");
  return true;
}

bool base64(const std::string& in, Bytes& out) {
  std::string s;
  for (char ch : in)
    if (!isspace(static_cast<unsigned char>(ch))) s.push_back(ch);
  if (s.size() % 4) return false;
  out.assign(s.size() / 4 * 3 + 1, 0);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(s.data()), int(s.size()));
  if (n < 0) return false;
  size_t pad = 0;
  if (!s.empty() && s.back() == '=') ++pad;
  if (s.size() > 1 && s[s.size() - 2] == '=') ++pad;
  out.resize(size_t(n) - pad);
  return true;
}

// Packs 2n decimal digits into n BCD bytes.
bool bcd(const std::string& digits, size_t n, Bytes& out) {
  if (digits.size() != n * 2) return false;
  for (char ch : digits)
    if (ch < '0' || ch > '9') return false;
  return fromHex(digits, out);
}

Bytes padded(const std::string& s, size_t n) {
  Bytes b(s.begin(), s.end());
  b.resize(n, 0x00);
  return b;
}

bool parseSs(Ctx& c, const std::string& w, const cJSON* o, CardSpec& spec) {
  SsCardData d;
  if (!hexOf(c, w, o, "atr", d.atr, "3B6C00000A1A2B3C4D5E6F708192A3B4C5D6")) return false;
  // Shorter than 8 bytes is allowed so that hosts can be tried on an ATR
  // without the tail their authentication needs.
  if (d.atr.size() < 2 || d.atr.size() > 33) return c.fail(w, "atr must be 2 to 33 bytes");
  d.generation = integer(o, "generation", 3);
  if (d.generation < 1 || d.generation > 3) return c.fail(w, "generation must be 1, 2 or 3");
  d.fciTag86 = boolean(o, "fci_tag86", d.generation != 1);
  d.t0 = boolean(o, "t0", true);
  d.appDigits = str(o, "app_digits", std::string("1") + char('0' + d.generation));
  if (!keyOf(c, w, o, "key_internal", kDemoKeyInt, d.masterInt)) return false;
  if (!keyOf(c, w, o, "key_external", kDemoKeyExt, d.masterExt)) return false;
  Bytes v;
  if (!hexOf(c, w, o, "cert_id", v, nullptr, 16)) return false;
  d.ef05[0x01] = v;
  std::string cardType = str(o, "card_type", "3");
  if (cardType.size() != 1) return c.fail(w, "card_type must be one character");
  d.ef05[0x02] = Bytes(cardType.begin(), cardType.end());
  std::string ver = str(o, "version", "3.00");
  d.ef05[0x03] = ver == "1.0" ? Bytes(4, 0x00) : padded(ver, 4);
  if (!hexOf(c, w, o, "init_org", v, "D15600000500000000000001", 12)) return false;
  d.ef05[0x04] = v;
  if (!bcd(str(o, "issue_date", "20210301"), 4, v)) return c.fail(w, "issue_date must be 8 digits");
  d.ef05[0x05] = v;
  if (!bcd(str(o, "expiry_date", "20310301"), 4, v)) return c.fail(w, "expiry_date must be 8 digits");
  d.ef05[0x06] = v;
  std::string cardNo = str(o, "card_no");
  if (cardNo.empty() || cardNo.size() > 32) return c.fail(w, "card_no missing or too long");
  d.ef05[0x07] = Bytes(cardNo.begin(), cardNo.end());
  std::string social = str(o, "social_no");
  if (social.size() != 18) return c.fail(w, "social_no must be 18 characters");
  if (boolean(o, "check_digit", true) && !idNumberValid(social))
    return c.fail(w, "social_no has a wrong check digit");
  d.ef06[0x08] = Bytes(social.begin(), social.end());
  std::string gbk;
  if (!text::utf8ToGbk(str(o, "name"), gbk) || gbk.size() > 30) return c.fail(w, "name not GBK or longer than 30 bytes");
  d.ef06[0x09] = padded(gbk, 30);
  if (has(o, "name_ext")) {
    if (!text::utf8ToGbk(str(o, "name_ext"), gbk) || gbk.size() > 20) return c.fail(w, "name_ext too long");
    d.ef06[0x4E] = padded(gbk, 20);
  }
  std::string sex = str(o, "sex", "1");
  if (sex.size() != 1) return c.fail(w, "sex must be one character");
  d.ef06[0x0A] = Bytes(sex.begin(), sex.end());
  int nation = integer(o, "nation", 1);
  if (nation < 0 || nation > 255) return c.fail(w, "nation out of range");
  d.ef06[0x0B] = Bytes{static_cast<uint8_t>(nation)};
  if (!bcd(str(o, "birth_place", social.substr(0, 6)), 3, v)) return c.fail(w, "birth_place must be 6 digits");
  d.ef06[0x0C] = v;
  if (!bcd(str(o, "birth_date", social.substr(6, 8)), 4, v)) return c.fail(w, "birth_date must be 8 digits");
  d.ef06[0x0D] = v;
  // Raw record overrides: {"EF05": {"07": "hex"}}; an empty value removes the record.
  const cJSON* raw = cJSON_GetObjectItemCaseSensitive(o, "records");
  for (const char* ef : {"EF05", "EF06"}) {
    const cJSON* file = raw ? cJSON_GetObjectItemCaseSensitive(raw, ef) : nullptr;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, file) {
      Bytes id, val;
      if (!fromHex(item->string, id) || id.size() != 1 || !cJSON_IsString(item) ||
          !fromHex(item->valuestring, val))
        return c.fail(w, std::string("records.") + ef + " entries must be hex");
      auto& recs = ef[3] == '5' ? d.ef05 : d.ef06;
      if (val.empty())
        recs.erase(id[0]);
      else
        recs[id[0]] = val;
    }
  }
  spec.make = [d] { return std::unique_ptr<Card>(new SsCard(d)); };
  return true;
}

bool parsePsam(Ctx& c, const std::string& w, const cJSON* o, CardSpec& spec) {
  Bytes atr, serial;
  if (!hexOf(c, w, o, "atr", atr, "3B6A00008131FE450031C8730000")) return false;
  if (!hexOf(c, w, o, "serial", serial, "00000000000000000001")) return false;
  if (serial.size() > 30) return c.fail(w, "serial longer than 30 bytes");
  crypto::Key ki, ke;
  if (!keyOf(c, w, o, "key_internal", kDemoKeyInt, ki) || !keyOf(c, w, o, "key_external", kDemoKeyExt, ke))
    return false;
  std::string digits = str(o, "generations", "123");
  for (char ch : digits)
    if (ch < '1' || ch > '9') return c.fail(w, "generations must be digits");
  bool t0 = boolean(o, "t0", true);
  spec.make = [=] { return std::unique_ptr<Card>(new Psam(atr, digits, ki, ke, serial, t0)); };
  return true;
}

bool parseBank(Ctx& c, const std::string& w, const cJSON* o, CardSpec& spec) {
  BankCardData d;
  BankCardFields f;
  if (!hexOf(c, w, o, "atr", d.atr, "3B6900008131FE454A434F50323156")) return false;
  d.t0 = boolean(o, "t0", true);
  d.pse = boolean(o, "pse", true);
  d.qpboc = boolean(o, "qpboc", false);
  if (!hexOf(c, w, o, "aid", d.aid, "A000000333010101")) return false;
  if (d.aid.size() < 5 || d.aid.size() > 16) return c.fail(w, "aid must be 5 to 16 bytes");
  d.label = str(o, "label", "PBOC DEBIT");
  if (!hexOf(c, w, o, "pdol", d.pdol, "9F66049F02069F03069F1A0295055F2A029A039C019F3704")) return false;
  if (!hexOf(c, w, o, "cdol1", d.cdol1,
             "9F02069F03069F1A0295055F2A029A039C019F37049F21039F4E14"))
    return false;
  if (!hexOf(c, w, o, "cdol2", d.cdol2, "8A029F02069F03069F1A0295055F2A029A039C019F3704")) return false;
  if (!hexOf(c, w, o, "aip", d.aip, "7C00", 2)) return false;
  d.gpoFormat = integer(o, "gpo_format", 2);
  if (d.gpoFormat != 1 && d.gpoFormat != 2) return c.fail(w, "gpo_format must be 1 or 2");
  if (!keyOf(c, w, o, "key", kDemoBankKey, d.key)) return false;
  d.pin = str(o, "pin", "123456");
  f.pan = str(o, "pan");
  if (f.pan.size() < 12 || f.pan.size() > 19 || f.pan.find_first_not_of("0123456789") != std::string::npos)
    return c.fail(w, "pan must be 12 to 19 digits");
  f.expiry = str(o, "expiry", "3012");
  f.effective = str(o, "effective", "2012");
  f.serviceCode = str(o, "service_code", "220");
  f.discretionary = str(o, "discretionary", "00000");
  f.name = str(o, "name");
  f.panSeq = str(o, "pan_seq", "01");
  f.holderId = str(o, "holder_id");
  for (const std::string* s : {&f.expiry, &f.effective, &f.serviceCode, &f.discretionary, &f.panSeq})
    if (s->find_first_not_of("0123456789") != std::string::npos) return c.fail(w, "dates and codes must be digits");
  if (f.expiry.size() != 4 || f.effective.size() != 4) return c.fail(w, "expiry and effective are YYMM");
  buildBankRecords(f, d);
  d.data[0x9F79] = hx("000000010000");
  d.data[0x9F77] = hx("000000100000");
  d.data[0x9F78] = hx("000000100000");
  d.data[0x9F6D] = hx("000000000000");
  d.data[0x9F51] = hx("0156");
  d.data[0x9F13] = hx("0000");
  d.logFormat = hx("9A039F21039F02069F03069F1A025F2A029F4E149C019F3602");
  const cJSON* extra = cJSON_GetObjectItemCaseSensitive(o, "data");
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, extra) {
    Bytes tag, val;
    if (!fromHex(item->string, tag) || tag.empty() || tag.size() > 2 || !cJSON_IsString(item) ||
        !fromHex(item->valuestring, val))
      return c.fail(w, "data entries must be hex tag: hex value");
    d.data[tag.size() == 2 ? unsigned(tag[0]) << 8 | tag[1] : tag[0]] = val;
  }
  spec.make = [d] { return std::unique_ptr<Card>(new BankCard(d)); };
  return true;
}

bool parseMemory(Ctx& c, const std::string& w, const cJSON* o, CardSpec& spec) {
  Bytes atr, content, pin;
  if (!hexOf(c, w, o, "atr", atr, "A2131091") || !hexOf(c, w, o, "content", content, "") ||
      !hexOf(c, w, o, "pin", pin, "FFFFFF", 3))
    return false;
  if (content.size() > 256) return c.fail(w, "content longer than 256 bytes");
  spec.make = [=] { return std::unique_ptr<Card>(new MemoryCard(atr, content, pin)); };
  return true;
}

bool parseMifare(Ctx& c, const std::string& w, const cJSON* o, CardSpec& spec) {
  Bytes uid;
  if (!hexOf(c, w, o, "uid", uid, "A1B2C3D4", 4)) return false;
  Bytes blocks;
  const cJSON* b = cJSON_GetObjectItemCaseSensitive(o, "blocks");
  const cJSON* item = nullptr;
  std::map<int, Bytes> set;
  cJSON_ArrayForEach(item, b) {
    char* end = nullptr;
    long n = strtol(item->string, &end, 10);
    Bytes v;
    if (*end || n < 1 || n > 63 || !cJSON_IsString(item) || !fromHex(item->valuestring, v) || v.size() != 16)
      return c.fail(w, "blocks entries are \"1\"..\"63\": 32 hex digits");
    set[int(n)] = v;
  }
  spec.make = [uid, set] {
    auto card = std::unique_ptr<MifareCard>(new MifareCard(uid, Bytes()));
    Bytes all(64 * 16);
    for (int i = 0; i < 64; ++i) std::memcpy(&all[i * 16], card->block(i), 16);
    for (auto& kv : set) std::memcpy(&all[kv.first * 16], kv.second.data(), 16);
    return std::unique_ptr<Card>(new MifareCard(uid, all));
  };
  return true;
}

bool parseId(Ctx& c, const std::string& w, const cJSON* o, CardSpec& spec) {
  auto d = std::make_shared<IdCardData>();
  d->name = str(o, "name");
  d->sex = str(o, "sex", "1");
  d->nation = str(o, "nation", "01");
  d->birth = str(o, "birth");
  d->address = str(o, "address");
  d->number = str(o, "number");
  d->authority = str(o, "authority");
  d->start = str(o, "start");
  d->end = str(o, "end");
  d->type = str(o, "card_type");
  d->enName = str(o, "en_name");
  d->country = str(o, "country");
  d->version = str(o, "version", "01");
  d->pass = str(o, "pass");
  d->count = str(o, "count", "01");
  if (d->type != "" && d->type != "I" && d->type != "J") return c.fail(w, "card_type must be \"\", \"I\" or \"J\"");
  if (d->type != "I" && boolean(o, "check_digit", true) && !idNumberValid(d->number))
    return c.fail(w, "number has a wrong check digit");
  Bytes block;
  std::string bad;
  if (!buildIdText(*d, block, &bad)) return c.fail(w, bad + " does not fit its field");
  if (has(o, "photo")) {
    if (!base64(str(o, "photo"), d->photo) || d->photo.size() > idtext::kPhotoSize)
      return c.fail(w, "photo must be base64 of at most 1024 bytes");
  }
  if (d->photo.empty()) {
    // A stand-in photo record: deterministic bytes derived from the number.
    uint32_t x = 2166136261u;
    for (char ch : d->number) x = (x ^ uint8_t(ch)) * 16777619u;
    for (size_t i = 0; i < idtext::kPhotoSize; ++i) {
      x = x * 1103515245u + 12345u;
      d->photo.push_back(static_cast<uint8_t>(x >> 16));
    }
  }
  d->photo.resize(idtext::kPhotoSize, 0);
  if (has(o, "fingerprint") &&
      (!base64(str(o, "fingerprint"), d->fingerprint) || d->fingerprint.size() > 1024))
    return c.fail(w, "fingerprint must be base64 of at most 1024 bytes");
  spec.id = d;
  return true;
}

}  // namespace

bool parseProfile(const std::string& json, Profile& out, std::string& err) {
  Ctx c;
  cJSON* root = cJSON_ParseWithLength(json.data(), json.size());
  if (!root || !cJSON_IsObject(root)) {
    cJSON_Delete(root);
    err = "profile is not a JSON object";
    return false;
  }
  Profile p;
  const cJSON* reader = cJSON_GetObjectItemCaseSensitive(root, "reader");
  if (reader) {
    p.version = str(reader, "version", p.version);
    p.serial = str(reader, "serial", p.serial);
    if (p.version.size() > 60) c.fail("reader", "version longer than 60 bytes");
    if (p.serial.size() > 20) c.fail("reader", "serial longer than 20 bytes");
  }
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(root, "cards")) {
    std::string name = item->string ? item->string : "";
    std::string w = "cards." + name;
    if (name.empty() || name.find_first_of(" \t\r\n=") != std::string::npos) {
      c.fail(w, "card names must be non-empty words");
      break;
    }
    CardSpec spec;
    spec.kind = str(item, "type");
    bool ok;
    if (spec.kind == "social_security") ok = parseSs(c, w, item, spec);
    else if (spec.kind == "psam") ok = parsePsam(c, w, item, spec);
    else if (spec.kind == "pboc") ok = parseBank(c, w, item, spec);
    else if (spec.kind == "memory") ok = parseMemory(c, w, item, spec);
    else if (spec.kind == "mifare") ok = parseMifare(c, w, item, spec);
    else if (spec.kind == "idcard") ok = parseId(c, w, item, spec);
    else ok = c.fail(w, "unknown type \"" + spec.kind + "\"");
    if (!ok) break;
    p.cards[name] = spec;
  }
  cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(root, "stripes")) {
    Stripe s{str(item, "track1"), str(item, "track2"), str(item, "track3")};
    if (s.track1.size() > 79 || s.track2.size() > 40 || s.track3.size() > 107) {
      c.fail(std::string("stripes.") + item->string, "track longer than the stripe holds");
      break;
    }
    p.stripes[item->string] = s;
  }
  cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(root, "qrcodes")) {
    if (!cJSON_IsString(item) || std::strlen(item->valuestring) > 1024) {
      c.fail(std::string("qrcodes.") + item->string, "must be a text of at most 1024 bytes");
      break;
    }
    p.qrcodes[item->string] = item->valuestring;
  }
  cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(root, "slots")) {
    if (!cJSON_IsString(item)) {
      c.fail(std::string("slots.") + item->string, "must name a card");
      break;
    }
    if (!p.cards.count(item->valuestring)) {
      c.fail(std::string("slots.") + item->string, std::string("no card named ") + item->valuestring);
      break;
    }
    static const char* const kSlots[] = {"contact", "esam",  "tsam",  "contactless", "psam1",
                                         "psam2",   "psam3", "psam4", "idcard"};
    std::string slot = item->string;
    if (std::find(std::begin(kSlots), std::end(kSlots), slot) == std::end(kSlots)) {
      c.fail("slots." + slot, "unknown slot");
      break;
    }
    if ((slot == "idcard") != (p.cards[item->valuestring].kind == "idcard")) {
      c.fail("slots." + slot, "ID cards go on the idcard antenna and nowhere else");
      break;
    }
    p.slots[item->string] = item->valuestring;
  }
  cJSON_Delete(root);
  if (!c.err.empty()) {
    err = c.err;
    return false;
  }
  out = std::move(p);
  return true;
}

static bool isFile(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string resolveProfilePath(const std::string& name) {
  if (name.find('/') != std::string::npos || isFile(name)) return name;
  std::string file = name;
  if (file.size() < 5 || file.compare(file.size() - 5, 5, ".json") != 0) file += ".json";
  // Installed layout: <prefix>/bin/vreader and <prefix>/share/vreader/profiles.
  std::string installed;
  char exe[512];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string e(exe, size_t(n));
    installed = e.substr(0, e.find_last_of('/')) + "/../share/vreader/profiles";
  }
  const char* dirs[] = {getenv("VREADER_PROFILE_DIR"), installed.c_str(), VREADER_PROFILE_DIR};
  for (const char* dir : dirs) {
    if (dir && *dir && isFile(std::string(dir) + "/" + file)) return std::string(dir) + "/" + file;
  }
  return name;
}

bool loadProfile(const std::string& nameOrPath, Profile& out, std::string& err) {
  std::string path = resolveProfilePath(nameOrPath);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = "cannot read profile " + path;
    return false;
  }
  std::ostringstream ss;
  char buf[65536];
  size_t total = 0;
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    total += size_t(in.gcount());
    if (total > (4u << 20)) {
      err = "profile larger than 4 MiB";
      return false;
    }
    ss.write(buf, in.gcount());
  }
  return parseProfile(ss.str(), out, err);
}

}  // namespace vr
