// The kernel's shared steps.
#include "kernel.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>

#include <type_traits>

#include "hexconv.h"

namespace payterm {

namespace {

const char kPse[] = "1PAY.SYS.DDF01";
const char kPpse[] = "2PAY.SYS.DDF01";

const char* const kBuiltinAids[] = {
    "A0000000031010",     "A0000000032010",     "A0000000032020",     "A0000000033010",
    "A000000003000000",   "A00000000300037561", "A00000000305076010", "A000000003101001",
    "A000000003101002",   "A0000000034010",     "A0000000035010",     "A000000003534441",
    "A0000000035350",     "A000000003535041",   "A0000000036010",     "A0000000036020",
    "A0000000038002",     "A0000000038010",     "A0000000039010",     "A000000003999910",
};

// 12 bytes of GBK text ("测试商户名称"), zero-padded to the object's 20.
const uint8_t kMerchant[20] = {0xB2, 0xE2, 0xCA, 0xD4, 0xC9, 0xCC, 0xBB, 0xA7, 0xC3, 0xFB,
                               0xB3, 0xC6, 0,    0,    0,    0,    0,    0,    0,    0};

constexpr int kMaxCandidates = 32;
constexpr int kMaxDirectoryDepth = 4;
constexpr int kMaxDirectoryRecords = 254;
// Directories one selection may open in all: a card whose directories
// keep naming directories must not hold the caller.
constexpr int kMaxDirectories = 16;
// Records one call reads through the AFL.
constexpr int kMaxAflRecords = 255;

struct Candidate {
  uint8_t aid[16];
  size_t len;
  uint8_t priority;
};

struct Candidates {
  Candidate item[kMaxCandidates];
  int count = 0;
  int directories = 0;
};

uint8_t g_rid[5];
char g_aid_text[33];

uint8_t bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); }

int select_name(const uint8_t* name, size_t n, Reply* r) {
  if (n == 0 || n > 16) return PAYTERM_E_CARD_DATA;
  uint8_t cmd[22] = {0x00, 0xA4, 0x04, 0x00, static_cast<uint8_t>(n)};
  memcpy(cmd + 5, name, n);
  cmd[5 + n] = 0x00;
  return exchange(cmd, n + 6, r);
}

int read_record(uint8_t sfi, uint8_t rec, Reply* r) {
  const uint8_t cmd[5] = {0x00, 0xB2, rec, static_cast<uint8_t>(sfi << 3 | 4), 0x00};
  return exchange(cmd, sizeof cmd, r);
}

void add_candidate(Candidates* c, const Tlv& aid, const Tlv* prio) {
  if (c->count >= kMaxCandidates || aid.len == 0 || aid.len > 16) return;
  Candidate& e = c->item[c->count++];
  memcpy(e.aid, aid.value, aid.len);
  e.len = aid.len;
  e.priority = prio != nullptr && prio->len > 0 ? prio->value[0] : 0;
}

// Reads the directory selected by name: every record of its SFI, adding
// applications and descending into directory entries. False when nothing
// was selected (the card's current selection is unchanged).
bool read_directory(const uint8_t* name, size_t nameLen, Candidates* c, int depth) {
  Reply r;
  if (depth >= kMaxDirectoryDepth || ++c->directories > kMaxDirectories) return false;
  if (select_name(name, nameLen, &r) != 0) return true;
  Tlv sfi;
  if (!tlv_find(r.buf, r.len, 0x88, &sfi) || sfi.len != 1) return true;
  const uint8_t s = sfi.value[0];
  for (int rec = 1; rec <= kMaxDirectoryRecords; ++rec) {
    if (read_record(s, static_cast<uint8_t>(rec), &r) != 0) break;
    // Copy: a directory entry below reuses the answer buffer.
    uint8_t data[PAYTERM_APDU_RESP_MAX];
    size_t n = r.len;
    memcpy(data, r.buf, n);
    Tlv tpl;
    if (!tlv_find(data, n, 0x70, &tpl)) continue;
    size_t pos = 0;
    Tlv e;
    while (tlv_next(tpl.value, tpl.len, &pos, &e) == 1) {
      if (e.tag != 0x61) continue;
      Tlv aid, prio, ddf;
      if (tlv_find(e.value, e.len, 0x4F, &aid)) {
        add_candidate(c, aid, tlv_find(e.value, e.len, 0x87, &prio) ? &prio : nullptr);
      } else if (tlv_find(e.value, e.len, 0x9D, &ddf) && ddf.len <= 16 &&
                 read_directory(ddf.value, ddf.len, c, depth + 1)) {
        // Back to this directory before its next record is read.
        if (select_name(name, nameLen, &r) != 0) return true;
      }
    }
  }
  return true;
}

// Selects aid and keeps what the rest of the dialogue needs.
int choose(Application* app, const uint8_t* aid, size_t len) {
  Reply r;
  int rc = select_name(aid, len, &r);
  if (rc != 0) return rc;
  memcpy(app->fci, r.buf, r.len);
  app->fciLen = r.len;
  Tlv df;
  if (tlv_find(app->fci, app->fciLen, 0x84, &df) && df.len >= 5 && df.len <= 16) {
    memcpy(app->aid, df.value, df.len);
    app->aidLen = df.len;
  } else {
    memcpy(app->aid, aid, len);
    app->aidLen = len;
  }
  app->builtin = false;
  uint8_t b[16];
  for (const char* text : kBuiltinAids) {
    size_t bl = strlen(text) / 2;
    from_hex(text, bl, b);
    if (bl >= app->aidLen && memcmp(b, app->aid, app->aidLen) == 0) app->builtin = true;
  }
  memcpy(g_rid, app->aid, 5);
  std::string t = hex_text(app->aid, app->aidLen);
  snprintf(g_aid_text, sizeof g_aid_text, "%s", t.c_str());
  d_printf("AID %s\n", g_aid_text);
  return 0;
}

int select_first_builtin(Application* app) {
  uint8_t b[16];
  size_t bl = strlen(kBuiltinAids[0]) / 2;
  from_hex(kBuiltinAids[0], bl, b);
  int rc = choose(app, b, bl);
  if (rc == 0) app->builtin = true;
  return rc;
}

int select_from(Application* app, const Candidates& c) {
  return choose(app, c.item[0].aid, c.item[0].len);
}

}  // namespace

std::string hex_text(const uint8_t* p, size_t n) {
  std::string s(2 * n, '\0');
  if (n > 0) to_hex(p, n, &s[0]);
  return s;
}

void put_text(char* out, const std::string& s) {
  if (out != nullptr) memcpy(out, s.c_str(), s.size() + 1);
}

int exchange(const uint8_t* cmd, size_t n, Reply* r) {
  r->len = 0;
  uint8_t c[300];
  if (n < 4 || n > sizeof c) return PAYTERM_E_BAD_INPUT;
  memcpy(c, cmd, n);
  int rl = 0;
  int rc = Dc_APDU(c, static_cast<int>(n), r->buf, &rl);
  if (rc != 0) {
    // A refusal still carries the card's data for those who look.
    r->len = rc > 0 && rl >= 2 ? static_cast<size_t>(rl) - 2 : 0;
    return rc;
  }
  r->len = static_cast<size_t>(rl) - 2;
  return 0;
}

void set_now(TermData* td) {
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  td->date[0] = bcd(tm.tm_year % 100);
  td->date[1] = bcd(tm.tm_mon + 1);
  td->date[2] = bcd(tm.tm_mday);
  td->time[0] = bcd(tm.tm_hour);
  td->time[1] = bcd(tm.tm_min);
  td->time[2] = bcd(tm.tm_sec);
}

size_t terminal_list(const TermData& td, uint8_t* out, size_t cap) {
  static const uint8_t k9F7A[1] = {0x01};
  static const uint8_t k9F7B[6] = {0, 0, 0x01, 0, 0, 0};
  static const uint8_t k9F33[3] = {0x20, 0xA1, 0x00};
  static const uint8_t kZero[1] = {0x00};
  static const uint8_t k9F34[3] = {0x02, 0x00, 0x00};
  static const uint8_t k9F35[1] = {0x24};
  static const uint8_t k9F1E[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
  static const uint8_t k9F09[2] = {0x00, 0x30};
  static const uint8_t k9F41[4] = {0, 0, 0, 0x01};
  size_t at = 0;
  if (cap == 0) return 0;
  out[0] = 0;
  bool ok = termlist_add(out, cap, &at, 0x9F02, td.amount, 6) &&
            termlist_add(out, cap, &at, 0x9F03, td.other, 6) &&
            termlist_add(out, cap, &at, 0x9F1A, td.country, 2) &&
            termlist_add(out, cap, &at, 0x95, td.tvr, 5) &&
            termlist_add(out, cap, &at, 0x5F2A, td.currency, 2) &&
            termlist_add(out, cap, &at, 0x9C, &td.type, 1) &&
            termlist_add(out, cap, &at, 0x9F37, td.un, 4) &&
            termlist_add(out, cap, &at, 0x9F66, td.ttq, 4) &&
            termlist_add(out, cap, &at, 0x9F7A, k9F7A, 1) &&
            termlist_add(out, cap, &at, 0x9F7B, k9F7B, 6) &&
            termlist_add(out, cap, &at, 0x9A, td.date, 3) &&
            termlist_add(out, cap, &at, 0x9F21, td.time, 3) &&
            termlist_add(out, cap, &at, 0x9F33, k9F33, 3) &&
            termlist_add(out, cap, &at, 0xDF60, kZero, 1) &&
            termlist_add(out, cap, &at, 0xDF69, kZero, 1) &&
            termlist_add(out, cap, &at, 0x9F4E, kMerchant, 20);
  if (ok && td.risk) {
    ok = termlist_add(out, cap, &at, 0x8A, td.arc, 2) &&
         (td.iad91Len == 0 || termlist_add(out, cap, &at, 0x91, td.iad91, td.iad91Len)) &&
         termlist_add(out, cap, &at, 0x9F34, k9F34, 3) &&
         termlist_add(out, cap, &at, 0x9F35, k9F35, 1) &&
         termlist_add(out, cap, &at, 0x9F1E, k9F1E, 8) &&
         termlist_add(out, cap, &at, 0x9F09, k9F09, 2) &&
         termlist_add(out, cap, &at, 0x9F41, k9F41, 4);
  }
  return ok ? at + 1 : 0;
}

bool random_bytes(uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = getrandom(out + got, n - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<size_t>(r);
  }
  return true;
}

Application& current_app() {
  static Application app;
  return app;
}

int begin_dialogue(char* icType) {
  drop_pending();
  // All bytes, not only the lengths: nothing of the last card stays behind.
  static_assert(std::is_trivially_copyable<Application>::value, "plain bytes");
  memset(static_cast<void*>(&current_app()), 0, sizeof(Application));
  int rc = Dev_Open();
  if (rc != 0) return rc;
  rc = Dev_Card();
  if (rc != 0) {
    Dev_Close();
    return rc;
  }
  if (icType != nullptr) icType[0] = static_cast<char>(g_ICTYPE);
  return 0;
}

void end_dialogue() { Dev_Close(); }

int select_application(Application* app) {
  Candidates c;
  c.count = 0;
  c.directories = 0;
  read_directory(reinterpret_cast<const uint8_t*>(kPse), sizeof kPse - 1, &c, 0);
  // Priority indicators are collected but the directory order stands.
  if (c.count > 0) return select_from(app, c);
  return select_first_builtin(app);
}

int select_contactless_application(Application* app) {
  Candidates c;
  Reply r;
  c.count = 0;
  if (select_name(reinterpret_cast<const uint8_t*>(kPpse), sizeof kPpse - 1, &r) == 0) {
    Tlv fci;
    if (tlv_find(r.buf, r.len, 0xBF0C, &fci)) {
      size_t pos = 0;
      Tlv e;
      while (tlv_next(fci.value, fci.len, &pos, &e) == 1) {
        Tlv aid, prio;
        if (e.tag == 0x61 && tlv_find(e.value, e.len, 0x4F, &aid))
          add_candidate(&c, aid, tlv_find(e.value, e.len, 0x87, &prio) ? &prio : nullptr);
      }
    }
  }
  if (c.count > 0) return select_from(app, c);
  return select_application(app);
}

int initiate(Application* app, const TermData& td) {
  // A GPO that fails before the card answers leaves no answer behind.
  memset(app->aip, 0, sizeof app->aip);
  app->aflLen = 0;
  app->gpoLen = 0;
  static uint8_t list[512];
  size_t listLen = terminal_list(td, list, sizeof list);
  uint8_t cmd[261] = {0x80, 0xA8, 0x00, 0x00, 0x02, 0x83, 0x00};
  size_t dataLen = 0;
  Tlv pdol;
  if (tlv_find(app->fci, app->fciLen, 0x9F38, &pdol)) {
    int b = dol_build(pdol.value, pdol.len, list, listLen, cmd + 7, 253, &dataLen);
    if (b == -1) return -1;
    if (b != 0) return PAYTERM_E_CARD_DATA;
  }
  cmd[4] = static_cast<uint8_t>(dataLen + 2);
  cmd[6] = static_cast<uint8_t>(dataLen);
  Reply r;
  int rc = exchange(cmd, 7 + dataLen, &r);
  memcpy(app->gpo, r.buf, r.len);
  app->gpoLen = r.len;
  if (rc != 0) return rc;
  size_t pos = 0;
  Tlv t;
  if (tlv_next(app->gpo, app->gpoLen, &pos, &t) != 1) return PAYTERM_E_CARD_DATA;
  if (t.tag == 0x80) {
    if (t.len < 2) return PAYTERM_E_CARD_DATA;
    memcpy(app->aip, t.value, 2);
    memcpy(app->afl, t.value + 2, t.len - 2);
    app->aflLen = t.len - 2;
  } else if (t.tag == 0x77) {
    Tlv aip, afl;
    if (!tlv_find(t.value, t.len, 0x82, &aip) || aip.len != 2) return PAYTERM_E_CARD_DATA;
    memcpy(app->aip, aip.value, 2);
    if (tlv_find(t.value, t.len, 0x94, &afl)) {
      memcpy(app->afl, afl.value, afl.len);
      app->aflLen = afl.len;
    }
  } else {
    return PAYTERM_E_CARD_DATA;
  }
  if (app->aflLen % 4 != 0) return PAYTERM_E_CARD_DATA;
  for (size_t i = 0; i < app->aflLen; i += 4) {
    const uint8_t* e = app->afl + i;
    int sfi = e[0] >> 3;
    if (sfi < 1 || sfi > 30 || e[1] == 0 || e[2] < e[1] || e[3] > e[2] - e[1] + 1)
      return PAYTERM_E_CARD_DATA;
  }
  return 0;
}

int read_records(Application* app) {
  app->recLen = 0;
  app->odaLen = 0;
  Reply r;
  int budget = kMaxAflRecords;
  for (size_t i = 0; i < app->aflLen; i += 4) {
    const uint8_t* e = app->afl + i;
    const uint8_t sfi = e[0] >> 3;
    for (int rec = e[1]; rec <= e[2]; ++rec) {
      if (--budget < 0) return PAYTERM_E_CARD_DATA;
      int rc = read_record(sfi, static_cast<uint8_t>(rec), &r);
      if (rc != 0) return rc;
      size_t pos = 0;
      Tlv t;
      bool templ = tlv_next(r.buf, r.len, &pos, &t) == 1 && t.tag == 0x70;
      if (sfi <= 10 && !templ) return PAYTERM_E_CARD_DATA;
      if (r.len > sizeof app->records - app->recLen) return PAYTERM_E_CARD_DATA;
      memcpy(app->records + app->recLen, r.buf, r.len);
      app->recLen += r.len;
      if (rec < e[1] + e[3]) {
        const uint8_t* p = sfi <= 10 ? t.value : r.buf;
        size_t n = sfi <= 10 ? t.len : r.len;
        if (n > sizeof app->oda - app->odaLen) return PAYTERM_E_CARD_DATA;
        memcpy(app->oda + app->odaLen, p, n);
        app->odaLen += n;
      }
    }
  }
  return 0;
}

int get_data(uint32_t tag, uint8_t* value, size_t cap, size_t* len) {
  const uint8_t cmd[5] = {0x80, 0xCA, static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag),
                          0x00};
  Reply r;
  int rc = exchange(cmd, sizeof cmd, &r);
  if (rc != 0) return rc;
  Tlv t;
  if (!tlv_find(r.buf, r.len, tag, &t)) return PAYTERM_E_CARD_DATA;
  size_t n = t.len < cap ? t.len : cap;
  if (n > 0) memcpy(value, t.value, n);
  *len = n;
  return 0;
}

const uint8_t* last_rid() { return g_rid; }
const char* last_aid_text() { return g_aid_text; }

bool find_record_object(const Application& app, uint32_t tag, Tlv* out) {
  return tlv_find(app.records, app.recLen, tag, out);
}

std::string digits_of(const uint8_t* v, size_t n) {
  std::string h = hex_text(v, n);
  size_t end = h.find_first_not_of("0123456789");
  return end == std::string::npos ? h : h.substr(0, end);
}

namespace {

constexpr size_t kMaxLetterObject = 255;

enum Form { kHex, kPan, kRaw, kDigits };
struct Letter {
  uint32_t tag;
  bool getData;
  Form form;
};
// A..Y in order.
const Letter kLetters[25] = {
    {0x5A, false, kPan},    {0x5F20, false, kRaw},  {0x9F62, false, kHex},
    {0x9F61, false, kRaw},  {0x57, false, kHex},    {0x9F1F, false, kRaw},
    {0x9F79, true, kHex},   {0x9F77, true, kHex},   {0x5F25, false, kHex},
    {0x5F34, false, kDigits}, {0x9F51, true, kHex}, {0x9F17, true, kHex},
    {0x5F24, false, kHex},  {0x9F36, true, kHex},   {0x9F0B, false, kHex},
    {0x9F78, true, kHex},   {0x9F6D, true, kHex},   {0x9F72, true, kHex},
    {0x9F53, true, kHex},   {0x9F54, true, kHex},   {0x9F75, true, kHex},
    {0x9F5C, true, kHex},   {0x9F73, true, kHex},   {0x9F58, true, kHex},
    {0x9F59, true, kHex},
};

std::string formatted(Form f, const uint8_t* v, size_t n) {
  switch (f) {
    case kRaw: return std::string(reinterpret_cast<const char*>(v), n);
    case kPan: {
      std::string h = hex_text(v, n);
      size_t cut = h.find('F');
      return cut == std::string::npos ? h : h.substr(0, cut);
    }
    case kDigits: {
      // Two decimal digits per byte: the nibbles of a BCD number.
      std::string s;
      for (size_t i = 0; i < n; ++i) {
        s += static_cast<char>('0' + (v[i] >> 4) % 10);
        s += static_cast<char>('0' + (v[i] & 15) % 10);
      }
      return s;
    }
    default: return hex_text(v, n);
  }
}

}  // namespace

int card_info_text(const Application& app, const char* letters, bool ask_card, char* out) {
  std::string text;
  int taken = 0;
  for (const char* p = letters != nullptr ? letters : ""; *p; ++p) {
    if (*p < 'A' || *p > 'Y') continue;
    if (++taken > PAYTERM_TAGLIST_MAX) return PAYTERM_E_BAD_INPUT;
  }
  for (const char* p = letters != nullptr ? letters : ""; *p; ++p) {
    if (*p < 'A' || *p > 'Y') continue;
    const Letter& l = kLetters[*p - 'A'];
    std::string value;
    bool found = false;
    uint8_t v[PAYTERM_APDU_RESP_MAX];
    size_t n = 0;
    if (l.getData) {
      found = ask_card && get_data(l.tag, v, sizeof v, &n) == 0;
    } else {
      Tlv t;
      found = find_record_object(app, l.tag, &t);
      if (found) {
        n = t.len;
        memcpy(v, t.value, n < sizeof v ? n : sizeof v);
      }
    }
    // These objects are short ones; a longer answer is not one of them and
    // would not fit the text's three-digit length.
    if (found && n > kMaxLetterObject) {
      d_printf("%c: object of %zu bytes ignored\n", *p, n);
      found = false;
    }
    if (found) value = formatted(l.form, v, n);
    char head[8];
    snprintf(head, sizeof head, "%c%03d", *p, found ? static_cast<int>(value.size()) : 0);
    text += head;
    if (found) text += value;
  }
  put_text(out, text);
  return 0;
}

void card_record_text(const Application& app, char iface, char* out) {
  if (out == nullptr) return;
  std::string aid = hex_text(app.aid, app.aidLen);
  char head[40];
  snprintf(head, sizeof head, "4B5652%06d4F%02X",
           static_cast<int>(aid.size() + 2 * app.recLen + 12), static_cast<unsigned>(app.aidLen));
  std::string s = head;
  s += aid;
  s += "8202";
  s += hex_text(app.aip, 2);
  s += hex_text(app.records, app.recLen);
  s += iface;
  put_text(out, s);
}

Pending& pending() {
  static Pending p;
  return p;
}

void drop_pending() { pending().open = false; }

}  // namespace payterm
