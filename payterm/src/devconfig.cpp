// Process-wide reader configuration: device type and driver path, the
// terminal and port settings, and the configuration dump.
#include <stdlib.h>
#include <string.h>

#include "devconfig.h"
#include "payterm.h"

extern "C" {
int g_DEVTYPE = 0;
char g_DEVICE_DRV_PATH[256] = {0};
int g_TERMTYPE = 0;
int g_PORTTYPE = 0;
int g_PORTNO = 0;
int g_PORTBAUD = 0;
int g_BPTYPE = 0;
int g_BPPORT = 0;
int g_ICFLAG = 0;
int g_ICTYPE = 0;
int g_icdev = 0;
int g_FindCardFlag = 0;
int g_Wy_Flag = 0;
int g_Wy_type = 0;
PaytermHostExchange* g_fc = nullptr;
char g_work_dir[2048] = {0};
}

namespace payterm {

const char* device_label(int type) {
  switch (type) {
    case 1: return "T10N";
    case 2: return "D8";
    case 3: return "D6";
    case 4: return "Z9";
    case 5: return "SCCB";
    case 6: return "SDANDC";
    default: return "未知设备";
  }
}

const char* terminal_label(int type) {
  static const char* const kNames[] = {"未启用终端", "长城", "实达", "新大陆", "国光", "升腾"};
  if (type >= 0 && type <= 5) return kNames[type];
  return "其它";
}

const char* card_label(int flag) {
  switch (flag) {
    case '1': return "接触式IC";
    case '2': return "非接触式";
    case '3': return "自动判断";
    default: return "";
  }
}

namespace {

int number(const char* s) { return s != nullptr ? atoi(s) : 0; }
int first_char(const char* s) { return s != nullptr ? static_cast<unsigned char>(s[0]) : 0; }

void dump_configuration() {
  d_printf("-----------------------配置信息----------------------\n");
  d_printf("设备类型: %s\n", device_label(g_DEVTYPE));
  d_printf("驱动路径: %s\n", g_DEVICE_DRV_PATH);
  d_printf("终端类型: %s\n", terminal_label(g_TERMTYPE));
  d_printf("端口类型: %s\n", g_PORTTYPE == 1 ? "USB" : "COM");
  d_printf("端 口 号: %d\n", g_PORTNO);
  d_printf("波 特 率: %d\n", g_PORTBAUD);
  d_printf("转接口号: %c\n", g_BPPORT);
  d_printf("卡    型: %s\n", card_label(g_ICFLAG));
  d_printf("------------------------------------------------------\n");
}

}  // namespace
}  // namespace payterm

using namespace payterm;

extern "C" {

int Dc_Select(const char* DevType, const char* lib_path) {
  int type = number(DevType);
  if (type < 1 || type > 7) return PAYTERM_E_DEVTYPE;
  size_t n = lib_path != nullptr ? strnlen(lib_path, sizeof g_DEVICE_DRV_PATH) : 0;
  if (n < 1 || n > sizeof g_DEVICE_DRV_PATH - 1) return PAYTERM_E_DRV_PATH;
  g_DEVTYPE = type;
  memset(g_DEVICE_DRV_PATH, 0, sizeof g_DEVICE_DRV_PATH);
  memcpy(g_DEVICE_DRV_PATH, lib_path, n);
  d_printf("Dc_Select: %d %s\n", g_DEVTYPE, g_DEVICE_DRV_PATH);
  return 0;
}

int Dc_SetConfig(const char* TermType, const char* PortType, const char* PortNo,
                 const char* PortBaud, const char* BpType, const char* BpPort,
                 const char* IcFlag) {
  g_TERMTYPE = number(TermType);
  g_PORTTYPE = number(PortType);
  g_PORTNO = number(PortNo);
  g_PORTBAUD = number(PortBaud);
  g_BPPORT = first_char(BpPort);
  g_ICFLAG = first_char(IcFlag);
  d_printf("BpType: %s\n", BpType != nullptr ? BpType : "");
  int rc = 0;
  if (!((g_TERMTYPE >= 1 && g_TERMTYPE <= 5) || g_TERMTYPE == 56)) rc = -201;
  if (g_PORTTYPE < 1 || g_PORTTYPE > 2) rc = -202;
  if (g_PORTNO < 1 || g_PORTNO > 20) rc = -203;
  if (g_PORTBAUD != 9600 && g_PORTBAUD != 19200 && g_PORTBAUD != 115200) rc = -204;
  if (g_BPPORT != 'A' && g_BPPORT != 'B' && g_BPPORT != 'C' && g_BPPORT != 'K') rc = -206;
  if (g_ICFLAG < '1' || g_ICFLAG > '3') return -207;
  dump_configuration();
  return rc;
}

}  // extern "C"
