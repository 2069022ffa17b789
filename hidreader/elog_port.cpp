// Platform layer of the log: output mutex, time and process texts.
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "elog_internal.h"

namespace {

// Constant-initialised, so locking before elog_init is harmless.
std::mutex g_outputMutex;

// The texts below live in these buffers until the next call (under the
// output lock).
std::array<char, 32> g_timeText;
std::array<char, 24> g_processText;
std::array<char, 32> g_threadText;

}  // namespace

ElogErrCode elog_port_init(void) { return elog_file_init(); }

void elog_port_deinit(void) { elog_file_deinit(); }

// Lines go to the log file only, never to the console.
void elog_port_output(const char *log, size_t size) { elog_file_write(log, size); }

void elog_port_output_lock(void) { g_outputMutex.lock(); }

void elog_port_output_unlock(void) { g_outputMutex.unlock(); }

const char *elog_port_get_time(void) {
  time_t now = time(nullptr);
  struct tm tm;
  if (!localtime_r(&now, &tm) || std::strftime(g_timeText.data(), g_timeText.size(), "%Y-%m-%d %T", &tm) == 0)
    g_timeText[0] = '\0';
  return g_timeText.data();
}

const char *elog_port_get_p_info(void) {
  std::snprintf(g_processText.data(), g_processText.size(), "pid:%04d", int(getpid()));
  return g_processText.data();
}

const char *elog_port_get_t_info(void) {
  std::snprintf(g_threadText.data(), g_threadText.size(), "tid:%04ld", long(syscall(SYS_gettid)));
  return g_threadText.data();
}
