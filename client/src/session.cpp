// The reader session: open, close, open on demand, and the hub exchange
// helpers shared by the operations.
#include "session.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "exe_dir.h"

int64_t g_hDev = -1;
unsigned char bIsOpen = 0;
char szPath[1024] = "";

namespace tessera {

void setErr(char *err, const char *msg) {
  if (err == nullptr)
    return;
  std::snprintf(err, kErrCap, "%s", msg);
}

void appendErr(char *err, const char *msg) {
  if (err == nullptr)
    return;
  std::size_t used = strnlen(err, kErrCap - 1);
  std::snprintf(err + used, kErrCap - used, "%s", msg);
}

bool openOnDemand(char *err) {
  if (bIsOpen == 1)
    return true;
  char passThrough[20] = {};
  return QMX_OpenDev(21, passThrough, err) == 0;
}

int exchange(const unsigned char *cmd, int len, Reply &r) {
  std::memset(r.data, 0, sizeof r.data);
  r.len = 0;
  r.sw = CPU_Protocol(g_hDev, len, cmd, &r.len, r.data);
  if (r.len < 0 || r.len > kReplyCap)
    r.len = r.len < 0 ? 0 : kReplyCap;
  return r.sw;
}

int exchangeOn(int slot, const unsigned char *cmd, int len, Reply &r) {
  Set_Nad(g_hDev, static_cast<unsigned char>(slot & 0xFF));
  return exchange(cmd, len, r);
}

int getResponse(int sw, Reply &r) {
  const unsigned char cmd[5] = {0x00, 0xC0, 0x00, 0x00, static_cast<unsigned char>(sw & 0xFF)};
  return exchange(cmd, sizeof cmd, r);
}

bool randomBytes(unsigned char *p, std::size_t n) {
  while (n > 0) {
    ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace tessera

using namespace tessera;

int QMX_OpenDev(int port, char *passThrough, char *err) {
  if (bIsOpen == 1) {
    setErr(err, "设备已打开，无需重复打开!");
    return -4;
  }
  // Rebuilt at every open; a directory that cannot be read leaves the path
  // empty, so the file simply cannot be opened.
  char dir[sizeof szPath];
  szPath[0] = '\0';
  if (qmx_exe_dir(dir, sizeof dir)) {
    int n = std::snprintf(szPath, sizeof szPath, "%s/config.ini", dir);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof szPath)
      szPath[0] = '\0';
  }
  g_hDev = OpenDev(&port, passThrough, err);
  if (g_hDev <= 0)
    return -1;
  bIsOpen = 1;
  return 0;
}

int QMX_CloseDev(char *err) {
  CloseDev(g_hDev, err);
  bIsOpen = 0;
  g_hDev = 0;
  return 0;
}

int QMX_PowerOn(int slot, unsigned char *atr, int *atrLen) {
  Set_Nad(g_hDev, static_cast<unsigned char>(slot & 0xFF));
  // Only a real answer to reset (at most 33 bytes) reaches the caller.
  unsigned char buf[kAtrCap] = {};
  int len = 0;
  int rc = Cpu_Reset(g_hDev, &len, buf);
  if (len < 0)
    len = 0;
  if (len > kAtrMax)  // also keeps a wrong count within buf
    len = kAtrMax;
  if (atr != nullptr)
    std::memcpy(atr, buf, static_cast<std::size_t>(len));
  if (atrLen != nullptr)
    *atrLen = len;
  return rc;
}
