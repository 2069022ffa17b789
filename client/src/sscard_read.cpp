// Social-security card: opening, card number, identification code, region
// and the basic-information read built on the three authentication steps.
#include <cstdlib>
#include <cstring>

#include "Qmxtool.h"
#include "card_commands.h"
#include "session.h"
#include "sscard.h"

namespace tessera {

CardOpen openCard(OpenedCard &c) {
  c.slot = kSlotContact;
  if (QMX_PowerOn(kSlotContact, c.atr, &c.atrLen) != kSwOk) {
    c.slot = kSlotContactless;
    if (QMX_PowerOn(kSlotContactless, c.atr, &c.atrLen) != kSwOk)
      return CardOpen::NoCard;
  }
  unsigned char resp[256] = {};
  int len = 0;
  int sw = SelectSSSE(c.slot, '1', resp, &len);
  const unsigned char *fci = nullptr;
  Reply fetched;
  if (sw == 0 || swIs(sw, 0x6C)) {
    fci = resp;
  } else if (swIs(sw, 0x61)) {
    if (getResponse(sw, fetched) != kSwOk)
      return CardOpen::SelectApp;
    fci = fetched.data;
    len = fetched.len;
  }
  // Anything else: the application is carried on with, without an FCI.
  if (fci != nullptr)
    std::memcpy(c.fci, fci, static_cast<std::size_t>(len < 128 ? len : 128));
  if (SelectEF(c.slot, 0xEF05) != kSwOk)
    return CardOpen::SelectEf05;
  return CardOpen::Ok;
}

int readCardNo(int slot, unsigned char *rec) {
  std::memset(rec, 0, 256);
  int sw = ReadRecordByID(slot, 0x07, 0x0B, rec);
  if (sw == 0)
    return 0;
  if (!cardNoRetry(sw))
    return -36;
  std::memset(rec, 0, 256);
  return ReadRecordByID(slot, 0x07, static_cast<unsigned char>(sw & 0xFF), rec) == 0 ? 0 : -35;
}

}  // namespace tessera

using namespace tessera;

namespace {

// Opens the card for the number reads: 0 or the code with its message.
int openForNumber(OpenedCard &c, char *err) {
  switch (openCard(c)) {
  case CardOpen::Ok:
    return 0;
  case CardOpen::NoCard:
    setErr(err, "社保卡复位失败!请重新插入社保卡。");
    return -1;
  case CardOpen::SelectApp:
    setErr(err, "选择社保应用失败");
    return -2;
  case CardOpen::SelectEf05:
    break;
  }
  setErr(err, "选择EF05失败");
  return -3;
}

int readNumber(int slot, char *cardNo, char *err) {
  unsigned char rec[256];
  int rc = readCardNo(slot, rec);
  if (rc != 0) {
    setErr(err, "读社保卡号错误");
    return rc;
  }
  std::memcpy(cardNo, rec + 2, 9);
  return 0;
}

// Text copy into an output of the documented minimum size.
void copyText(char *out, const char *text, std::size_t cap) {
  std::size_t n = strnlen(text, cap - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
}

}  // namespace

int QMX_ReadCarNo(char *cardNo, char *err) {
  if (!openOnDemand(err))
    return -1;
  OpenedCard c;
  int rc = openForNumber(c, err);
  return rc != 0 ? rc : readNumber(c.slot, cardNo, err);
}

int QMX_ReadCardCertID(char *cardNo, char *certId, char *err) {
  if (!openOnDemand(err))
    return -1;
  OpenedCard c;
  int rc = openForNumber(c, err);
  if (rc != 0)
    return rc;
  unsigned char rec[256] = {};
  if (ReadRecordByID(c.slot, 0x01, 0x12, rec) != 0) {
    setErr(err, "读取卡识别码失败");
    return -4;
  }
  rc = readNumber(c.slot, cardNo, err);
  if (rc != 0)
    return rc;
  std::memset(rec, 0, sizeof rec);
  if (ReadRecordByID(c.slot, 0x01, 0x12, rec) != 0) {
    setErr(err, "读取卡识别码失败");
    return -4;
  }
  // certId holds an empty text of at least 33 bytes; StringToHex refuses
  // anything that would not fit and says so in err.
  if (StringToHex(reinterpret_cast<char *>(rec + 2), 16, certId, 33, err) != 0)
    return -4;
  return 0;
}

int QMX_ReadCardCity(char *region, char *err) {
  if (!openOnDemand(err))
    return -1;
  char cardNo[32] = {}, certId[64] = {};
  if (QMX_ReadCardCertID(cardNo, certId, err) != 0) {
    setErr(err, "读取地区编码失败!");
    return -1;
  }
  std::memcpy(region, certId, 6);
  return 0;
}

int QMX_ReadCardBas(char *certId, char *cardType, char *specVer, char *initOrgNo,
                    char *issueDate, char *validDate, char *cardNo, char *socialNo, char *name,
                    char *sex, char *nation, char *birthPlace, char *birthDate, char *err) {
  if (!openOnDemand(err))
    return -1;
  AUTHENINFO_S auth;
  BASEINFO_S base;
  std::memset(&auth, 0, sizeof auth);
  std::memset(&base, 0, sizeof base);
  int rc = ReadCardBas_Step1(&auth, err);
  if (rc == 0)
    rc = ReadCardBas_Step2(&auth, err);
  if (rc == 0)
    rc = ReadCardBas_Step3(&auth, &base, err);
  if (rc != 0) {
    QMX_CloseDev(err);
    return rc;
  }
  char *utf8 = nullptr;
  if (tool_gbk_to_utf8(std::strlen(base.szName), base.szName, &utf8, err) <= 0) {
    std::free(utf8);
    setErr(err, "姓名转换失败");
    return -88;
  }
  copyText(certId, base.szCardCertID, 33);
  copyText(cardType, base.szCardType, 2);
  copyText(specVer, base.szSpecVer, 5);
  copyText(initOrgNo, base.szInitOrgNo, 25);
  copyText(issueDate, base.szIssueDate, 9);
  copyText(validDate, base.szValidDate, 9);
  copyText(cardNo, base.szCardNo, 10);
  copyText(socialNo, base.szSocialNo, 19);
  // The UTF-8 name (at most 45 bytes from 30 GBK bytes) and the extension
  // as read (at most 20) fit the 66 bytes.
  copyText(name, utf8, 66);
  std::size_t used = std::strlen(name);
  copyText(name + used, base.szNameExt, 66 - used);
  std::free(utf8);
  char noKey[] = "", text[64] = {};
  if (CodeTranslate(1, std::atoi(base.szSex), noKey, text) == 0)
    copyText(sex, text, 4);
  CodeTranslate(2, std::atoi(base.szNation), noKey, text);
  copyText(nation, text, 13);
  copyText(birthPlace, base.szBirthPlace, 7);
  copyText(birthDate, base.szBirthDate, 9);
  return 0;
}
