// The three steps of the basic-information read: the card proves itself to
// the PSAM (internal authentication), cards of version 3 and later accept
// the PSAM's cryptogram (external authentication), then the records are
// read.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Qmxtool.h"
#include "card_commands.h"
#include "session.h"
#include "sscard.h"

using namespace tessera;

namespace {

int fail(char *err, const char *msg, int code) {
  setErr(err, msg);
  return code;
}

// Sends a case-4 command and fetches a 61 xx answer; the final status.
int exchangeFetching(int slot, const unsigned char *cmd, int len, Reply &r) {
  int sw = exchangeOn(slot, cmd, len, r);
  return swIs(sw, 0x61) ? getResponse(sw, r) : sw;
}

// Finds the PSAM: the configured slot first, then slots 22 to 25; a PSAM
// found elsewhere than configured is written back. 0 when none answers.
int findPsam() {
  char section[] = "Set", key[] = "PSAM", value[1024] = "";
  GetIniKeyString(section, key, szPath, value);
  std::printf("路径为:%s  PSAM卡槽为:%s\n", szPath, value);
  std::fflush(stdout);
  unsigned char atr[kAtrMax];
  int atrLen = 0;
  int slot = std::atoi(value);
  // Only PSAM slots are tried: another configured slot (or none, 0) could
  // reset the user card and take it for the PSAM.
  if (slot >= kSlotPsamFirst && slot <= kSlotPsamLast && QMX_PowerOn(slot, atr, &atrLen) == kSwOk)
    return slot;
  for (slot = kSlotPsamFirst; slot <= kSlotPsamLast; ++slot) {
    if (QMX_PowerOn(slot, atr, &atrLen) == kSwOk) {
      char text[8];
      std::snprintf(text, sizeof text, "%d", slot);
      PutIniKeyString(section, key, text, szPath);
      return slot;
    }
  }
  return 0;
}

struct Record {
  unsigned char id, le;
  int size;   // value bytes used
  bool hex;   // kept as hex digits, else as read
  std::size_t offset, cap;  // field of BASEINFO_S
  int code;   // 0: optional record
  const char *msg;
};

#define FIELD(f) offsetof(BASEINFO_S, f), sizeof(BASEINFO_S::f)
const Record kEf05[] = {
    {0x02, 0x03, 1, false, FIELD(szCardType), -34, "读社保卡类别错误"},
    {0x04, 0x0E, 12, true, FIELD(szInitOrgNo), -37, "读初始化机构编号错误"},
    {0x05, 0x06, 4, true, FIELD(szIssueDate), -38, "读社保卡发卡日期错误"},
    {0x06, 0x06, 4, true, FIELD(szValidDate), -39, "读社保卡有效期错误"},
};
const Record kEf06[] = {
    {0x08, 0x14, 18, false, FIELD(szSocialNo), -41, "读社会保障号码错误"},
    {0x09, 0x20, 30, false, FIELD(szName), -42, "读姓名错误"},
    {0x4E, 0x16, 20, false, FIELD(szNameExt), 0, nullptr},
    {0x0A, 0x03, 1, false, FIELD(szSex), -43, "读性别错误"},
    {0x0B, 0x03, 1, true, FIELD(szNation), -44, "读民族错误"},
    {0x0C, 0x05, 3, true, FIELD(szBirthPlace), -45, "读出生地错误"},
    {0x0D, 0x06, 4, true, FIELD(szBirthDate), -46, "读出生日期错误"},
};
#undef FIELD

template <std::size_t N>
int readRecords(int slot, const Record (&list)[N], BASEINFO_S *base, char *err) {
  for (const Record &r : list) {
    unsigned char rec[256] = {};
    if (readRecordValue(slot, r.id, r.le, rec, r.size) != 0) {
      if (r.code == 0)
        continue;
      return fail(err, r.msg, r.code);
    }
    char *field = reinterpret_cast<char *>(base) + r.offset;
    // Record layout: id, length, value.
    if (r.hex)
      StringToHex(reinterpret_cast<char *>(rec + 2), r.size, field, static_cast<int>(r.cap), nullptr);
    else
      std::memcpy(field, rec + 2, static_cast<std::size_t>(r.size));
  }
  return 0;
}

}  // namespace

int ReadCardBas_Step1(AUTHENINFO_S *a, char *err) {
  OpenedCard c;
  switch (openCard(c)) {
  case CardOpen::Ok:
    break;
  case CardOpen::NoCard:
    return fail(err, "复位失败", -1);
  case CardOpen::SelectApp:
    return fail(err, "选择社保应用失败", -2);
  case CardOpen::SelectEf05:
    return fail(err, "选择EF05失败", -3);
  }
  a->nCardSlot = c.slot;
  a->nAtrLen = c.atrLen;
  std::memcpy(a->abAtr, c.atr, sizeof a->abAtr);

  unsigned char rec[256] = {};
  if (readRecordValue(c.slot, 0x01, 0x12, rec, 16) != 0)
    return fail(err, "读取卡识别码失败", -4);
  a->szCardCertID[0] = '\0';
  StringToHex(reinterpret_cast<char *>(rec + 2), 16, a->szCardCertID, sizeof a->szCardCertID, nullptr);
  std::memcpy(a->szRegion, a->szCardCertID, 6);
  a->szRegion[6] = '\0';
  a->szCardGen[0] = '0';
  a->szCardGen[1] = cardGeneration(c.fci, 128, a->szCardCertID);
  a->szCardGen[2] = '\0';

  // All four version bytes: the zeros of a record cut short must not read
  // as version "1.0", which skips the external authentication.
  std::memset(rec, 0, sizeof rec);
  if (readRecordValue(c.slot, 0x03, 0x06, rec, 4) != 0)
    return fail(err, "读社保卡规范版本失败", -5);
  if (rec[2] == 0) {
    std::strcpy(a->szSpecVer, "1.0");
  } else {
    std::memcpy(a->szSpecVer, rec + 2, 4);
    a->szSpecVer[4] = '\0';
  }

  // Fresh unpredictable challenges for every read: a recorded answer must
  // never fit a later one.
  if (!randomBytes(a->abRand1, 8) || !randomBytes(a->abRand2, 8) || !randomBytes(a->abRand3, 8))
    return fail(err, "产生随机数失败", -7);

  unsigned char cmd[21] = {0x00, 0x88, 0x00, 0x00, 0x10};
  std::memcpy(cmd + 5, a->abRand1, 8);
  std::memcpy(cmd + 13, a->abRand2, 8);
  Reply r;
  int sw = exchangeOn(c.slot, cmd, sizeof cmd, r);
  if (swIs(sw, 0x61) && getResponse(sw, r) != kSwOk)
    return fail(err, "内部认证码产生失败", -6);
  // Another refusal is not reported here: the answer then cannot match the
  // PSAM's and the verification reports it.
  std::memcpy(a->abCardAuthResult, r.data, 8);

  if (a->szSpecVer[0] > '2' && GetRandom(c.slot, a->abCardChallenge) != kSwOk)
    return fail(err, "产生随机数失败", -7);
  return 0;
}

int ReadCardBas_Step2(AUTHENINFO_S *a, char *err) {
  // The diversification takes the last 8 bytes of the answer to reset.
  if (a->nAtrLen < 8 || a->nAtrLen > static_cast<int>(sizeof a->abAtr))
    return fail(err, "社保卡复位信息长度无效,无法认证", -19);
  int psam = findPsam();
  if (psam == 0)
    return fail(err, "PSAM卡复位失败,请插入PSAM卡！", -13);
  char gen = a->szCardGen[1];
  unsigned char resp[256];
  int respLen = 0;
  int sw = SelectSSSE(psam, gen, resp, &respLen);
  if (sw != 0 && !swIs(sw, 0x61))
    return fail(err, "PSAM卡版本过低，请更换新版PSAM卡", -14);
  sw = SelectDF(psam, 0xDF01);
  if (sw != 0 && !swIs(sw, 0x61))
    return fail(err, "选择社保应用专用文件失败！", -15);

  const unsigned char *atrTail = a->abAtr + a->nAtrLen - 8;
  unsigned char cmd[45];
  Reply r;
  int n = buildDiversify(0x08, diversifyLc(gen), atrTail, a->szRegion, a->abRand1, cmd);
  if (exchangeOn(psam, cmd, n, r) != kSwOk)
    return fail(err, "PSAM内部认证码分散错误", -16);
  n = buildEncrypt(encryptLc(gen), a->abRand2, cmd);
  // A PSAM that refuses to encrypt is reported here: its empty answer must
  // not be compared with an equally empty one from the card.
  if (exchangeFetching(psam, cmd, n, r) != kSwOk)
    return fail(err, "PSAM内部认证码加密错误", -17);
  if (gen == '1')
    std::memcpy(a->abPsamAuthResult, r.data, 8);
  else
    foldBlocks(r.data, a->abPsamAuthResult);

  if (a->szSpecVer[0] <= '2')
    return 0;
  n = buildDiversify(0x0A, 0x28, atrTail, a->szRegion, a->abCardChallenge, cmd);
  if (exchangeOn(psam, cmd, n, r) != kSwOk)
    return fail(err, "PSAM外部认证码分散错误", -18);
  n = buildEncrypt(0x10, a->abRand3, cmd);
  if (exchangeFetching(psam, cmd, n, r) != kSwOk)
    return fail(err, "PSAM外部认证码加密错误", -18);
  foldBlocks(r.data, a->abExtAuthCrypt);
  return 0;
}

int ReadCardBas_Step3(AUTHENINFO_S *a, BASEINFO_S *base, char *err) {
  if (std::memcmp(a->abPsamAuthResult, a->abCardAuthResult, 8) != 0)
    return fail(err, "内部认证错误", -31);
  int slot = a->nCardSlot;
  if (a->szSpecVer[0] > '2') {
    unsigned char cmd[21] = {0x00, 0x82, 0x00, 0x0A, 0x10};
    std::memcpy(cmd + 5, a->abExtAuthCrypt, 8);
    std::memcpy(cmd + 13, a->abRand3, 8);
    Reply r;
    int sw = exchangeOn(slot, cmd, sizeof cmd, r);
    if (sw != kSwOk) {
      if (err != nullptr)
        std::snprintf(err, kErrCap, "外部认证错误:%X", static_cast<unsigned>(sw));
      return -32;
    }
  }

  std::memset(base, 0, sizeof *base);
  char atrHex[35] = "";
  StringToHex(reinterpret_cast<char *>(a->abAtr), 17, atrHex, sizeof atrHex, nullptr);
  std::memcpy(base->szResetTail, atrHex + 18, 16);
  std::memcpy(base->szCardCertID, a->szCardCertID, sizeof base->szCardCertID - 1);
  std::memcpy(base->szRegion, a->szCardCertID, 6);
  std::memcpy(base->szSpecVer, a->szSpecVer, sizeof base->szSpecVer - 1);

  if (SelectEF(slot, 0xEF05) != kSwOk)
    return fail(err, "选择EF05失败", -33);
  unsigned char rec[256];
  int rc = readCardNo(slot, rec);
  if (rc != 0)
    return fail(err, "读社保卡号错误", rc);
  std::memcpy(base->szCardNo, rec + 2, 9);
  rc = readRecords(slot, kEf05, base, err);
  if (rc != 0)
    return rc;
  if (SelectEF(slot, 0xEF06) != kSwOk)
    return fail(err, "选择EF06失败", -40);
  return readRecords(slot, kEf06, base, err);
}
