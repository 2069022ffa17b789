// The log file: append under the cross-process lock, rotate past max_size.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "elog_internal.h"

namespace {

constexpr int kRotateMax = 100;  // bounds the suffix digits of rotated names

// The log's settings, used under the file lock.
bool g_fileInitOk;
std::array<char, PATH_MAX> g_fileName;
size_t g_fileMaxSize = ELOG_FILE_MAX_SIZE;
int g_fileMaxRotate = ELOG_FILE_MAX_ROTATE;
bool g_closedAtExit;  // no line is written after the stream's destructor ran

// The open log file, used under the file lock. Closed on reconfiguration,
// rotation and elog_file_deinit. At the process exit its destructor closes
// it under the lock; lines that come later (from other threads or later
// destructors) are dropped rather than written to a closed stream.
class Stream {
 public:
  constexpr Stream() = default;
  ~Stream() {
    FileLockGuard lock;
    file_.reset();
    g_closedAtExit = true;
  }
  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;

  FILE *get() const { return file_.get(); }
  explicit operator bool() const { return file_ != nullptr; }
  void open(const char *mode) { file_.reset(std::fopen(g_fileName.data(), mode)); }
  void close() { file_.reset(); }

 private:
  struct CloseFile {
    void operator()(FILE *f) const { std::fclose(f); }
  };
  std::unique_ptr<FILE, CloseFile> file_;
};
Stream g_file;

// Another process may have rotated the file since we opened it: our stream
// then points at name.0 (or a deleted file). Follow the name, or our lines
// would land in a rotated copy and push the live file out of the set.
void followName() {
  struct stat byName, byFd;
  if (g_file && stat(g_fileName.data(), &byName) == 0 && fstat(fileno(g_file.get()), &byFd) == 0 &&
      byName.st_dev == byFd.st_dev && byName.st_ino == byFd.st_ino)
    return;
  g_file.open("a+");
}

// Shifts name -> name.0 -> name.1 ... dropping the oldest; true when every
// rename worked. The stream is reopened on the new, empty file.
bool rotate() {
  std::array<char, PATH_MAX + 16> newer, older;
  bool ok = true;
  g_file.close();
  for (int n = g_fileMaxRotate - 1; n >= 0; n--) {
    std::snprintf(newer.data(), newer.size(), "%s.%d", g_fileName.data(), n);
    if (n == 0)
      std::snprintf(older.data(), older.size(), "%s", g_fileName.data());
    else
      std::snprintf(older.data(), older.size(), "%s.%d", g_fileName.data(), n - 1);
    if (access(newer.data(), F_OK) == 0) std::remove(newer.data());
    if (access(older.data(), F_OK) == 0 && std::rename(older.data(), newer.data()) != 0) {
      ok = false;
      break;
    }
  }
  // Keeping no copies still bounds the file: start it afresh.
  g_file.open(g_fileMaxRotate == 0 ? "w+" : "a+");
  return ok;
}

}  // namespace

ElogErrCode elog_file_init(void) {
  if (g_fileInitOk) return ELOG_NO_ERR;
  // Without the semaphore the file is still written, only unlocked between
  // processes.
  (void)elog_file_port_init();
  const char *name = std::getenv(ELOG_FILE_NAME_ENV);
  if (!name || !*name) name = ELOG_FILE_NAME;
  ElogFileCfg cfg = {const_cast<char *>(name), ELOG_FILE_MAX_SIZE, ELOG_FILE_MAX_ROTATE};
  elog_file_config(&cfg);
  g_fileInitOk = true;
  return ELOG_NO_ERR;
}

void elog_file_config(ElogFileCfg *cfg) {
  if (!cfg || !cfg->name || std::strlen(cfg->name) >= g_fileName.size() - 8) return;
  FileLockGuard lock;
  if (g_closedAtExit) return;
  g_file.close();
  std::strcpy(g_fileName.data(), cfg->name);
  g_fileMaxSize = cfg->max_size;
  g_fileMaxRotate = std::clamp(cfg->max_rotate, 0, kRotateMax);
  g_file.open("a+");
}

void elog_file_deinit(void) {
  {
    FileLockGuard lock;
    if (!g_closedAtExit) g_file.close();
  }
  elog_file_port_deinit();
  g_fileInitOk = false;
}

void elog_file_write(const char *log, size_t size) {
  if (!log || size == 0) return;
  FileLockGuard lock;
  if (g_closedAtExit) return;
  followName();
  if (!g_file) return;
  struct stat st;
  bool ok = true;
  if (fstat(fileno(g_file.get()), &st) == 0 && size_t(st.st_size) > g_fileMaxSize) ok = rotate();
  if (g_file && ok) {
    std::fwrite(log, 1, size, g_file.get());
    std::fflush(g_file.get());
  }
}
