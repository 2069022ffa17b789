#include "tracelog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace hwtrace {

namespace {

int g_fd = -1;
int64_t g_origin = 0;
std::once_flag g_once;

int64_t monoUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::string programName() {
  char buf[512];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string("?");
}

void appendLine(const std::string& line) {
  if (g_fd < 0) return;
  std::string s = line + "\n";
  ssize_t w = ::write(g_fd, s.data(), s.size());
  (void)w;  // a full disk loses trace lines, never the program's calls
}

}  // namespace

bool traceOn(const char* layer, const std::string& libs) {
  std::call_once(g_once, [&] {
    const char* path = getenv("HWTRACE_FILE");
    if (!path || !*path) return;
    g_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (g_fd < 0) {
      std::fprintf(stderr, "hwtrace: cannot open %s; nothing is recorded\n", path);
      return;
    }
    fchmod(g_fd, 0600);  // an existing file keeps no wider mode
    g_origin = monoUs();
    time_t now = time(nullptr);
    struct tm tmv;
    gmtime_r(&now, &tmv);
    char when[32];
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tmv);
    appendLine(std::string("{\"trace\":\"hwtrace\",\"format\":1,\"layer\":") + quoted(layer) +
               ",\"program\":" + quoted(programName()) + ",\"pid\":" + std::to_string(getpid()) +
               ",\"start\":" + quoted(when) + ",\"libs\":" + libs + "}");
  });
  return g_fd >= 0;
}

bool active() { return g_fd >= 0; }

int64_t nowUs() { return monoUs() - g_origin; }

Line::Line(const char* ev, int64_t startUs) : start_(startUs) {
  s_ = "{\"t\":" + std::to_string(startUs) + ",\"us\":" + std::to_string(nowUs() - startUs) + ",\"ev\":" + quoted(ev);
}

Line& Line::num(const char* key, long long v) { return raw(key, std::to_string(v)); }
Line& Line::str(const char* key, const std::string& v) { return raw(key, quoted(v)); }
Line& Line::hex(const char* key, const void* data, size_t n) { return raw(key, "\"" + hexOf(data, n) + "\""); }

Line& Line::raw(const char* key, const std::string& json) {
  s_ += ",\"";
  s_ += key;
  s_ += "\":";
  s_ += json;
  return *this;
}

void Line::write() { appendLine(s_ + "}"); }

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string hexOf(const void* data, size_t n) {
  static const char d[] = "0123456789ABCDEF";
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; p && i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

}  // namespace hwtrace
