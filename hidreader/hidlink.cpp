// Reader table, open/close, node address, the exchange and reader commands.
#include <hidapi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "elog_internal.h"
#include "hidlink_internal.h"

// Process-wide state the interface demands, with static storage and no
// constructor or destructor of its own, so it is usable from the load-time
// set-up below:
// - g_hid_devices: the reader table; handles are addresses of its slots. A
//   slot owns its hidapi device from a successful HV_open until HV_close,
//   the reader's unplugging, or the process exit.
// - g_NAD: see hidlink_internal.h.
__HVRD_DEVICE g_hid_devices[HV_MAX_DEVICES];
uint8_t g_NAD = NAD_ICCARD;

namespace {

// Printed from this hidden copy so that another library's LIB_INFO cannot
// take the place of ours in the banner.
constexpr char kBanner[] = "libhidlink.so v1.4.5 build (" __DATE__ " " __TIME__ ")";

bool g_logStarted;

constexpr size_t kNameMaxLen = 63;
constexpr size_t kSerialTextMax = 255;
constexpr uint32_t kSerialMaxLen = HV_REPORT_SIZE - 5;

using Header = std::array<uint8_t, 5>;
constexpr Header kGetVersion = {0x00, 0x19, 0x00, 0x00, 0x00};
constexpr Header kGetSerial = {0x00, 0x19, 0x01, 0x01, 0x14};
constexpr Header kEraseSerial = {0x00, 0x19, 0x01, 0xEE, 0x02};
constexpr Header kSetSerial = {0x00, 0x19, 0x01, 0x02, 0x00};
constexpr Header kBeep = {0xB0, 0xF2, 0x00, 0x00, 0x00};
constexpr Header kLedControl = {0xB0, 0x17, 0x00, 0x23, 0x00};

hid_device *hid(void *dev) { return static_cast<hid_device *>(dev); }

// The slot a handle names, or nullptr: only the addresses of slots 1..9 are
// handles, so a stray pointer is refused instead of dereferenced.
phvrd_device_t slotOf(void *handle) {
  auto p = reinterpret_cast<uintptr_t>(handle);
  auto first = reinterpret_cast<uintptr_t>(&g_hid_devices[1]);
  auto last = reinterpret_cast<uintptr_t>(&g_hid_devices[HV_MAX_DEVICES - 1]);
  if (!handle || handle == HV_INVALID_HANDLE || p < first || p > last || (p - first) % sizeof(__HVRD_DEVICE) != 0)
    return nullptr;
  return static_cast<phvrd_device_t>(handle);
}

void clearSlot(__HVRD_DEVICE &slot) {
  slot.is_exist = false;
  slot.is_open = false;
  std::memset(slot.path, 0, sizeof slot.path);
  if (slot.dev) {
    hid_close(hid(slot.dev));
    slot.dev = nullptr;
  }
}

bool pathListed(const hid_device_info *list, const char *path) {
  for (; list; list = list->next)
    if (list->interface_number == HL_INTERFACE && list->path && std::strcmp(list->path, path) == 0) return true;
  return false;
}

bool pathRegistered(const char *path) {
  for (int i = 1; i < HV_MAX_DEVICES; i++)
    if (g_hid_devices[i].is_exist && std::strcmp(g_hid_devices[i].path, path) == 0) return true;
  return false;
}

// Frees the slots of readers that are gone and registers new ones.
void enumerateReaders() {
  hid_device_info *list = hid_enumerate(HL_VENDOR_ID, HL_PRODUCT_ID);
  for (int i = 1; i < HV_MAX_DEVICES; i++) {
    if (g_hid_devices[i].is_exist && !pathListed(list, g_hid_devices[i].path)) {
      log_i("reader %d gone: %s", i, g_hid_devices[i].path);
      clearSlot(g_hid_devices[i]);
    }
  }
  for (const hid_device_info *e = list; e; e = e->next) {
    if (e->interface_number != HL_INTERFACE || !e->path || pathRegistered(e->path)) continue;
    // A cut path would open another device, or none.
    if (std::strlen(e->path) >= sizeof g_hid_devices[0].path) {
      log_e("reader path too long, ignored: %.127s...", e->path);
      continue;
    }
    for (int i = 1; i < HV_MAX_DEVICES; i++) {
      __HVRD_DEVICE &slot = g_hid_devices[i];
      if (!slot.is_exist) {
        slot.is_exist = true;
        std::memset(slot.path, 0, sizeof slot.path);
        std::strcpy(slot.path, e->path);
        break;
      }
    }
  }
  hid_free_enumeration(list);
}

// Slot number for a name "hid"/"hidN"; -1 when the name is refused.
int slotNumber(const char *name) {
  size_t len = std::strlen(name);
  if (len == 3) {
    for (int i = 1; i < HV_MAX_DEVICES; i++)
      if (g_hid_devices[i].is_exist) return i;
    return 1;
  }
  std::array<char, kNameMaxLen + 1> lower{};
  for (size_t i = 0; i < len; i++) lower[i] = char(std::tolower(static_cast<unsigned char>(name[i])));
  char *end = nullptr;
  long n = std::strtol(lower.data() + 3, &end, 10);
  if (end == lower.data() + 3) return 1;
  if (n > HV_MAX_DEVICES - 1 || n <= 0) {
    log_e("END HANDLE = %d", -1);
    return -1;
  }
  return int(n);
}

// Appends the UTF-8 form of c if it fits in cap (NUL excluded); its length,
// or 0 when it does not fit.
size_t putUtf8(uint8_t *out, size_t at, size_t cap, uint32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  std::array<uint8_t, 4> b{};
  size_t n;
  if (c < 0x80) {
    b[0] = uint8_t(c);
    n = 1;
  } else if (c < 0x800) {
    b[0] = uint8_t(0xC0 | (c >> 6));
    b[1] = uint8_t(0x80 | (c & 0x3F));
    n = 2;
  } else if (c < 0x10000) {
    b[0] = uint8_t(0xE0 | (c >> 12));
    b[1] = uint8_t(0x80 | ((c >> 6) & 0x3F));
    b[2] = uint8_t(0x80 | (c & 0x3F));
    n = 3;
  } else {
    b[0] = uint8_t(0xF0 | (c >> 18));
    b[1] = uint8_t(0x80 | ((c >> 12) & 0x3F));
    b[2] = uint8_t(0x80 | ((c >> 6) & 0x3F));
    b[3] = uint8_t(0x80 | (c & 0x3F));
    n = 4;
  }
  if (at + n > cap) return 0;
  std::memcpy(out + at, b.data(), n);
  return n;
}

uint32_t logged(const char *func, uint32_t sw) {
  log_i("%s END SW = 0x%04X", func, sw);
  return sw;
}

}  // namespace

const char *LIB_INFO = kBanner;

void hidlink_elog_init() {
  if (g_logStarted) return;
  g_logStarted = true;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  elog_init();
  elog_set_fmt(ELOG_LVL_ASSERT, ELOG_FMT_ALL);
  for (uint8_t lvl = ELOG_LVL_ERROR; lvl <= ELOG_LVL_DEBUG; lvl++)
    elog_set_fmt(lvl, ELOG_FMT_LVL | ELOG_FMT_TAG | ELOG_FMT_TIME);
  elog_set_fmt(ELOG_LVL_VERBOSE, ELOG_FMT_ALL & ~ELOG_FMT_FUNC);
  elog_set_text_color_enabled(true);
  elog_start();
  elog_set_filter_lvl(ELOG_LVL_ERROR);
  elog_raw("\n%s\n\n", kBanner);
}

__attribute__((constructor)) void hidlink_init() {
  hidlink_elog_init();
  for (int i = 1; i < HV_MAX_DEVICES; i++) g_hid_devices[i] = __HVRD_DEVICE{};
}

// Open readers are left to the process exit.
__attribute__((destructor)) void hidlink_fini() {
  if (g_logStarted) {
    g_logStarted = false;
    elog_stop();
  }
}

void *HV_open(const char *name, uint32_t, const char *) {
  if (!name || (std::strncmp(name, "hid", 3) != 0 && std::strncmp(name, "HID", 3) != 0)) return HV_INVALID_HANDLE;
  if (strnlen(name, kNameMaxLen + 1) > kNameMaxLen) {
    log_e("%s name longer than %d characters", __func__, int(kNameMaxLen));
    return HV_INVALID_HANDLE;
  }

  enumerateReaders();
  int n = slotNumber(name);
  if (n < 0) return HV_INVALID_HANDLE;
  __HVRD_DEVICE &slot = g_hid_devices[n];
  if (!slot.is_exist) {
    log_i("%s no reader in slot %d", __func__, n);
    return HV_INVALID_HANDLE;
  }
  // A slot whose open failed (the reader was held by another program) is
  // tried again, so the reader becomes usable once it is let go; a slot
  // open on a device keeps it.
  if (!slot.is_open || !slot.dev) {
    slot.is_open = true;
    slot.dev = hid_open_path(slot.path);
    if (!slot.dev) log_e("%s cannot open %s", __func__, slot.path);
  }
  log_i("%s END HANDLE = slot %d", __func__, n);
  return &slot;
}

uint32_t HV_close(void *handle) {
  phvrd_device_t slot = slotOf(handle);
  uint32_t sw = HV_SW_BAD_HANDLE;
  if (slot && slot->is_exist && slot->dev) {
    hid_close(hid(slot->dev));
    slot->dev = nullptr;
    slot->is_open = false;
    sw = HV_SW_OK;
  }
  return logged(__func__, sw);
}

void HV_clear(void *) {}

uint32_t HV_get_hid_path(void *handle, uint32_t *lenr, uint8_t *resp) {
  phvrd_device_t slot = slotOf(handle);
  uint32_t sw;
  if (!slot) {
    sw = HV_SW_BAD_HANDLE;
  } else if (!lenr || !resp) {
    sw = HV_SW_BAD_RESPONSE;
  } else {
    size_t n = strnlen(slot->path, sizeof slot->path - 1);
    std::memcpy(resp, slot->path, n);
    resp[n] = 0;
    *lenr = uint32_t(n);
    sw = HV_SW_OK;
  }
  return logged(__func__, sw);
}

uint32_t HV_get_hid_serial_number(void *handle, uint32_t *lenr, uint8_t *resp) {
  phvrd_device_t slot = slotOf(handle);
  uint32_t sw;
  std::array<wchar_t, 128> wide{};
  if (!slot || !slot->is_exist || !slot->dev) {
    sw = HV_SW_BAD_HANDLE;
  } else if (!lenr || !resp) {
    sw = HV_SW_BAD_RESPONSE;
  } else if (hid_get_serial_number_string(hid(slot->dev), wide.data(), wide.size()) != 0) {
    sw = HV_SW_IO_FAILED;
  } else {
    size_t len = 0;
    wide.back() = L'\0';
    for (size_t i = 0; wide[i]; i++) {
      size_t n = putUtf8(resp, len, kSerialTextMax, uint32_t(wide[i]));
      if (n == 0) break;
      len += n;
    }
    resp[len] = 0;
    *lenr = uint32_t(len);
    sw = HV_SW_OK;
  }
  return logged(__func__, sw);
}

void HV_set_nad(void *, uint8_t nad) { g_NAD = hl_nad_alias(nad); }

void HV_set_debug_level(debug_level_e level) {
  if (unsigned(level) > ELOG_LVL_VERBOSE) return;
  elog_set_filter_lvl(uint8_t(level));
}

uint32_t hl_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len, uint8_t *out_data,
                     size_t out_cap, int timeout) {
  phvrd_device_t slot = slotOf(handle);
  if (!slot) return HV_SW_BAD_HANDLE;
  void *dev = slot->dev;
  log_d("apdu_exchange ==> HANDLE <0x%08x> NAD <0x%02X>", unsigned(reinterpret_cast<uintptr_t>(dev)), g_NAD);
  if (in_data) elog_hexdump("transmit", 16, in_data, in_len);

  int stale = hl_drain_input(dev);
  if (stale > 0) log_w("discarded %d stale report(s)", stale);
  if (transmit(dev, g_NAD, in_data, in_len) != 0) return HV_SW_IO_FAILED;

  std::array<uint8_t, HV_MAX_RESPONSE> buf;
  uint32_t len = 0;
  if (receive(dev, g_NAD, buf.data(), &len, timeout) != 0) return HV_SW_IO_FAILED;
  elog_hexdump("receive ", 16, buf.data(), len);

  if (len < 2) return HV_SW_BAD_RESPONSE;
  uint32_t dataLen = len - 2;
  if (dataLen > 0 && (!out_data || !out_len)) return HV_SW_BAD_RESPONSE;
  if (dataLen > out_cap) {
    log_e("reply of %u bytes does not fit %zu", dataLen, out_cap);
    return HV_SW_BAD_RESPONSE;
  }
  if (out_data && dataLen > 0) std::memcpy(out_data, buf.data(), dataLen);
  if (out_len) *out_len = dataLen;
  return uint32_t(buf[len - 2]) << 8 | buf[len - 1];
}

uint32_t hl_exchange_with_nad(void *handle, Nad nad, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                              uint8_t *out_data, size_t out_cap, int timeout) {
  const uint8_t saved = g_NAD;
  HV_set_nad(handle, uint8_t(nad));
  uint32_t sw = hl_exchange(handle, in_len, in_data, out_len, out_data, out_cap, timeout);
  HV_set_nad(handle, saved);
  return sw;
}

uint32_t apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len, uint8_t *out_data,
                       int timeout) {
  return hl_exchange(handle, in_len, in_data, out_len, out_data, HV_MAX_REPLY_DATA, timeout);
}

uint32_t apdu_exchange_with_nad(void *handle, Nad nad, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                                uint8_t *out_data, int timeout) {
  return hl_exchange_with_nad(handle, nad, in_len, in_data, out_len, out_data, HV_MAX_REPLY_DATA, timeout);
}

int hl_wait_limit(uint32_t seconds) {
  uint64_t ms = uint64_t(seconds) * 1000u + 500u;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : int(ms);
}

int hl_command_limit(uint8_t nad, uint32_t len, const uint8_t *cmd) {
  if (!cmd || len < 5) return HL_LIMIT_DEFAULT;
  bool waits = false;
  switch (Nad(nad)) {
    case Nad::System:  // keypad
      waits = cmd[0] == 0x00 && cmd[1] == 0xF9 && cmd[2] == 0x08;
      break;
    case Nad::MCard:  // stripe trigger
      waits = cmd[0] == 0x00 && cmd[1] == 0x19 && cmd[2] == 0x20;
      break;
    case Nad::Barcode:  // scan
      waits = (cmd[0] == 0xB0 || cmd[0] == 0x00) && cmd[1] == 0xB0 && cmd[2] == 0x00;
      break;
    default:
      break;
  }
  return waits ? std::max(hl_wait_limit(cmd[3]), HL_LIMIT_DEFAULT) : HL_LIMIT_DEFAULT;
}

uint32_t ICC_apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                           uint8_t *out_data) {
  return logged(__func__,
                apdu_exchange(handle, in_len, in_data, out_len, out_data, hl_command_limit(g_NAD, in_len, in_data)));
}

uint32_t HV_command_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                             uint8_t *out_data) {
  return logged(__func__,
                apdu_exchange(handle, in_len, in_data, out_len, out_data, hl_command_limit(g_NAD, in_len, in_data)));
}

uint32_t HV_command_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len, const uint8_t *in_data,
                                      uint32_t *out_len, uint8_t *out_data) {
  return logged(__func__, apdu_exchange_with_nad(handle, Nad(hl_nad_alias(nad)), in_len, in_data, out_len, out_data,
                                                 hl_command_limit(hl_nad_alias(nad), in_len, in_data)));
}

uint32_t HV_get_application_version(void *handle, uint32_t *lenr, uint8_t *resp) {
  return logged(__func__,
                apdu_exchange_with_nad(handle, Nad::System, 5, kGetVersion.data(), lenr, resp, HL_LIMIT_DEFAULT));
}

uint32_t HV_get_serial_number(void *handle, uint32_t *lenr, uint8_t *resp) {
  return logged(__func__,
                apdu_exchange_with_nad(handle, Nad::System, 5, kGetSerial.data(), lenr, resp, HL_LIMIT_DEFAULT));
}

uint32_t HV_set_serial_number(void *handle, uint32_t len, const uint8_t *comm) {
  if (len > kSerialMaxLen || (len > 0 && !comm)) {
    log_e("%s serial number of %u bytes refused", __func__, len);
    return logged(__func__, HV_SW_IO_FAILED);
  }
  uint32_t sw =
      apdu_exchange_with_nad(handle, Nad::System, 5, kEraseSerial.data(), nullptr, nullptr, HL_LIMIT_DEFAULT);
  if (sw == HV_SW_OK) {
    std::array<uint8_t, HV_REPORT_SIZE> cmd{};
    uint32_t rlen = 0;
    std::copy(kSetSerial.begin(), kSetSerial.end(), cmd.begin());
    cmd[4] = uint8_t(len);
    if (len > 0) std::memcpy(cmd.data() + 5, comm, len);
    sw = apdu_exchange_with_nad(handle, Nad::System, len + 5, cmd.data(), &rlen, nullptr, HL_LIMIT_DEFAULT);
  }
  return logged(__func__, sw);
}

void HV_beep(void *handle, uint32_t delta) {
  Header cmd = kBeep;
  cmd[2] = uint8_t(delta >> 8);
  cmd[3] = uint8_t(delta);
  apdu_exchange_with_nad(handle, Nad::System, 5, cmd.data(), nullptr, nullptr, HL_LIMIT_DEFAULT);
}

void HV_led_control(void *handle, uint8_t data) {
  std::array<uint8_t, 6> cmd = {kLedControl[0], kLedControl[1], kLedControl[2], kLedControl[3], kLedControl[4], data};
  apdu_exchange_with_nad(handle, Nad::System, 6, cmd.data(), nullptr, nullptr, HL_LIMIT_DEFAULT);
}

const char *get_error_message(uint32_t sw) { return sw == 0x6FF0 ? "没有卡片插入" : "未知错误"; }

void HV_format_error_message(uint32_t sw, uint32_t *lenr, uint8_t *resp) {
  if (!lenr || !resp) return;
  const char *text = get_error_message(sw);
  size_t n = std::strlen(text);
  std::memcpy(resp, text, n + 1);
  *lenr = uint32_t(n);
}
