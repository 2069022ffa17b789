// qPBOC on the contactless interface: electronic-cash balance, debit with
// offline approval and data authentication (fDDA or SDA), card number.
#include <string.h>

#include "authenticate.h"
#include "cardinfo.h"
#include "txn.h"

using namespace payterm;

namespace {

// Terminal data of a qPBOC transaction: no amount yet, a fresh
// unpredictable number, the given transaction type.
bool qpboc_terminal(TermData* td, uint8_t type) {
  set_now(td);
  memset(td->amount, 0, sizeof td->amount);
  td->type = type;
  return random_bytes(td->un, sizeof td->un);
}

int open_contactless(Application& app) {
  int rc = begin_dialogue(nullptr);
  if (rc != 0) return rc;
  rc = select_contactless_application(&app);
  if (rc != 0) end_dialogue();
  return rc;
}

// The qPBOC answer: the cryptogram, its type (9F27, else the CVR bits of
// the issuer application data) and the counters.
int qpboc_result(const Application& app, AcResult* ac) {
  size_t pos = 0;
  Tlv t, cid, atc, crypt, iad;
  if (tlv_next(app.gpo, app.gpoLen, &pos, &t) != 1 || t.tag != 0x77 ||
      !tlv_find(t.value, t.len, 0x9F26, &crypt) || crypt.len != 8 ||
      !tlv_find(t.value, t.len, 0x9F36, &atc) || atc.len != 2)
    return PAYTERM_E_CARD_DATA;
  memcpy(ac->ac, crypt.value, 8);
  memcpy(ac->atc, atc.value, 2);
  if (tlv_find(t.value, t.len, 0x9F10, &iad)) {
    if (iad.len > sizeof ac->iad) return PAYTERM_E_CARD_DATA;
    memcpy(ac->iad, iad.value, iad.len);
    ac->iadLen = iad.len;
  }
  if (tlv_find(t.value, t.len, 0x9F27, &cid) && cid.len == 1) {
    ac->cid = cid.value[0];
  } else if (ac->iadLen >= 5) {
    static const uint8_t kCid[4] = {0x00, 0x40, 0x80, 0x00};
    ac->cid = kCid[(ac->iad[4] >> 4) & 3];
  } else {
    return PAYTERM_E_CARD_DATA;
  }
  return 0;
}

// fDDA when the card signed the transaction, else SDA.
int authenticate(const Application& app, const TermData& td) {
  Tlv sdad, ssad;
  if ((app.aip[0] & 0x20) && tlv_find(app.gpo, app.gpoLen, 0x9F4B, &sdad)) {
    RsaPublic issuer, icc;
    int rc = recover_keys(app, &issuer, &icc);
    if (rc != 0) return rc;
    // Terminal dynamic data: the unpredictable number; with card
    // authentication data (9F69, version 01) also amount and currency.
    std::string in(reinterpret_cast<const char*>(td.un), 4);
    Tlv cad;
    if ((tlv_find(app.gpo, app.gpoLen, 0x9F69, &cad) || find_record_object(app, 0x9F69, &cad)) &&
        cad.len > 0 && cad.value[0] == 0x01) {
      in.append(reinterpret_cast<const char*>(td.amount), 6);
      in.append(reinterpret_cast<const char*>(td.currency), 2);
      in.append(reinterpret_cast<const char*>(cad.value), cad.len);
    }
    return verify_dynamic(icc, sdad.value, sdad.len, reinterpret_cast<const uint8_t*>(in.data()),
                          in.size(), nullptr, nullptr);
  }
  if ((app.aip[0] & 0x40) && find_record_object(app, 0x93, &ssad)) {
    RsaPublic issuer;
    int rc = recover_keys(app, &issuer, nullptr);
    if (rc != 0) return rc;
    std::string sad;
    if (!static_auth_data(app, &sad)) return PAYTERM_E_ODA_SIGNATURE;
    return verify_static(issuer, ssad.value, ssad.len, reinterpret_cast<const uint8_t*>(sad.data()),
                         sad.size());
  }
  return PAYTERM_E_ODA_UNSUPPORTED;
}

int balance_text(const Application& app, char* balance) {
  uint8_t v[8];
  size_t n = 0;
  Tlv avail;
  if (tlv_find(app.gpo, app.gpoLen, 0x9F5D, &avail) && avail.len == 6) {
    memcpy(v, avail.value, 6);
    n = 6;
  } else {
    int rc = get_data(0x9F79, v, sizeof v, &n);
    if (rc != 0) return rc;
  }
  if (n != 6) return PAYTERM_E_CARD_DATA;
  put_text(balance, hex_text(v, 6));
  return 0;
}

}  // namespace

extern "C" {

int Dc_QpbocBalance(char* balance) {
  empty_texts({balance});
  Application& app = current_app();
  int rc = open_contactless(app);
  if (rc != 0) return rc;
  rc = balance_text(app, balance);
  end_dialogue();
  return rc;
}

int Dc_QpbocDebit(const char* amount, char* balance, char* icData, char* icDataLen) {
  empty_texts({balance, icData, icDataLen});
  size_t n = amount != nullptr ? strnlen(amount, 13) : 0;
  if (n < 1 || n > 12 || strspn(amount, "0123456789") != n) return PAYTERM_E_BAD_INPUT;
  TermData td;
  if (!qpboc_terminal(&td, 0x00)) return PAYTERM_E_RANDOM;
  std::string digits = std::string(12 - n, '0') + amount;
  uint8_t bcd[6];
  for (int i = 0; i < 6; ++i)
    bcd[i] = static_cast<uint8_t>((digits[2 * i] - '0') << 4 | (digits[2 * i + 1] - '0'));
  memcpy(td.amount, bcd, 6);

  Application& app = current_app();
  int rc = open_contactless(app);
  if (rc != 0) return rc;
  AcResult ac;
  rc = initiate(&app, td);
  if (rc == 0) rc = qpboc_result(app, &ac);
  if (rc == 0) rc = read_records(&app);
  if (rc == 0) rc = ic_data_text(app, td, ac, nullptr, icData, icDataLen);
  if (rc == 0) {
    switch (ac.cid & 0xC0) {
      case 0x40: rc = authenticate(app, td); break;
      case 0x80: rc = PAYTERM_E_ONLINE; break;
      default: rc = PAYTERM_E_DECLINED; break;
    }
  }
  if (rc == 0) rc = balance_text(app, balance);
  end_dialogue();
  return rc;
}

int Dc_QpbocGetCardNo(char* pan) {
  empty_texts({pan});
  TermData td;
  // A balance inquiry: no card approves it offline, so nothing is debited.
  if (!qpboc_terminal(&td, 0x31)) return PAYTERM_E_RANDOM;
  Application& app = current_app();
  int rc = open_contactless(app);
  if (rc != 0) return rc;
  rc = initiate(&app, td);
  Tlv t;
  std::string digits;
  if (tlv_find(app.gpo, app.gpoLen, 0x57, &t)) {
    digits = digits_of(t.value, t.len);
    rc = 0;
  } else if (rc == 0) {
    rc = read_records(&app);
    if (rc == 0 && find_record_object(app, 0x5A, &t)) digits = digits_of(t.value, t.len);
  }
  end_dialogue();
  if (rc != 0) return rc;
  if (digits.empty() || digits.size() > 19) return PAYTERM_E_CARD_DATA;
  put_text(pan, digits);
  return 0;
}

}  // extern "C"
