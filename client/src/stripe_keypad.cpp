// Magnetic stripe (raw tracks and the account number) and the keypad.
#include <cstdio>
#include <cstring>

#include "card_commands.h"
#include "session.h"

using namespace tessera;

namespace {

// The caller's track buffers hold 256 bytes.
constexpr int kTrackCap = 256;

int failOpen(char *err, const char *msg, int code) {
  setErr(err, msg);
  return code;
}

// Reads one track into out and its length as decimal text into lenText.
// A longer reply than the buffer holds is no track and fails the read.
bool readTrack(unsigned char track, char *out, char *lenText) {
  const unsigned char cmd[] = {0x00, 0xB0, track, 0x00, 0x00};
  Reply r;
  if (exchange(cmd, sizeof cmd, r) != kSwOk || r.len > kTrackCap)
    return false;
  std::memcpy(out, r.data, static_cast<std::size_t>(r.len));
  // At most "256" and its terminator.
  char text[12];
  std::snprintf(text, sizeof text, "%d", r.len);
  std::memcpy(lenText, text, std::strlen(text) + 1);
  return true;
}

}  // namespace

int QMX_MagCardRead(unsigned int timeout, char *track2, char *track2Len, char *track3,
                    char *track3Len, char *err) {
  if (!openOnDemand(err))
    return -100;
  Reply r;
  static const unsigned char slotSetup[] = {0xB0, 0xF2, 0x00, 0x02, 0x00};
  if (exchangeOn(kSlotReader, slotSetup, sizeof slotSetup, r) != kSwOk)
    return failOpen(err, "设置卡槽失败!", -2);
  unsigned char wait = stripeWait(timeout);

  Set_Nad(g_hDev, kSlotStripe);
  static const unsigned char tracks23[] = {0x80, 0x17, 0x03, 0x06, 0x00};
  if (exchange(tracks23, sizeof tracks23, r) != kSwOk)
    return failOpen(err, "设置读卡磁道二三磁道失败!", -2);
  static const unsigned char controlled[] = {0x00, 0x19, 0x06, 0x01, 0x00};
  if (exchange(controlled, sizeof controlled, r) != kSwOk)
    return failOpen(err, "设置读卡模式为受控模式失败!", -3);
  const unsigned char trigger[] = {0x00, 0x19, 0x20, wait, 0x00};
  if (exchange(trigger, sizeof trigger, r) != kSwOk)
    return failOpen(err, "触发读卡失败!", -4);
  if (!readTrack(0x02, track2, track2Len))
    return failOpen(err, "读二磁道的数据失败!", -5);
  if (!readTrack(0x03, track3, track3Len))
    return failOpen(err, "读三磁道的数据失败!", -6);
  static const unsigned char automatic[] = {0x00, 0x19, 0x21, 0x00, 0x00};
  if (exchange(automatic, sizeof automatic, r) != kSwOk)
    return failOpen(err, "恢复自动模式失败!", -7);
  static const unsigned char tracks2[] = {0x80, 0x17, 0x03, 0x02, 0x00};
  exchange(tracks2, sizeof tracks2, r);
  QMX_CloseDev(err);
  return 0;
}

int QMX_MagicBankCard_ReadNo(int timeout, char *accountNo, char *err) {
  if (!openOnDemand(err))
    return -100;
  // One byte more than a track can fill keeps both tracks terminated.
  char track2[kTrackCap + 1] = {}, track3[kTrackCap + 1] = {};
  char len2[4] = {}, len3[4] = {}, readErr[kErrCap] = {};
  int wait = stripeAccountWait(timeout);
  if (QMX_MagCardRead(static_cast<unsigned>(wait), track2, len2, track3, len3, readErr) != 0) {
    QMX_CloseDev(err);
    setErr(err, "读取磁条卡号失败！");
    return -1;
  }
  bool fromTrack3 = false;
  switch (accountFromTracks(track2, track3, accountNo, 256, &fromTrack3)) {
  case 0:
    return 0;
  case -2:
    setErr(err, "磁条卡二三磁道都未读到数据，请确认卡是否正常!");
    return -2;
  default:
    setErr(err, fromTrack3 ? "磁条卡三磁道数据显示不是标准的银行卡!" : "磁条卡二磁道数据显示不是标准的银行卡!");
    return -3;
  }
}

int QMX_KeyBoard_InputKey(int timeout, unsigned int bufSize, char *out, int *outLen, char *err) {
  if (!openOnDemand(err))
    return -100;
  const unsigned char cmd[] = {0x00, 0xF9, 0x08, keypadWait(timeout), 0x03, 0x00, 0x1B, 0x49};
  Reply r;
  int sw = exchangeOn(kSlotReader, cmd, sizeof cmd, r);
  int rc = 0;
  if (sw == kSwOk && r.len >= 2) {
    // The reply frames the keys with their count before and Enter after.
    unsigned n = static_cast<unsigned>(r.len - 2);
    if (bufSize > n) {
      std::memset(out, 0, bufSize);
      std::memcpy(out, r.data + 1, n);
      *outLen = static_cast<int>(n);
    } else {
      setErr(err, "返回结果数据的BUF长度不够");
      rc = -2;
    }
  } else {
    static const unsigned char cancel[] = {0xB0, 0xF9, 0x00, 0x00, 0x01, 0x83};
    exchange(cancel, sizeof cancel, r);
    setErr(err, sw == 0x6902 ? "输入超时" : "未知错误");
    rc = sw == 0x6902 ? -3 : -4;
  }
  QMX_CloseDev(err);
  return rc;
}
