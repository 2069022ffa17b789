// Resident ID card (read by the hub) and the e-card QR scanner.
#include <cstring>

#include "card_commands.h"
#include "session.h"

using namespace tessera;

static_assert(TESSERA_ID_PHOTO_SIZE == PORTICO_ID_PHOTO_SIZE, "the record passes through unchanged");

namespace {

// One ID card read in its own session; without photo, the hub's plain read.
int readIdCard(char *name, char *sex, char *nation, char *birthDate, char *address, char *idNumber,
               char *authority, char *validStart, char *validEnd, unsigned char *photo, int *photoLen,
               char *err) {
  if (!openOnDemand(err))
    return -1;
  int rc = photo ? IDCard_ReadPhoto(g_hDev, name, sex, nation, birthDate, address, idNumber, authority,
                                    validStart, validEnd, photo, photoLen, err)
                 : IDCard_Read(g_hDev, name, sex, nation, birthDate, address, idNumber, authority,
                               validStart, validEnd, err);
  QMX_CloseDev(err);
  return rc == 0 ? 0 : -2;
}

}  // namespace

int QMX_IDCard_Read(char *name, char *sex, char *nation, char *birthDate, char *address,
                    char *idNumber, char *authority, char *validStart, char *validEnd, char *err) {
  return readIdCard(name, sex, nation, birthDate, address, idNumber, authority, validStart, validEnd,
                    nullptr, nullptr, err);
}

int QMX_IDCard_ReadPhoto(char *name, char *sex, char *nation, char *birthDate, char *address,
                         char *idNumber, char *authority, char *validStart, char *validEnd,
                         unsigned char *photo, int *photoLen, char *err) {
  // A null photo still reads it (and checks it), so the call never turns
  // into the plain read.
  unsigned char scratch[TESSERA_ID_PHOTO_SIZE];
  return readIdCard(name, sex, nation, birthDate, address, idNumber, authority, validStart, validEnd,
                    photo ? photo : scratch, photoLen, err);
}

int QMX_ECard_SetAutoRead(int mode, char *err) {
  if (bIsOpen == 0 && !openOnDemand(err))
    return -1;
  unsigned char p2;
  switch (mode & 0xFF) {
  case 1:
    p2 = 0x00;
    break;
  case 0:
    p2 = 0x01;
    break;
  default:
    setErr(err, "未知参数!请重新设置扫码模式。");
    return -3;
  }
  const unsigned char cmd[] = {0x80, 0x17, 0x03, p2, 0x00};
  Reply r;
  if (exchangeOn(kSlotScanner, cmd, sizeof cmd, r) == kSwOk) {
    QMX_CloseDev(err);
    return 0;
  }
  setErr(err, "Set error!");
  QMX_CloseDev(err);
  return -1;
}

int QMX_ECard_AutoReadTime(unsigned int interval, char *err) {
  if (!openOnDemand(err))
    return -100;
  unsigned char cmd[kScanIntervalLen];
  if (!buildScanInterval(interval, cmd)) {
    QMX_CloseDev(err);
    return -3;
  }
  Reply r;
  int sw = exchangeOn(kSlotScanner, cmd, sizeof cmd, r);
  QMX_CloseDev(err);
  return sw == kSwOk ? 0 : -4;
}

int QMX_ECard_Read(int *outLen, char *out, unsigned int timeout, char *err) {
  if (!openOnDemand(err))
    return -100;
  const unsigned char cmd[] = {0xB0, 0xB0, 0x00, scanWait(timeout), 0x00};
  Reply r;
  if (exchangeOn(kSlotScanner, cmd, sizeof cmd, r) == kSwOk && r.len > 0) {
    // The caller's buffer holds 256 bytes; *outLen counts what it received.
    int n = r.len < 256 ? r.len : 256;
    std::memcpy(out, r.data, static_cast<std::size_t>(n));
    *outLen = n;
    QMX_CloseDev(err);
    return 0;
  }
  setErr(err, "Instruction execution error!");
  QMX_CloseDev(err);
  return -3;
}
