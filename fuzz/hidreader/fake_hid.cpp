// In-target stand-in for the hidapi calls of the driver: one reader, and a
// script of input reports that become readable once a whole command has
// been written. Out of script, a read fails at once (no waiting).
#include "fake_hid.h"

#include <hidapi.h>
#include <stdlib.h>
#include <string.h>

struct hid_device_ {
  int unused;
};

namespace fakehid {
namespace {

hid_device g_device;
char g_path[] = "fuzz-reader";
const uint8_t *g_reports;
size_t g_count, g_next;
bool g_armed;        // the reader is answering the last command
bool g_stale_once;   // one report is already queued before the next command
size_t g_commands;

}  // namespace

void script(const uint8_t *reports, size_t count, bool stale_first) {
  g_reports = reports;
  g_count = count;
  g_next = 0;
  g_armed = false;
  g_stale_once = stale_first && count > 0;
  g_commands = 0;
}

size_t commands() { return g_commands; }

}  // namespace fakehid

using namespace fakehid;

extern "C" {

struct hid_device_info *hid_enumerate(unsigned short, unsigned short) {
  auto *info = static_cast<struct hid_device_info *>(calloc(1, sizeof(struct hid_device_info)));
  if (info == nullptr) return nullptr;
  info->path = g_path;
  info->vendor_id = 0x163C;
  info->product_id = 0x0A2B;
  info->interface_number = 1;
  return info;
}

void hid_free_enumeration(struct hid_device_info *devs) { free(devs); }

hid_device *hid_open_path(const char *path) { return strcmp(path, g_path) == 0 ? &g_device : nullptr; }

void hid_close(hid_device *) {}

int hid_get_serial_number_string(hid_device *, wchar_t *string, size_t maxlen) {
  if (maxlen == 0) return -1;
  string[0] = L'\0';
  return 0;
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length) {
  if (dev != &g_device || length != 65 || data[0] != 0) abort();
  // A report without the more-follows bit ends the command.
  if ((data[2] & 0x20) == 0) {
    g_armed = true;
    g_commands++;
  }
  return static_cast<int>(length);
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds) {
  if (dev != &g_device || length != 64 || milliseconds < 0) abort();
  if (g_stale_once) {
    g_stale_once = false;
    memcpy(data, g_reports + 64 * g_next++, 64);
    return 64;
  }
  if (!g_armed) return 0;
  if (g_next >= g_count) return -1;
  memcpy(data, g_reports + 64 * g_next++, 64);
  if ((data[1] & 0x20) == 0) g_armed = false;
  return 64;
}

}  // extern "C"
