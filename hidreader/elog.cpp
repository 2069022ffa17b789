// Levelled line logger: filters, per-level line formats, colours, hex dump.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "elog_internal.h"

namespace {

constexpr size_t kTagPad = 15;
constexpr size_t kLineNumMaxLen = 4;

struct TagLevel {
  uint8_t level;
  std::array<char, ELOG_FILTER_TAG_MAX_LEN + 1> tag;
  bool used;
};

struct Filter {
  std::atomic<uint8_t> level;
  std::array<char, ELOG_FILTER_TAG_MAX_LEN + 1> tag;
  std::array<char, ELOG_FILTER_KW_MAX_LEN + 1> keyword;
  std::array<TagLevel, ELOG_FILTER_TAG_LVL_MAX_NUM> tagLevels;
};

// The log's settings and its line buffer. One per process, because the
// exported functions carry no context; static, zero-initialised storage with
// no constructor or destructor, so it works from load-time constructors and
// until the process ends. The settings other than the two atomics, and the
// line buffer, are used under the output lock (elog_output_lock).
struct Logger {
  Filter filter;
  std::array<size_t, ELOG_LVL_TOTAL_NUM> formats;
  bool initOk;
  std::atomic<bool> outputEnabled;
  bool outputLockEnabled;
  bool lockedBeforeEnable;
  bool lockedBeforeDisable;
  bool textColor;
  ElogAssertHook assertHook;
  std::array<char, ELOG_LINE_BUF_SIZE> line;
};
Logger g_log;

constexpr const char *kLevelText[ELOG_LVL_TOTAL_NUM] = {"A/", "E/", "W/", "I/", "D/", "V/"};
constexpr const char *kLevelColor[ELOG_LVL_TOTAL_NUM] = {"35;22m", "31;22m", "33;22m",
                                                         "36;22m", "32;22m", "34;22m"};
constexpr char kCsiStart[] = "\33[";
constexpr char kCsiEnd[] = "\33[0m";
constexpr size_t kCsiEndLen = sizeof kCsiEnd - 1;

// Assertion lines name the log unit as they always have, so that whatever
// reads the log keeps finding them.
constexpr char kUnit[] = "elog.c";

// Holds the output lock for a scope.
class OutputLock {
 public:
  OutputLock() { elog_output_lock(); }
  ~OutputLock() { elog_output_unlock(); }
  OutputLock(const OutputLock &) = delete;
  OutputLock &operator=(const OutputLock &) = delete;
};

// A bad argument: report it, then the caller returns without doing its work.
void assertFailed(const char *expr, const char *func, long line) {
  if (g_log.assertHook) g_log.assertHook(expr, func, size_t(line));
  elog_output(ELOG_LVL_ASSERT, "elog", kUnit, func, line, "(%s) has assert failed at %s:%ld.", expr, func, line);
}

// A level above ELOG_LVL_VERBOSE is refused without any output; the hook
// still hears about it.
bool levelOk(uint8_t level, const char *func, long line) {
  if (level <= ELOG_LVL_VERBOSE) return true;
  if (g_log.assertHook) g_log.assertHook("level <= ELOG_LVL_VERBOSE", func, size_t(line));
  return false;
}

// The expression's text is part of the assertion line.
#define ELOG_CHECK(expr)                         \
  do {                                           \
    if (!(expr)) {                               \
      assertFailed(#expr, __func__, __LINE__);   \
      return;                                    \
    }                                            \
  } while (0)

template <size_t N>
void copyBounded(std::array<char, N> &dst, const char *src) {
  size_t n = src ? strnlen(src, N - 1) : 0;
  if (n) std::memcpy(dst.data(), src, n);
  dst[n] = '\0';
}

bool sameTag(const TagLevel &f, const char *tag) {
  return f.used && std::strncmp(f.tag.data(), tag, ELOG_FILTER_TAG_MAX_LEN) == 0;
}

// Caller holds the output lock.
uint8_t tagLevel(const char *tag) {
  for (const TagLevel &f : g_log.filter.tagLevels)
    if (sameTag(f, tag)) return f.level;
  return ELOG_LVL_VERBOSE;
}

// Appends src at len in the line buffer, never past it.
void put(size_t &len, const char *src) { len += elog_strcpy(len, g_log.line.data() + len, src); }

// Builds the prefix of one line for level into the line buffer; returns its
// length.
size_t buildPrefix(uint8_t level, const char *tag, const char *file, const char *func, long line) {
  const size_t fmt = g_log.formats[level];
  size_t len = 0;

  if (g_log.textColor) {
    put(len, kCsiStart);
    put(len, kLevelColor[level]);
  }
  if (fmt & ELOG_FMT_LVL) put(len, kLevelText[level]);
  if (fmt & ELOG_FMT_TAG) {
    put(len, tag);
    for (size_t n = std::strlen(tag); n < kTagPad; n++) put(len, " ");
    put(len, " ");
  }
  if (fmt & (ELOG_FMT_TIME | ELOG_FMT_P_INFO | ELOG_FMT_T_INFO)) {
    bool first = true;
    put(len, "[");
    if (fmt & ELOG_FMT_TIME) {
      put(len, elog_port_get_time());
      first = false;
    }
    if (fmt & ELOG_FMT_P_INFO) {
      if (!first) put(len, " ");
      put(len, elog_port_get_p_info());
      first = false;
    }
    if (fmt & ELOG_FMT_T_INFO) {
      if (!first) put(len, " ");
      put(len, elog_port_get_t_info());
    }
    put(len, "] ");
  }
  if (fmt & (ELOG_FMT_DIR | ELOG_FMT_FUNC | ELOG_FMT_LINE)) {
    put(len, "(");
    if (fmt & ELOG_FMT_DIR) put(len, file ? file : "");
    if (fmt & ELOG_FMT_FUNC)
      put(len, ":");
    else if (fmt & ELOG_FMT_LINE)
      put(len, " ");
    if (fmt & ELOG_FMT_LINE) {
      std::array<char, kLineNumMaxLen + 1> num;
      std::snprintf(num.data(), num.size(), "%ld", line);
      put(len, num.data());
    }
    if (fmt & ELOG_FMT_FUNC) {
      put(len, " ");
      put(len, func ? func : "");
    }
    put(len, ")");
  }
  return len;
}

}  // namespace

ElogErrCode elog_init(void) {
  if (g_log.initOk) return ELOG_NO_ERR;
  ElogErrCode result = elog_port_init();
  if (result != ELOG_NO_ERR) return result;
  elog_output_lock_enabled(true);
  g_log.lockedBeforeEnable = false;
  g_log.lockedBeforeDisable = false;
  elog_set_text_color_enabled(false);
  elog_set_filter_lvl(ELOG_LVL_VERBOSE);
  g_log.filter.tagLevels = {};
  g_log.initOk = true;
  return ELOG_NO_ERR;
}

void elog_deinit(void) {
  if (!g_log.initOk) return;
  elog_port_deinit();
  g_log.initOk = false;
}

void elog_start(void) {
  if (g_log.initOk) elog_set_output_enabled(true);
}

void elog_stop(void) {
  if (g_log.initOk) elog_set_output_enabled(false);
}

void elog_set_output_enabled(bool enabled) { g_log.outputEnabled.store(enabled, std::memory_order_relaxed); }

bool elog_get_output_enabled(void) { return g_log.outputEnabled.load(std::memory_order_relaxed); }

void elog_set_text_color_enabled(bool enabled) { g_log.textColor = enabled; }

bool elog_get_text_color_enabled(void) { return g_log.textColor; }

void elog_set_fmt(uint8_t level, size_t set) {
  if (!levelOk(level, __func__, __LINE__)) return;
  g_log.formats[level] = set;
}

void elog_set_filter(uint8_t level, const char *tag, const char *keyword) {
  if (!levelOk(level, __func__, __LINE__)) return;
  elog_set_filter_lvl(level);
  elog_set_filter_tag(tag);
  elog_set_filter_kw(keyword);
}

void elog_set_filter_lvl(uint8_t level) {
  if (!levelOk(level, __func__, __LINE__)) return;
  g_log.filter.level.store(level, std::memory_order_relaxed);
}

void elog_set_filter_tag(const char *tag) {
  OutputLock lock;
  copyBounded(g_log.filter.tag, tag);
}

void elog_set_filter_kw(const char *keyword) {
  OutputLock lock;
  copyBounded(g_log.filter.keyword, keyword);
}

void elog_set_filter_tag_lvl(const char *tag, uint8_t level) {
  ELOG_CHECK(tag != NULL);
  if (!levelOk(level, __func__, __LINE__)) return;
  OutputLock lock;
  TagLevel *entry = nullptr, *freeEntry = nullptr;
  for (TagLevel &f : g_log.filter.tagLevels) {
    if (sameTag(f, tag)) {
      entry = &f;
      break;
    }
    if (!f.used && !freeEntry) freeEntry = &f;
  }
  if (entry && level == ELOG_LVL_VERBOSE) {
    *entry = TagLevel{};
  } else if (entry) {
    entry->level = level;
  } else if (level != ELOG_LVL_VERBOSE && freeEntry) {
    copyBounded(freeEntry->tag, tag);
    freeEntry->level = level;
    freeEntry->used = true;
  }
}

uint8_t elog_get_filter_tag_lvl(const char *tag) {
  if (!tag) return ELOG_LVL_VERBOSE;
  OutputLock lock;
  return tagLevel(tag);
}

// The lock flags remember a lock taken while locking was switched the other
// way, so that switching never leaves the mutex held or released twice.
void elog_output_lock(void) {
  if (g_log.outputLockEnabled) {
    elog_port_output_lock();
    g_log.lockedBeforeDisable = true;
  } else {
    g_log.lockedBeforeEnable = true;
  }
}

void elog_output_unlock(void) {
  if (g_log.outputLockEnabled) {
    g_log.lockedBeforeDisable = false;
    elog_port_output_unlock();
  } else {
    g_log.lockedBeforeEnable = false;
  }
}

void elog_output_lock_enabled(bool enabled) {
  if (enabled == g_log.outputLockEnabled) return;
  g_log.outputLockEnabled = enabled;
  if (enabled && g_log.lockedBeforeEnable) {
    elog_port_output_lock();
    g_log.lockedBeforeDisable = true;
    g_log.lockedBeforeEnable = false;
  } else if (!enabled && g_log.lockedBeforeDisable) {
    g_log.lockedBeforeDisable = false;
    g_log.lockedBeforeEnable = true;
    elog_port_output_unlock();
  }
}

void elog_assert_set_hook(ElogAssertHook hook) { g_log.assertHook = hook; }

void elog_output(uint8_t level, const char *tag, const char *file, const char *func, long line, const char *format,
                 ...) {
  if (!levelOk(level, __func__, __LINE__)) return;
  ELOG_CHECK(tag != NULL && format != NULL);
  // Cheap early exit for the common case of a filtered-out line.
  if (!elog_get_output_enabled() || level > g_log.filter.level.load(std::memory_order_relaxed)) return;

  OutputLock lock;
  if (level > g_log.filter.level || level > tagLevel(tag) || !std::strstr(tag, g_log.filter.tag.data())) return;
  char *buf = g_log.line.data();
  const size_t tail = (g_log.textColor ? kCsiEndLen : 0) + 1;
  const size_t limit = ELOG_LINE_BUF_SIZE - tail;  // room for the message; the tail always fits
  size_t len = std::min(buildPrefix(level, tag, file, func, line), limit);

  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf + len, limit - len + 1, format, args);
  va_end(args);
  if (n > 0) len += std::min(size_t(n), limit - len);
  buf[len] = '\0';

  if (g_log.filter.keyword[0] && !std::strstr(buf, g_log.filter.keyword.data())) return;
  if (g_log.textColor) {
    std::memcpy(buf + len, kCsiEnd, kCsiEndLen);
    len += kCsiEndLen;
  }
  buf[len++] = '\n';
  elog_port_output(buf, len);
}

void elog_raw(const char *format, ...) {
  ELOG_CHECK(format != NULL);
  if (!elog_get_output_enabled()) return;
  OutputLock lock;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(g_log.line.data(), g_log.line.size(), format, args);
  va_end(args);
  if (n > 0) elog_port_output(g_log.line.data(), std::min(size_t(n), g_log.line.size() - 1));
}

void elog_hexdump(const char *name, uint8_t width, const void *buf, size_t size) {
  ELOG_CHECK(name != NULL && width > 0 && (buf != NULL || size == 0));
  if (!elog_get_output_enabled() || g_log.filter.level.load(std::memory_order_relaxed) < ELOG_LVL_DEBUG) return;

  const auto *bytes = static_cast<const uint8_t *>(buf);
  OutputLock lock;
  if (g_log.filter.level < ELOG_LVL_DEBUG || !std::strstr(name, g_log.filter.tag.data())) return;
  for (size_t i = 0; i < size; i += width) {
    std::array<char, 32> piece;
    size_t len = 0;
    std::snprintf(piece.data(), piece.size(), ": %04zX-%04zX: ", i, i + width - 1);
    put(len, "D/HEX ");
    put(len, name);
    put(len, piece.data());
    for (size_t j = 0; j < width; j++) {
      if (i + j < size) {
        std::snprintf(piece.data(), piece.size(), "%02X ", bytes[i + j]);
        put(len, piece.data());
      } else {
        put(len, "   ");
      }
      if ((j + 1) % 8 == 0) put(len, " ");
    }
    put(len, "  ");
    for (size_t j = 0; j < width && i + j < size; j++) {
      uint8_t c = bytes[i + j];
      const char shown[2] = {c >= 0x20 && c <= 0x7E ? char(c) : '.', '\0'};
      put(len, shown);
    }
    len = std::min(len, size_t(ELOG_LINE_BUF_SIZE - 1));
    g_log.line[len++] = '\n';
    elog_port_output(g_log.line.data(), len);
  }
}

int8_t elog_find_lvl(const char *log) {
  if (!log) return -1;
  if (std::strncmp(log, kCsiStart, sizeof kCsiStart - 1) == 0) {
    const char *m = std::strchr(log, 'm');
    if (!m) return -1;
    log = m + 1;
  }
  for (int8_t lvl = 0; lvl < ELOG_LVL_TOTAL_NUM; lvl++)
    if (std::strncmp(log, kLevelText[lvl], 2) == 0) return lvl;
  return -1;
}

const char *elog_find_tag(const char *log, uint8_t lvl, size_t *tag_len) {
  if (!log || !tag_len || lvl > ELOG_LVL_VERBOSE || elog_find_lvl(log) != int8_t(lvl)) return nullptr;
  const char *tag = std::strstr(log, kLevelText[lvl]) + 2;
  size_t n = std::strcspn(tag, " \n");
  if (n == 0) return nullptr;
  *tag_len = n;
  return tag;
}

size_t elog_strcpy(size_t cur_len, char *dst, const char *src) {
  if (!dst || !src) return 0;
  size_t n = 0;
  while (src[n] && cur_len + n < ELOG_LINE_BUF_SIZE) {
    dst[n] = src[n];
    n++;
  }
  return n;
}

size_t elog_cpyln(char *line, const char *log, size_t len) {
  if (!line || !log) return 0;
  size_t n = 0;
  while (n < len && log[n] != '\n') {
    line[n] = log[n];
    n++;
  }
  return n;
}

void *elog_memcpy(void *dst, const void *src, size_t count) {
  if (!dst || !src) return dst;
  return std::memcpy(dst, src, count);
}
