#include <stdio.h>
#include <unistd.h>

#include "dc_link.h"
#include "payterm.h"

int dc_init_name(const char* path, long baud) {
  int fd = asyn_open(path, baud, 8, 'N', 1, 0, 5);
  if (fd < 0) return -1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    unsigned char ver[2];
    if (dc_getver(fd, ver) == 0) return fd;
  }
  close(fd);
  return payterm::kDcNoSync;
}

int dc_init(int port, long baud) {
  char path[32];
  snprintf(path, sizeof path, "/dev/ttyS%d", (port >= 1 && port <= 9) ? port : 0);
  return dc_init_name(path, baud);
}

int dc_exit(int icdev) { return close(icdev) == 0 ? 0 : -1; }
