// A hidapi replacement that reaches the virtual reader instead of USB.
//
// Loaded with LD_PRELOAD (or linked in place of libhidapi-libusb) it
// answers the hidapi calls of a driver: enumeration lists the reader of the
// running vreader (vendor 0x163C, product 0x0A2B, interfaces 0 and 1, only
// interface 1 carries the reader's reports), and reports written and read
// travel over the daemon's Unix socket. With no daemon, or an unplugged
// reader, nothing is enumerated and opens fail.
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#pragma GCC visibility push(default)
#include <hidapi/hidapi.h>
#pragma GCC visibility pop

#include "sockpath.h"

struct hid_device_ {
  int fd = -1;
  bool nonblocking = false;
  std::wstring error;
  std::wstring serial;
  std::string path;
  hid_device_info info{};
};

namespace {

constexpr unsigned short kVendor = 0x163C, kProduct = 0x0A2B;
constexpr int kHelloMs = 3000;
const char kPathPrefix[] = "vreader:";
thread_local std::wstring g_error;

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

wchar_t* wdup(const std::wstring& s) {
  wchar_t* p = static_cast<wchar_t*>(calloc(s.size() + 1, sizeof(wchar_t)));
  if (p) std::wmemcpy(p, s.c_str(), s.size());
  return p;
}

// Asks the daemon for the attached reader; empty when there is none.
bool querySerial(std::string& serial) {
  int fd = vr::connectTo(vr::defaultSocketPath());
  if (fd < 0) return false;
  std::string line;
  bool ok = vr::writeAll(fd, "enum\n", 5) && vr::readLine(fd, line, 256, kHelloMs);
  close(fd);
  if (!ok || line.compare(0, 7, "OK hid ") != 0) return false;
  serial = line.substr(7);
  return true;
}

std::string pathFor(int iface) { return std::string(kPathPrefix) + "0001:" + std::to_string(iface); }

void fillInfo(hid_device_info& d, const std::string& path, const std::string& serial, int iface) {
  d.path = strdup(path.c_str());
  d.vendor_id = kVendor;
  d.product_id = kProduct;
  d.serial_number = wdup(widen(serial));
  d.release_number = 0x0100;
  d.manufacturer_string = wdup(L"hwservice");
  d.product_string = wdup(L"Virtual card reader");
  d.usage_page = 0xFF00;
  d.usage = 0x01;
  d.interface_number = iface;
  d.next = nullptr;
  d.bus_type = HID_API_BUS_USB;
}

void freeInfo(hid_device_info& d) {
  free(d.path);
  free(d.serial_number);
  free(d.manufacturer_string);
  free(d.product_string);
}

int fail(hid_device* dev, const wchar_t* msg) {
  (dev ? dev->error : g_error) = msg;
  return -1;
}

int copyString(const std::wstring& s, wchar_t* out, size_t maxlen) {
  if (!out || maxlen == 0) return -1;
  size_t n = std::min(s.size(), maxlen - 1);
  std::wmemcpy(out, s.c_str(), n);
  out[n] = 0;
  return 0;
}

}  // namespace

extern "C" {

int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }

struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  if ((vendor_id && vendor_id != kVendor) || (product_id && product_id != kProduct)) return nullptr;
  std::string serial;
  if (!querySerial(serial)) return nullptr;
  auto* first = static_cast<hid_device_info*>(calloc(1, sizeof(hid_device_info)));
  auto* second = static_cast<hid_device_info*>(calloc(1, sizeof(hid_device_info)));
  if (!first || !second) {
    free(first);
    free(second);
    return nullptr;
  }
  // The keyboard-like interface 0 comes first, as on the real device.
  fillInfo(*first, pathFor(0), serial, 0);
  fillInfo(*second, pathFor(1), serial, 1);
  first->next = second;
  return first;
}

void hid_free_enumeration(struct hid_device_info* devs) {
  while (devs) {
    hid_device_info* next = devs->next;
    freeInfo(*devs);
    free(devs);
    devs = next;
  }
}

hid_device* hid_open_path(const char* path) {
  if (!path || pathFor(1) != path) {
    fail(nullptr, path && pathFor(0) == path ? L"interface 0 carries no reader reports" : L"no such device");
    return nullptr;
  }
  int fd = vr::connectTo(vr::defaultSocketPath());
  if (fd < 0) {
    fail(nullptr, L"virtual reader not running");
    return nullptr;
  }
  std::string line;
  if (!vr::writeAll(fd, "HELLO hid\n", 10) || !vr::readLine(fd, line, 256, kHelloMs) ||
      line.compare(0, 7, "OK hid ") != 0) {
    close(fd);
    fail(nullptr, line.empty() ? L"virtual reader did not answer" : widen(line).c_str());
    return nullptr;
  }
  auto* dev = new hid_device_;
  dev->fd = fd;
  dev->serial = widen(line.substr(7));
  dev->path = path;
  fillInfo(dev->info, dev->path, line.substr(7), 1);
  return dev;
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number) {
  hid_device_info* list = hid_enumerate(vendor_id, product_id);
  std::string path;
  for (hid_device_info* d = list; d; d = d->next)
    if (d->interface_number == 1 && (!serial_number || std::wcscmp(serial_number, d->serial_number) == 0))
      path = d->path;
  hid_free_enumeration(list);
  if (path.empty()) {
    fail(nullptr, L"no such device");
    return nullptr;
  }
  return hid_open_path(path.c_str());
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
  if (!dev) return fail(nullptr, L"no device");
  if (!data || length == 0) return fail(dev, L"nothing to write");
  // Report ID 0 means an unnumbered report: it is not sent to the device.
  const unsigned char* p = data[0] == 0 ? data + 1 : data;
  size_t n = data[0] == 0 ? length - 1 : length;
  if (n > 64) return fail(dev, L"report longer than 64 bytes");
  unsigned char rec[2 + 64];
  rec[0] = 0;
  rec[1] = static_cast<unsigned char>(n);
  if (n) std::memcpy(rec + 2, p, n);
  if (!vr::writeAll(dev->fd, rec, 2 + n)) return fail(dev, L"device disconnected");
  return int(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
  if (!dev) return fail(nullptr, L"no device");
  if (!data) return fail(dev, L"no buffer");
  unsigned char head[2];
  int r = vr::readExact(dev->fd, head, 2, milliseconds);
  if (r == 0) return 0;
  if (r < 0) return fail(dev, L"device disconnected");
  size_t n = size_t(head[0]) << 8 | head[1];
  unsigned char buf[1024];
  if (n > sizeof buf || vr::readExact(dev->fd, buf, n, 5000) != 1) return fail(dev, L"device disconnected");
  size_t take = std::min(n, length);
  std::memcpy(data, buf, take);
  return int(take);
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
  return hid_read_timeout(dev, data, length, dev && dev->nonblocking ? 0 : -1);
}

int hid_set_nonblocking(hid_device* dev, int nonblock) {
  if (!dev) return -1;
  dev->nonblocking = nonblock != 0;
  return 0;
}

int hid_send_feature_report(hid_device* dev, const unsigned char*, size_t) {
  return fail(dev, L"the reader has no feature reports");
}
int hid_get_feature_report(hid_device* dev, unsigned char*, size_t) {
  return fail(dev, L"the reader has no feature reports");
}
int hid_get_input_report(hid_device* dev, unsigned char*, size_t) {
  return fail(dev, L"input reports arrive on the interrupt endpoint only");
}

void hid_close(hid_device* dev) {
  if (!dev) return;
  close(dev->fd);
  freeInfo(dev->info);
  delete dev;
}

int hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen) {
  return dev ? copyString(L"hwservice", string, maxlen) : -1;
}
int hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen) {
  return dev ? copyString(L"Virtual card reader", string, maxlen) : -1;
}
int hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen) {
  return dev ? copyString(dev->serial, string, maxlen) : -1;
}
int hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t) { return fail(dev, L"no indexed strings"); }

struct hid_device_info* hid_get_device_info(hid_device* dev) { return dev ? &dev->info : nullptr; }

const wchar_t* hid_error(hid_device* dev) {
  const std::wstring& e = dev ? dev->error : g_error;
  return e.empty() ? L"Success" : e.c_str();
}

const struct hid_api_version* hid_version(void) {
  static const hid_api_version v = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
  return &v;
}

const char* hid_version_str(void) { return HID_API_VERSION_STR; }

}  // extern "C"
