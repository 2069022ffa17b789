// Dc_GenARQC and Dc_ARPC_ExeICScript: the online transaction.
#include "txn.h"

#include <stdio.h>
#include <string.h>

#include "cardinfo.h"
#include "hexconv.h"

namespace payterm {

namespace {

constexpr size_t kIssuerDataMax = 1024;
constexpr int kMaxScripts = 10;

// Response codes that approve a transaction.
bool approving(const uint8_t* arc) {
  return (arc[0] == '0' && arc[1] == '0') || (arc[0] == '1' && arc[1] == '0') ||
         (arc[0] == '1' && arc[1] == '1');
}

bool add(uint8_t* out, size_t cap, size_t* at, uint32_t tag, const uint8_t* v, size_t n) {
  return tlv_append(out, cap, at, tag, v, n);
}

int finish_ic_text(const uint8_t* list, size_t n, char* icData, char* icDataLen) {
  std::string hex = hex_text(list, n);
  if (hex.size() + 1 > PAYTERM_ICDATA_SIZE) return PAYTERM_E_CARD_DATA;
  put_text(icData, hex);
  if (icDataLen != nullptr) snprintf(icDataLen, 4, "%03d", static_cast<int>(n));
  return 0;
}

// Runs the commands (86) of one script template; the result byte (high
// nibble 2 done, 1 failed with the failing command's number below it) and
// the script identifier (9F18 or zeros) go to result.
void run_script(const Tlv& script, uint8_t* result) {
  uint8_t status = 0x20;
  memset(result + 1, 0, 4);
  Tlv id;
  if (tlv_find(script.value, script.len, 0x9F18, &id) && id.len == 4)
    memcpy(result + 1, id.value, 4);
  size_t pos = 0;
  Tlv c;
  int seq = 0;
  Reply r;
  while (tlv_next(script.value, script.len, &pos, &c) == 1) {
    if (c.tag != 0x86) continue;
    ++seq;
    int rc = c.len >= 4 ? exchange(c.value, c.len, &r) : PAYTERM_E_CARD_DATA;
    // Warnings (62 xx, 63 xx) let the script go on.
    bool ok = rc == 0 || (rc > 0 && ((rc >> 8) == 0x62 || (rc >> 8) == 0x63));
    if (!ok) {
      status = static_cast<uint8_t>(0x10 | (seq < 15 ? seq : 15));
      break;
    }
  }
  result[0] = status;
}

}  // namespace

int parse_ac(const uint8_t* d, size_t n, AcResult* out) {
  size_t pos = 0;
  Tlv t;
  if (tlv_next(d, n, &pos, &t) != 1) return PAYTERM_E_CARD_DATA;
  AcResult a;
  if (t.tag == 0x80) {
    if (t.len < 11 || t.len - 11 > sizeof a.iad) return PAYTERM_E_CARD_DATA;
    a.cid = t.value[0];
    memcpy(a.atc, t.value + 1, 2);
    memcpy(a.ac, t.value + 3, 8);
    a.iadLen = t.len - 11;
    memcpy(a.iad, t.value + 11, a.iadLen);
  } else if (t.tag == 0x77) {
    Tlv cid, atc, ac, iad;
    if (!tlv_find(t.value, t.len, 0x9F27, &cid) || cid.len != 1 ||
        !tlv_find(t.value, t.len, 0x9F36, &atc) || atc.len != 2 ||
        !tlv_find(t.value, t.len, 0x9F26, &ac) || ac.len != 8)
      return PAYTERM_E_CARD_DATA;
    a.cid = cid.value[0];
    memcpy(a.atc, atc.value, 2);
    memcpy(a.ac, ac.value, 8);
    if (tlv_find(t.value, t.len, 0x9F10, &iad)) {
      if (iad.len > sizeof a.iad) return PAYTERM_E_CARD_DATA;
      memcpy(a.iad, iad.value, iad.len);
      a.iadLen = iad.len;
    }
  } else {
    return PAYTERM_E_CARD_DATA;
  }
  *out = a;
  return 0;
}

namespace {

// GENERATE AC with reference control p1 over the card's data object list
// dolTag (CDOL1 0x8C or CDOL2 0x8D), filled from the terminal's data.
int generate_ac(const Application& app, const TermData& td, uint32_t dolTag, uint8_t p1,
                AcResult* ac) {
  Tlv dol;
  if (!find_record_object(app, dolTag, &dol)) return PAYTERM_E_CARD_DATA;
  static uint8_t list[512];
  size_t listLen = terminal_list(td, list, sizeof list);
  uint8_t cmd[261] = {0x80, 0xAE, p1, 0x00};
  size_t n = 0;
  int b = dol_build(dol.value, dol.len, list, listLen, cmd + 5, 255, &n);
  if (b != 0) return b == -1 ? -1 : PAYTERM_E_CARD_DATA;
  cmd[4] = static_cast<uint8_t>(n);
  cmd[5 + n] = 0x00;
  Reply r;
  int rc = exchange(cmd, n + 6, &r);
  return rc == 0 ? parse_ac(r.buf, r.len, ac) : rc;
}

}  // namespace

int ic_data_text(const Application& app, const TermData& td, const AcResult& ac,
                 const uint8_t* atc9f13, char* icData, char* icDataLen) {
  static const uint8_t k9F33[3] = {0x20, 0xA1, 0x00};
  static const uint8_t k9F34[3] = {0x02, 0x00, 0x00};
  static const uint8_t k9F35[1] = {0x24};
  static const uint8_t k9F41[4] = {0, 0, 0, 0x01};
  static const uint8_t k9F09[2] = {0x00, 0x30};
  static const uint8_t k9F1E[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
  uint8_t list[PAYTERM_ICDATA_SIZE / 2];
  const size_t cap = sizeof list;
  size_t at = 0;
  bool ok = add(list, cap, &at, 0x9F26, ac.ac, 8) && add(list, cap, &at, 0x9F27, &ac.cid, 1) &&
            add(list, cap, &at, 0x9F10, ac.iad, ac.iadLen) &&
            add(list, cap, &at, 0x9F37, td.un, 4) && add(list, cap, &at, 0x9F36, ac.atc, 2) &&
            add(list, cap, &at, 0x95, td.tvr, 5) &&
            (atc9f13 == nullptr || add(list, cap, &at, 0x9F13, atc9f13, 2)) &&
            add(list, cap, &at, 0x9A, td.date, 3) && add(list, cap, &at, 0x9C, &td.type, 1) &&
            add(list, cap, &at, 0x9F02, td.amount, 6) &&
            add(list, cap, &at, 0x5F2A, td.currency, 2) && add(list, cap, &at, 0x82, app.aip, 2) &&
            add(list, cap, &at, 0x9F1A, td.country, 2) &&
            add(list, cap, &at, 0x9F03, td.other, 6) && add(list, cap, &at, 0x9F33, k9F33, 3) &&
            add(list, cap, &at, 0x84, app.aid, app.aidLen) &&
            add(list, cap, &at, 0x9F34, k9F34, 3) && add(list, cap, &at, 0x9F35, k9F35, 1) &&
            add(list, cap, &at, 0x9F41, k9F41, 4) && add(list, cap, &at, 0x9F09, k9F09, 2) &&
            add(list, cap, &at, 0x9F1E, k9F1E, 8);
  if (!ok) return PAYTERM_E_CARD_DATA;
  return finish_ic_text(list, at, icData, icDataLen);
}

int tx_field(const char* tx, char letter, size_t width, uint8_t* out) {
  const char* p = strchr(tx, letter);
  if (p == nullptr) return 0;
  ++p;
  if (strspn(p, "0123456789") < 3) return -1;
  size_t len = static_cast<size_t>((p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0'));
  p += 3;
  if (strnlen(p, len) < len || strspn(p, "0123456789") < len) return -1;
  // Right-aligned: '0' on the left, or the rightmost digits kept.
  std::string digits(2 * width, '0');
  size_t take = len < 2 * width ? len : 2 * width;
  memcpy(&digits[2 * width - take], p + (len - take), take);
  from_hex(digits.c_str(), width, out);
  return 1;
}

}  // namespace payterm

using namespace payterm;

extern "C" {

int Dc_GenARQC(const char* txData, const char* aidList, char* cardRecord, char* icData,
               char* icDataLen, char* cardInfo, char* icType) {
  d_printf("Dc_GenARQC %s %s\n", txData ? txData : "", aidList ? aidList : "");
  empty_texts({cardRecord, icData, icDataLen, cardInfo});
  drop_pending();
  TermData td;
  set_now(&td);
  td.amount[5] = 0x00;
  td.risk = true;
  const char* tx = txData != nullptr ? txData : "";
  struct Field {
    char letter;
    size_t width;
    uint8_t* out;
  } fields[] = {{'P', 6, td.amount}, {'Q', 6, td.other}, {'R', 2, td.currency},
                {'T', 1, &td.type},  {'S', 3, td.date},  {'U', 3, td.time}};
  for (const Field& f : fields)
    if (tx_field(tx, f.letter, f.width, f.out) < 0) return PAYTERM_E_BAD_INPUT;
  if (!random_bytes(td.un, sizeof td.un)) return PAYTERM_E_RANDOM;

  Application& app = current_app();
  int rc = begin_dialogue(icType);
  if (rc != 0) return rc;
  AcResult ac;
  rc = select_application(&app);
  if (rc == 0) rc = initiate(&app, td);
  if (rc == 0) rc = read_records(&app);
  if (rc == 0) {
    card_record_text(app, static_cast<char>(g_ICTYPE), cardRecord);
    card_info_text(app, "AEJM", false, cardInfo);
    rc = generate_ac(app, td, 0x8C, 0x80, &ac);  // ARQC over CDOL1
  }
  if (rc == 0) {
    uint8_t last[2];
    size_t ln = 0;
    bool has13 = get_data(0x9F13, last, sizeof last, &ln) == 0 && ln == 2;
    rc = ic_data_text(app, td, ac, has13 ? last : nullptr, icData, icDataLen);
  }
  // A card that declines at once (AAC) ends the transaction here.
  if (rc == 0 && (ac.cid & 0xC0) == 0x00) rc = PAYTERM_E_DECLINED;
  if (rc != 0) {
    end_dialogue();
    return rc;
  }
  Pending& p = pending();
  p.td = td;
  p.open = true;
  return 0;
}

int Dc_ARPC_ExeICScript(const char* issuerData, char* icData, char* icDataLen) {
  empty_texts({icData, icDataLen});
  Pending& p = pending();
  if (!p.open) return PAYTERM_E_NO_TRANSACTION;
  p.open = false;
  TermData td = p.td;
  Application& app = current_app();

  const char* text = issuerData != nullptr ? issuerData : "";
  size_t tl = strnlen(text, 2 * kIssuerDataMax + 1);
  static uint8_t data[kIssuerDataMax];
  if (tl % 2 != 0 || tl > 2 * kIssuerDataMax || !from_hex(text, tl / 2, data)) {
    end_dialogue();
    return PAYTERM_E_BAD_INPUT;
  }
  const size_t dn = tl / 2;
  Tlv t91, t8a;
  bool has91 = false, has8a = false;
  Tlv scripts71[kMaxScripts], scripts72[kMaxScripts];
  int n71 = 0, n72 = 0;
  size_t pos = 0;
  Tlv t;
  int step;
  while ((step = tlv_next(data, dn, &pos, &t)) == 1) {
    if (t.tag == 0x91 && !has91) {
      t91 = t;
      has91 = true;
    } else if (t.tag == 0x8A && !has8a) {
      t8a = t;
      has8a = true;
    } else if (t.tag == 0x71 && n71 < kMaxScripts) {
      scripts71[n71++] = t;
    } else if (t.tag == 0x72 && n72 < kMaxScripts) {
      scripts72[n72++] = t;
    }
  }
  if (step < 0 || (has91 && (t91.len < 8 || t91.len > 16)) || (has8a && t8a.len != 2)) {
    end_dialogue();
    return PAYTERM_E_BAD_INPUT;
  }
  // The response code: 8A, else the last two bytes of a 10-byte 91, else
  // "unable to go online".
  if (has8a)
    memcpy(td.arc, t8a.value, 2);
  else if (has91 && t91.len == 10)
    memcpy(td.arc, t91.value + 8, 2);
  if (has91) {
    memcpy(td.iad91, t91.value, t91.len);
    td.iad91Len = t91.len;
    uint8_t cmd[5 + 16] = {0x00, 0x82, 0x00, 0x00, static_cast<uint8_t>(t91.len)};
    memcpy(cmd + 5, t91.value, t91.len);
    Reply r;
    if (exchange(cmd, 5 + t91.len, &r) != 0) {
      td.tvr[4] |= 0x40;  // issuer authentication failed
      d_printf("EXTERNAL AUTHENTICATE failed\n");
    }
  }
  uint8_t results[2 * kMaxScripts * 5];
  size_t nres = 0;
  for (int i = 0; i < n71; ++i, nres += 5) run_script(scripts71[i], results + nres);

  AcResult ac;
  // TC when the issuer approved, AAC otherwise, over CDOL2.
  int rc = generate_ac(app, td, 0x8D, approving(td.arc) ? 0x40 : 0x00, &ac);
  if (rc == 0) {
    for (int i = 0; i < n72; ++i, nres += 5) run_script(scripts72[i], results + nres);
    uint8_t out[PAYTERM_ICDATA_SIZE / 2];
    size_t at = 0;
    bool ok = tlv_append(out, sizeof out, &at, 0x9F26, ac.ac, 8) &&
              tlv_append(out, sizeof out, &at, 0x9F27, &ac.cid, 1) &&
              tlv_append(out, sizeof out, &at, 0x9F36, ac.atc, 2) &&
              tlv_append(out, sizeof out, &at, 0x9F10, ac.iad, ac.iadLen) &&
              (nres == 0 || tlv_append(out, sizeof out, &at, 0xDF31, results, nres));
    rc = ok ? finish_ic_text(out, at, icData, icDataLen) : PAYTERM_E_CARD_DATA;
  }
  end_dialogue();
  if (rc != 0) return rc;
  if ((ac.cid & 0xC0) == 0x40) {
    d_printf("TRADE APPROVED\n");
    return 0;
  }
  d_printf("TRADE REFUSE\n");
  return PAYTERM_E_DECLINED;
}

}  // extern "C"
