// Puts libpayterm's process-wide state back to its load-time values
// between tests (host mode included, which a process never leaves).
#pragma once

#include <string.h>

#include "payterm.h"

inline void reset_payterm_state() {
  Dev_Close();
  g_DEVTYPE = g_TERMTYPE = g_PORTTYPE = g_PORTNO = g_PORTBAUD = 0;
  g_BPTYPE = g_BPPORT = g_ICFLAG = g_ICTYPE = g_icdev = 0;
  g_FindCardFlag = g_Wy_Flag = g_Wy_type = 0;
  g_fc = nullptr;
  memset(g_DEVICE_DRV_PATH, 0, sizeof g_DEVICE_DRV_PATH);
  g_work_dir[0] = '\0';
}
