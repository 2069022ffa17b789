// Chip bank card: the account number from the track-2 equivalent data
// (tag 57) of record 1 of the file with short identifier 1.
#include <cstring>

#include "Qmxtool.h"
#include "card_commands.h"
#include "session.h"

using namespace tessera;

namespace {

int closing(char *err, const char *msg, int code, bool append = false) {
  if (append)
    appendErr(err, msg);
  else
    setErr(err, msg);
  QMX_CloseDev(err);
  return code;
}

}  // namespace

int QMX_ICBankCard_ReadNO(char *accountNo, char *err) {
  if (!openOnDemand(err))
    return -100;
  Set_Nad(g_hDev, kSlotContact);
  Reply r;
  // The reader's own card reset.
  static const unsigned char reset[] = {0x00, 0x12, 0x00, 0x00, 0x00};
  if (exchange(reset, sizeof reset, r) != kSwOk)
    return closing(err, "复位失败!", -3);

  static const unsigned char select[] = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00,
                                         0x03, 0x33, 0x01, 0x01, 0x01};
  int sw = exchange(select, sizeof select, r);
  if (swIs(sw, 0x61)) {
    if (getResponse(sw, r) != kSwOk)
      return closing(err, "卡片不存在金融应用!", -4);
  } else if (sw != kSwOk) {
    return closing(err, "卡片不存在金融应用!", -5);
  }

  unsigned char readRecord[] = {0x00, 0xB2, 0x01, 0x0C, 0x00};
  sw = exchange(readRecord, sizeof readRecord, r);
  if (swIs(sw, 0x6C)) {
    readRecord[4] = static_cast<unsigned char>(sw & 0xFF);
    if (exchange(readRecord, sizeof readRecord, r) != kSwOk)
      return closing(err, "等效二磁道读取卡号失败!", -6);
  } else if (sw != kSwOk) {
    return closing(err, "等效二磁道读取卡号失败!", -7);
  }

  // A record of 128 bytes or more does not fit: StringToHex says so in err
  // and the text stays empty, so no tag is found.
  char hex[256] = "";
  StringToHex(reinterpret_cast<char *>(r.data), r.len, hex, sizeof hex, err);
  const char *start = nullptr;
  int len = 0;
  int rc = accountFromRecordHex(hex, &start, &len);
  if (rc != 0)
    return closing(err, " :银行卡号读取失败", rc, true);
  std::memcpy(accountNo, start, static_cast<std::size_t>(len));
  QMX_CloseDev(err);
  return 0;
}
