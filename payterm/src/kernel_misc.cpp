// PIN, offline data authentication and transaction-log entry points.
#include <stdio.h>
#include <string.h>

#include "authenticate.h"
#include "cardinfo.h"

using namespace payterm;

namespace {

// Selection only: these commands need no transaction.
int open_and_select(Application& app) {
  int rc = begin_dialogue(nullptr);
  if (rc != 0) return rc;
  rc = select_application(&app);
  if (rc != 0) end_dialogue();
  return rc;
}

}  // namespace

extern "C" {

int Dc_VerifyPin(const char* pin) {
  size_t n = pin != nullptr ? strnlen(pin, 13) : 0;
  if (n < 4 || n > 12 || strspn(pin, "0123456789") != n) return PAYTERM_E_BAD_INPUT;
  // Plaintext PIN block: control 2, length, digits, F padding.
  uint8_t cmd[13] = {0x00, 0x20, 0x00, 0x80, 0x08, static_cast<uint8_t>(0x20 | n)};
  memset(cmd + 6, 0xFF, 7);
  for (size_t i = 0; i < n; ++i) {
    uint8_t d = static_cast<uint8_t>(pin[i] - '0');
    uint8_t& b = cmd[6 + i / 2];
    b = i % 2 == 0 ? static_cast<uint8_t>((b & 0x0F) | d << 4) : static_cast<uint8_t>((b & 0xF0) | d);
  }
  Application& app = current_app();
  int rc = open_and_select(app);
  if (rc != 0) return rc;
  Reply r;
  rc = exchange(cmd, sizeof cmd, &r);
  end_dialogue();
  return rc;
}

int Dc_QueryPinNum(int* tries) {
  Application& app = current_app();
  int rc = open_and_select(app);
  if (rc != 0) return rc;
  uint8_t v[4];
  size_t n = 0;
  rc = get_data(0x9F17, v, sizeof v, &n);
  end_dialogue();
  if (rc != 0) return rc;
  if (n != 1) return PAYTERM_E_CARD_DATA;
  if (tries != nullptr) *tries = v[0];
  return 0;
}

int Dc_AuthDDA(const char* tagList, const char* aidList, char* cardInfo, char* icType,
               char* cardRecord, char* dynNumber) {
  d_printf("Dc_AuthDDA %s %s\n", tagList ? tagList : "", aidList ? aidList : "");
  empty_texts({dynNumber});
  ReadOptions o;
  o.keepOpen = true;
  int rc = read_card(tagList, cardInfo, icType, cardRecord, o);
  if (rc != 0) return rc;
  TermData td;
  set_now(&td);
  std::string dyn;
  rc = run_dda(current_app(), td, &dyn);
  end_dialogue();
  if (rc == 0) put_text(dynNumber, dyn);
  d_printf("DDA %d\n", rc);
  return rc;
}

int Dc_GetTxDetail(char* detail) {
  empty_texts({detail});
  Application& app = current_app();
  int rc = open_and_select(app);
  if (rc != 0) return rc;
  Tlv entry;
  std::string text = "00";
  if (!tlv_find(app.fci, app.fciLen, 0x9F4D, &entry) || entry.len != 2) {
    // No log on this card: no entries.
    end_dialogue();
    put_text(detail, text);
    return 0;
  }
  const uint8_t sfi = entry.value[0];
  const int count = entry.value[1] < PAYTERM_TXLOG_MAX ? entry.value[1] : PAYTERM_TXLOG_MAX;
  uint8_t format[256];
  size_t fl = 0;
  rc = get_data(0x9F4F, format, sizeof format, &fl);
  DolItem items[64];
  int k = rc == 0 ? dol_parse(format, fl, items, 64) : -1;
  if (rc == 0 && k < 0) rc = PAYTERM_E_CARD_DATA;
  int entries = 0;
  std::string body;
  Reply r;
  for (int rec = 1; rc == 0 && rec <= count && sfi >= 1 && sfi <= 30; ++rec) {
    const uint8_t cmd[5] = {0x00, 0xB2, static_cast<uint8_t>(rec),
                            static_cast<uint8_t>(sfi << 3 | 4), 0x00};
    if (exchange(cmd, sizeof cmd, &r) != 0) break;  // past the last entry
    uint8_t tlvs[499];  // its hex text must keep a three-digit length
    size_t at = 0, off = 0;
    bool ok = true;
    for (int i = 0; i < k && ok; ++i) {
      ok = off + items[i].len <= r.len &&
           tlv_append(tlvs, sizeof tlvs, &at, items[i].tag, r.buf + off, items[i].len);
      off += items[i].len;
    }
    if (!ok) {
      rc = PAYTERM_E_CARD_DATA;
      break;
    }
    std::string hex = hex_text(tlvs, at);
    char head[8];
    snprintf(head, sizeof head, "%03d", static_cast<int>(hex.size()));
    body += head;
    body += hex;
    ++entries;
  }
  end_dialogue();
  if (rc != 0) return rc;
  char head[4];
  snprintf(head, sizeof head, "%02d", entries);
  put_text(detail, head + body);
  return 0;
}

}  // extern "C"
