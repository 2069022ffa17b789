// Dc_GetICCardInfo and the host-mode readers built on it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "cardinfo.h"
#include "kernel.h"

namespace payterm {

namespace {

// The first value of letter in a card-information text.
bool info_value(const char* info, char letter, std::string* v) {
  size_t n = strlen(info);
  size_t i = 0;
  while (i + 4 <= n) {
    char l = info[i];
    int len = (info[i + 1] - '0') * 100 + (info[i + 2] - '0') * 10 + (info[i + 3] - '0');
    if (len < 0 || i + 4 + static_cast<size_t>(len) > n) return false;
    if (l == letter) {
      v->assign(info + i + 4, static_cast<size_t>(len));
      return true;
    }
    i += 4 + static_cast<size_t>(len);
  }
  return false;
}

// Host-mode fallback after a failed GET PROCESSING OPTIONS: the
// track-2 data some cards put into that answer.
void gpo_fallback(const Application& app, const ReadOptions& o, char* cardInfo) {
  Tlv t2;
  if (cardInfo == nullptr || !tlv_find(app.gpo, app.gpoLen, 0x57, &t2) || t2.len > 255) return;
  std::string text;
  char head[8];
  if (o.panOnly) {
    std::string pan = digits_of(t2.value, t2.len);
    snprintf(head, sizeof head, "A%03d", static_cast<int>(pan.size()));
    text = head + pan;
  } else {
    std::string hex = hex_text(t2.value, t2.len);
    snprintf(head, sizeof head, "E%03d", static_cast<int>(hex.size()));
    text = head + hex;
  }
  put_text(cardInfo, text);
}

}  // namespace

int read_card(const char* tagList, char* cardInfo, char* icType, char* cardRecord,
              const ReadOptions& o) {
  empty_texts({cardInfo, cardRecord});
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  d_printf("%02d%02d%02d%02d%02d%02d\n", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday,
           tm.tm_hour, tm.tm_min, tm.tm_sec);
  int taken = 0;
  for (const char* p = tagList != nullptr ? tagList : ""; *p; ++p)
    if (*p >= 'A' && *p <= 'Y') ++taken;
  if (taken > PAYTERM_TAGLIST_MAX) return PAYTERM_E_BAD_INPUT;

  Application& app = current_app();
  int rc = begin_dialogue(icType);
  if (rc != 0) return rc;
  rc = select_application(&app);
  if (rc == 0) {
    TermData td;
    set_now(&td);
    if (app.builtin) {
      td.country[0] = td.currency[0] = 0x08;
      td.country[1] = td.currency[1] = 0x40;
    }
    rc = initiate(&app, td);
    if (rc != 0 && (o.panOnly || o.tracksOnly)) gpo_fallback(app, o, cardInfo);
  }
  if (rc == 0) rc = read_records(&app);
  if (rc == 0) rc = card_info_text(app, tagList, true, cardInfo);
  if (rc == 0) card_record_text(app, static_cast<char>(g_ICTYPE), cardRecord);
  if (rc != 0 || !o.keepOpen) end_dialogue();
  return rc;
}

namespace {

// The Wy_ calls' read: reader and card kind for this call, the listed tags
// into info (the card record is read but not handed out).
int wy_read(int icdev, int cardType, const char* tags, const ReadOptions& o, char* info) {
  g_icdev = icdev;
  g_Wy_type = cardType;
  static char record[PAYTERM_CARDREC_SIZE];
  // Scratch of the last card read: wiped, not merely emptied.
  memset(info, 0, PAYTERM_CARDINFO_SIZE);
  memset(record, 0, sizeof record);
  char iface = 0;
  return read_card(tags, info, &iface, record, o);
}

}  // namespace

}  // namespace payterm

using namespace payterm;

extern "C" {

int Dc_GetICCardInfo(const char* tagList, const char* aidList, char* cardInfo, char* icType,
                     char* cardRecord, void* unused) {
  (void)unused;
  d_printf("Dc_GetICCardInfo %s %s\n", tagList ? tagList : "", aidList ? aidList : "");
  return read_card(tagList, cardInfo, icType, cardRecord, ReadOptions());
}

int Wy_GetBankAccountNumber(int icdev, int cardType, char* pan) {
  empty_texts({pan});
  ReadOptions o;
  o.panOnly = true;
  static char info[PAYTERM_CARDINFO_SIZE];
  int rc = wy_read(icdev, cardType, "A", o, info);
  std::string digits;
  if (info_value(info, 'A', &digits) && !digits.empty()) {
    // No card number has more than 19 digits.
    if (digits.size() > 19) return rc != 0 ? rc : PAYTERM_E_CARD_DATA;
    put_text(pan, digits);
  }
  return rc;
}

int Wy_GetBankMagInfo(int icdev, int cardType, char* track1, char* track2, char* track3) {
  empty_texts({track1, track2, track3});
  ReadOptions o;
  o.tracksOnly = true;
  static char info[PAYTERM_CARDINFO_SIZE];
  int rc = wy_read(icdev, cardType, "EF", o, info);
  std::string v;
  if (track2 != nullptr && info_value(info, 'E', &v)) put_text(track2, v);
  if (track1 != nullptr && info_value(info, 'F', &v)) put_text(track1, v);
  return rc;
}

int Dc_PbocVersion(char* date, char* time, unsigned int* kernelTag) {
  if (date != nullptr) memcpy(date, __DATE__, 12);
  if (time != nullptr) memcpy(time, __TIME__, 9);
  if (kernelTag != nullptr) *kernelTag = 'K' | 'V' << 8 | 'R' << 16;
  return 0;
}

}  // extern "C"
