// tool_writelog: the dated client log. Kept in its own file because
// libportico carries the tool unit without it.
#include "Qmxtool.h"
#include "exe_dir.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace {

constexpr std::size_t kLineCap = 1024;
constexpr std::size_t kPathCap = 1024;

const char *orEmpty(const char *s) { return s != nullptr ? s : ""; }

// Appends src to the text in buf (capacity cap), cutting what does not fit.
void appendCut(char *buf, std::size_t cap, std::size_t *len, const char *src) {
  std::size_t n = std::strlen(src);
  if (n > cap - 1 - *len)
    n = cap - 1 - *len;
  std::memcpy(buf + *len, src, n);
  *len += n;
  buf[*len] = '\0';
}

}  // namespace

int tool_writelog(const char *logName, const char *dir, const char *file, const char *func,
                  int line, const char *text, ...) {
  std::time_t now = std::time(nullptr);
  struct tm tmNow;
  localtime_r(&now, &tmNow);
  // Sized for any int fields, so no stamp is ever cut.
  char stamp[80], stampPadded[80], date[48];
  std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d %02d:%02d:%02d", tmNow.tm_year + 1900,
                tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
  std::snprintf(stampPadded, sizeof stampPadded, "%-20s", stamp);
  std::snprintf(date, sizeof date, "%02d-%02d-%02d", tmNow.tm_year + 1900, tmNow.tm_mon + 1,
                tmNow.tm_mday);

  char base[kPathCap];
  if (dir != nullptr && dir[0] != '\0') {
    if (std::strlen(dir) >= sizeof base)
      return -1;
    std::strcpy(base, dir);
  } else if (!qmx_exe_dir(base, sizeof base)) {
    return -1;
  }
  char logDir[kPathCap], path[kPathCap];
  int n = std::snprintf(logDir, sizeof logDir, "%s/QMXLog", base);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof logDir)
    return -1;
  mkdir(logDir, 0775);  // an existing directory is fine; a failure shows at fopen
  n = std::snprintf(path, sizeof path, "%s/%s-%s.log", logDir, orEmpty(logName), date);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof path)
    return -1;

  char message[kLineCap];
  std::size_t messageLen = 0;
  message[0] = '\0';
  if (text != nullptr && text[0] != '\0') {
    appendCut(message, sizeof message, &messageLen, text);
    va_list ap;
    va_start(ap, text);
    for (const char *piece = va_arg(ap, const char *); piece != nullptr && piece[0] != '\0';
         piece = va_arg(ap, const char *))
      appendCut(message, sizeof message, &messageLen, piece);
    va_end(ap);
  }

  char record[kLineCap];
  n = std::snprintf(record, sizeof record, "[TIME:%s] | FILE:%s-%s-(%d) | OUT:%s\r\n",
                    stampPadded, orEmpty(file), orEmpty(func), line, message);
  if (n < 0)
    return -1;
  std::size_t recordLen = static_cast<std::size_t>(n);
  if (recordLen >= sizeof record) {
    // Cut to the limit but keep the line end, so every record stays one line.
    recordLen = sizeof record - 1;
    record[recordLen - 2] = '\r';
    record[recordLen - 1] = '\n';
  }
  FILE *f = std::fopen(path, "a+");
  if (f == nullptr)
    return -1;
  std::fwrite(record, 1, recordLen, f);
  std::fclose(f);
  return 0;
}
