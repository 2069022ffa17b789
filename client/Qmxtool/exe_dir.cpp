#include "exe_dir.h"

#include <climits>
#include <cstring>
#include <string.h>  // memrchr
#include <unistd.h>

bool qmx_link_dir(const char *link, char *dir, std::size_t size) {
  if (dir == nullptr || size == 0)
    return false;
  dir[0] = '\0';
  if (link == nullptr)
    return false;
  char target[PATH_MAX];
  ssize_t n = readlink(link, target, sizeof target);
  // A full buffer may be a cut target: a wrong directory is worse than none.
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target)
    return false;
  const char *slash = static_cast<const char *>(::memrchr(target, '/', static_cast<std::size_t>(n)));
  if (slash == nullptr)
    return false;
  std::size_t len = static_cast<std::size_t>(slash - target);
  if (len >= size)
    return false;
  std::memcpy(dir, target, len);
  dir[len] = '\0';
  return true;
}

bool qmx_exe_dir(char *dir, std::size_t size) {
  return qmx_link_dir("/proc/self/exe", dir, size);
}
