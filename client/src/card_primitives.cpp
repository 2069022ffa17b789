// The exported card primitives: one command each on a chosen slot.
#include <cstring>

#include "Qmxtool.h"
#include "card_commands.h"
#include "session.h"

using namespace tessera;

namespace {

// The caller's response buffers hold 256 bytes.
constexpr int kCallerResp = 256;

int copyOut(const Reply &r, unsigned char *out) {
  int n = r.len < kCallerResp ? r.len : kCallerResp;
  if (out != nullptr)
    std::memcpy(out, r.data, static_cast<std::size_t>(n));
  return n;
}

int selectFile(int slot, unsigned char p1, unsigned short fid) {
  const unsigned char cmd[] = {0x00, 0xA4, p1, 0x00, 0x02, static_cast<unsigned char>(fid >> 8),
                               static_cast<unsigned char>(fid & 0xFF)};
  Reply r;
  return exchangeOn(slot, cmd, sizeof cmd, r);
}

}  // namespace

int SelectSSSE(int slot, char gen, unsigned char *resp, int *respLen) {
  unsigned char cmd[kSelectSsseLen];
  buildSelectSsse(gen, cmd);
  Reply r;
  int sw = exchangeOn(slot, cmd, sizeof cmd, r);
  int n = copyOut(r, resp);
  if (respLen != nullptr)
    *respLen = n;
  return sw == kSwOk ? 0 : sw;
}

int SelectEF(int slot, unsigned short fid) { return selectFile(slot, 0x02, fid); }

int SelectDF(int slot, unsigned short fid) {
  int sw = selectFile(slot, 0x00, fid);
  return sw == kSwOk ? 0 : sw;
}

int ReadRecordByID(int slot, unsigned char id, unsigned char le, unsigned char *out) {
  const unsigned char cmd[] = {0x00, 0xB2, id, 0x00, le};
  Reply r;
  int sw = exchangeOn(slot, cmd, sizeof cmd, r);
  copyOut(r, out);
  return sw == kSwOk ? 0 : sw;
}

int GetRandom(int slot, unsigned char *out) {
  static const unsigned char cmd[] = {0x00, 0x84, 0x00, 0x00, 0x08};
  Reply r;
  int sw = exchangeOn(slot, cmd, sizeof cmd, r);
  if (sw == kSwOk && out != nullptr)
    std::memcpy(out, r.data, 8);
  return sw;
}

int ReadPSAMID(int slot, char *serialHex, char *shortId, char *err) {
  unsigned char atr[kAtrMax];
  int atrLen = 0;
  int sw = QMX_PowerOn(slot, atr, &atrLen);
  if (sw != kSwOk) {
    setErr(err, "PSAM卡复位失败");
    return sw;
  }
  // READ BINARY of 10 bytes at offset 1 of the file with short identifier 0x15.
  static const unsigned char cmd[] = {0x00, 0xB0, 0x95, 0x01, 0x0A};
  Reply r;
  sw = exchange(cmd, sizeof cmd, r);
  if (sw != kSwOk) {
    setErr(err, "读取PSAM卡序列号失败!");
    return sw;
  }
  char hex[21] = "";
  StringToHex(reinterpret_cast<char *>(r.data + 2), 10, hex, sizeof hex, err);
  if (StringToHex(reinterpret_cast<char *>(r.data + 2), 10, serialHex, 21, err) != 0)
    return -1;
  std::memcpy(shortId, hex, 6);
  std::memcpy(shortId + 6, hex + 14, 6);
  shortId[12] = '\0';
  return 0;
}
