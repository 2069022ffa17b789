#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "admin.h"

namespace admin {
namespace {

bool MakeParents(const std::string &path) {
  for (size_t i = 1; (i = path.find('/', i)) != std::string::npos; i++) {
    const std::string dir = path.substr(0, i);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool WriteAll(int fd, const std::string &text) {
  size_t off = 0;
  while (off < text.size()) {
    const ssize_t n = write(fd, text.data() + off, text.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadText(const std::string &path, std::string *text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text->clear();
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      close(fd);
      errno = e;
      return false;
    }
    text->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool WriteAtomically(const std::string &path, const std::string &text, std::string *err) {
  if (!MakeParents(path)) {
    *err = "cannot create the folder of " + path + ": " + strerror(errno);
    return false;
  }
  mode_t mode = 0644;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  const size_t slash = path.rfind('/');
  std::string tmp = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
  const int fd = mkstemp(&tmp[0]);
  if (fd < 0) {
    *err = "cannot write beside " + path + ": " + strerror(errno);
    return false;
  }
  const bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
  const int e = errno;
  close(fd);
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    *err = "cannot write " + path + ": " + strerror(ok ? errno : e);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace admin
