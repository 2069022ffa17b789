// Offline data authentication of the current application.
#include "authenticate.h"

#include <string.h>

namespace payterm {

namespace {
const char kCapkFile[] = "emv/CAPK.txt";
}

bool static_auth_data(const Application& app, std::string* out) {
  out->assign(reinterpret_cast<const char*>(app.oda), app.odaLen);
  Tlv list;
  if (!find_record_object(app, 0x9F4A, &list)) return true;
  if (list.len != 1 || list.value[0] != 0x82) return false;
  out->append(reinterpret_cast<const char*>(app.aip), 2);
  return true;
}

int recover_keys(const Application& app, RsaPublic* issuer, RsaPublic* icc) {
  Tlv index, pan;
  if (!find_record_object(app, 0x8F, &index) || index.len != 1) return PAYTERM_E_ODA_NO_CAPK;
  CapkTable& table = capk_table();
  table.load(kCapkFile);
  const Capk* ca = table.find(app.aid, index.value[0]);
  if (ca == nullptr) return PAYTERM_E_ODA_NO_CAPK;
  if (!find_record_object(app, 0x5A, &pan)) return PAYTERM_E_ODA_ISSUER;
  Tlv cert, rem, exp;
  if (!find_record_object(app, 0x90, &cert) || !find_record_object(app, 0x9F32, &exp))
    return PAYTERM_E_ODA_ISSUER;
  bool hasRem = find_record_object(app, 0x92, &rem);
  YearMonth today = current_year_month();
  int rc = recover_issuer_key(*ca, cert.value, cert.len, hasRem ? rem.value : nullptr,
                              hasRem ? rem.len : 0, exp.value, exp.len, pan.value, pan.len, today,
                              issuer);
  if (rc != 0 || icc == nullptr) return rc;
  std::string sad;
  if (!static_auth_data(app, &sad)) return PAYTERM_E_ODA_ICC;
  if (!find_record_object(app, 0x9F46, &cert) || !find_record_object(app, 0x9F47, &exp))
    return PAYTERM_E_ODA_ICC;
  hasRem = find_record_object(app, 0x9F48, &rem);
  return recover_icc_key(*issuer, cert.value, cert.len, hasRem ? rem.value : nullptr,
                         hasRem ? rem.len : 0, exp.value, exp.len,
                         reinterpret_cast<const uint8_t*>(sad.data()), sad.size(), pan.value,
                         pan.len, today, icc);
}

int run_dda(const Application& app, const TermData& base, std::string* dynNumber) {
  if (!(app.aip[0] & 0x20)) return PAYTERM_E_ODA_UNSUPPORTED;
  RsaPublic issuer, icc;
  int rc = recover_keys(app, &issuer, &icc);
  if (rc != 0) return rc;
  static const uint8_t kDefaultDdol[3] = {0x9F, 0x37, 0x04};
  Tlv ddol;
  const uint8_t* dol = kDefaultDdol;
  size_t dolLen = sizeof kDefaultDdol;
  if (find_record_object(app, 0x9F49, &ddol)) {
    dol = ddol.value;
    dolLen = ddol.len;
  }
  TermData td = base;
  if (!random_bytes(td.un, sizeof td.un)) return PAYTERM_E_RANDOM;
  static uint8_t list[512];
  size_t listLen = terminal_list(td, list, sizeof list);
  uint8_t cmd[261] = {0x00, 0x88, 0x00, 0x00};
  size_t n = 0;
  int b = dol_build(dol, dolLen, list, listLen, cmd + 5, 255, &n);
  if (b != 0) return b == -1 ? -1 : PAYTERM_E_CARD_DATA;
  cmd[4] = static_cast<uint8_t>(n);
  cmd[5 + n] = 0x00;
  Reply r;
  rc = exchange(cmd, n + 6, &r);
  if (rc != 0) return rc;
  size_t pos = 0;
  Tlv t, sdad;
  if (tlv_next(r.buf, r.len, &pos, &t) != 1) return PAYTERM_E_CARD_DATA;
  if (t.tag == 0x80) {
    sdad = t;
  } else if (t.tag != 0x77 || !tlv_find(t.value, t.len, 0x9F4B, &sdad)) {
    return PAYTERM_E_CARD_DATA;
  }
  uint8_t dyn[8];
  size_t dn = 0;
  rc = verify_dynamic(icc, sdad.value, sdad.len, cmd + 5, n, dyn, &dn);
  if (rc != 0) return rc;
  *dynNumber = hex_text(dyn, dn);
  return 0;
}

}  // namespace payterm
