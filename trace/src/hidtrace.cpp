// libhidtrace: preloaded in front of whatever hidapi the program uses, it
// passes every call on to the next library and records enumeration, opens,
// closes and every report written and read (trace/README.md).
#include <dlfcn.h>
#include <errno.h>
#include <sys/random.h>

#include <cwchar>
#include <map>
#include <mutex>
#include <string>

#pragma GCC visibility push(default)
#include <hidapi/hidapi.h>
#pragma GCC visibility pop

#include "tracelog.h"

namespace {

using hwtrace::Line;

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::mutex g_mu;
std::map<const hid_device*, int> g_devs;
int g_nextDev = 1;

std::string narrow(const wchar_t* w) {
  std::string s;
  for (; w && *w; ++w) s += *w < 0x80 ? char(*w) : '?';
  return s;
}

std::string libs() {
  std::string v = "?", file = "?";
  if (auto f = next<const char* (*)()>("hid_version_str")) v = f();
  Dl_info info;
  void* sym = dlsym(RTLD_NEXT, "hid_open_path");
  if (sym && dladdr(sym, &info) && info.dli_fname) file = info.dli_fname;
  return "{\"hidapi\":" + hwtrace::quoted(v) + ",\"hidapi_file\":" + hwtrace::quoted(file) + "}";
}

bool on() { return hwtrace::traceOn("hid", libs()); }

int devId(const hid_device* d) {
  std::lock_guard<std::mutex> lock(g_mu);
  auto it = g_devs.find(d);
  return it == g_devs.end() ? 0 : it->second;
}

void opened(hid_device* d, const char* how, const std::string& path, int64_t t0) {
  int id = 0;
  if (d) {
    std::lock_guard<std::mutex> lock(g_mu);
    id = g_devs[d] = g_nextDev++;
  }
  Line(how, t0).str("path", path).num("dev", id).num("result", d ? 0 : -1).write();
}

}  // namespace

extern "C" {

struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  static auto real = next<hid_device_info* (*)(unsigned short, unsigned short)>("hid_enumerate");
  if (!real) return nullptr;
  if (!on()) return real(vendor_id, product_id);
  int64_t t0 = hwtrace::nowUs();
  hid_device_info* list = real(vendor_id, product_id);
  std::string found = "[";
  for (hid_device_info* d = list; d; d = d->next) {
    if (found.size() > 1) found += ',';
    found += "{\"vid\":" + std::to_string(d->vendor_id) + ",\"pid\":" + std::to_string(d->product_id) +
             ",\"iface\":" + std::to_string(d->interface_number) + ",\"path\":" +
             hwtrace::quoted(d->path ? d->path : "") + ",\"serial\":" + hwtrace::quoted(narrow(d->serial_number)) +
             "}";
  }
  Line("enumerate", t0).num("vid", vendor_id).num("pid", product_id).raw("result", found + "]").write();
  return list;
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number) {
  static auto real = next<hid_device* (*)(unsigned short, unsigned short, const wchar_t*)>("hid_open");
  if (!real) return nullptr;
  if (!on()) return real(vendor_id, product_id, serial_number);
  int64_t t0 = hwtrace::nowUs();
  hid_device* d = real(vendor_id, product_id, serial_number);
  opened(d, "open", std::to_string(vendor_id) + ":" + std::to_string(product_id) + ":" + narrow(serial_number), t0);
  return d;
}

hid_device* hid_open_path(const char* path) {
  static auto real = next<hid_device* (*)(const char*)>("hid_open_path");
  if (!real) return nullptr;
  if (!on()) return real(path);
  int64_t t0 = hwtrace::nowUs();
  hid_device* d = real(path);
  opened(d, "open", path ? path : "", t0);
  return d;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
  static auto real = next<int (*)(hid_device*, const unsigned char*, size_t)>("hid_write");
  if (!real) return -1;
  if (!on()) return real(dev, data, length);
  int64_t t0 = hwtrace::nowUs();
  int r = real(dev, data, length);
  Line("write", t0).num("dev", devId(dev)).hex("data", data, data ? length : 0).num("result", r).write();
  return r;
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
  static auto real = next<int (*)(hid_device*, unsigned char*, size_t, int)>("hid_read_timeout");
  if (!real) return -1;
  if (!on()) return real(dev, data, length, milliseconds);
  int64_t t0 = hwtrace::nowUs();
  int r = real(dev, data, length, milliseconds);
  Line("read", t0).num("dev", devId(dev)).num("limit", milliseconds).num("result", r)
      .hex("data", data, r > 0 ? size_t(r) : 0).write();
  return r;
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
  static auto real = next<int (*)(hid_device*, unsigned char*, size_t)>("hid_read");
  if (!real) return -1;
  if (!on()) return real(dev, data, length);
  int64_t t0 = hwtrace::nowUs();
  int r = real(dev, data, length);
  // -1: the device's blocking mode decides how long hid_read waits.
  Line("read", t0).num("dev", devId(dev)).num("limit", -1).num("result", r)
      .hex("data", data, r > 0 ? size_t(r) : 0).write();
  return r;
}

void hid_close(hid_device* dev) {
  static auto real = next<void (*)(hid_device*)>("hid_close");
  if (!real) return;
  if (!on()) return real(dev);
  int64_t t0 = hwtrace::nowUs();
  int id = devId(dev);
  real(dev);
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_devs.erase(dev);
  }
  Line("close", t0).num("dev", id).write();
}

// The program's random numbers, once recording runs: a replay recognises
// the commands that carry them (a host challenge) by these bytes.
__attribute__((visibility("default"))) ssize_t getrandom(void* buf, size_t n, unsigned int flags) {
  static auto real = next<ssize_t (*)(void*, size_t, unsigned int)>("getrandom");
  if (!real) {
    errno = ENOSYS;
    return -1;
  }
  int64_t t0 = hwtrace::active() ? hwtrace::nowUs() : 0;
  ssize_t r = real(buf, n, flags);
  if (r > 0 && r <= 256 && hwtrace::active()) Line("random", t0).num("result", r).hex("data", buf, size_t(r)).write();
  return r;
}

}  // extern "C"
