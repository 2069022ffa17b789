// Linked against the real hidapi: lists the reader and reads its version,
// so a test can show that a preloaded shim takes hidapi's place.
#include <hidapi/hidapi.h>

#include <cstdio>
#include <cstring>

int main() {
  if (hid_init() != 0) return 3;
  hid_device_info* list = hid_enumerate(0x163C, 0x0A2B);
  const char* path = nullptr;
  for (hid_device_info* d = list; d; d = d->next)
    if (d->interface_number == 1) path = d->path;
  if (!path) {
    std::printf("none\n");
    hid_free_enumeration(list);
    return 0;
  }
  hid_device* dev = hid_open_path(path);
  hid_free_enumeration(list);
  if (!dev) return 4;
  unsigned char out[65] = {0, 0x00, 0x00, 5, 0x00, 0x19, 0x00, 0x00, 0x00};
  unsigned char in[64];
  if (hid_write(dev, out, 65) != 65 || hid_read_timeout(dev, in, 64, 2000) != 64) return 5;
  std::printf("%.*s\n", in[2] - 2, reinterpret_cast<char*>(in + 3));
  hid_close(dev);
  hid_exit();
  return 0;
}
