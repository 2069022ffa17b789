// Internal state and helpers of the driver log.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hidlink.h"

// Defaults of the log file; HIDLINK_LOG_FILE overrides the name.
constexpr char ELOG_FILE_NAME[] = "/tmp/hidlink.log";
constexpr size_t ELOG_FILE_MAX_SIZE = 1024 * 1024;
constexpr int ELOG_FILE_MAX_ROTATE = 5;
constexpr char ELOG_FILE_NAME_ENV[] = "HIDLINK_LOG_FILE";

// Key and permissions of the semaphore shared by every process using the log.
constexpr int ELOG_SEM_KEY = 0x19910612;
constexpr int ELOG_SEM_PERM = 0666;

enum class Level : uint8_t {
  Assert = ELOG_LVL_ASSERT,
  Error = ELOG_LVL_ERROR,
  Warn = ELOG_LVL_WARN,
  Info = ELOG_LVL_INFO,
  Debug = ELOG_LVL_DEBUG,
  Verbose = ELOG_LVL_VERBOSE,
};

// Holds the log file's cross-process lock (elog_file_port_lock) for a scope.
class FileLockGuard {
 public:
  FileLockGuard() { elog_file_port_lock(); }
  ~FileLockGuard() { elog_file_port_unlock(); }
  FileLockGuard(const FileLockGuard &) = delete;
  FileLockGuard &operator=(const FileLockGuard &) = delete;
};

// The driver's own lines, tag "hidlink".
#define HL_LOG_TAG "hidlink"
#define HL_LOG(lvl, ...) elog_output(uint8_t(lvl), HL_LOG_TAG, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define log_e(...) HL_LOG(Level::Error, __VA_ARGS__)
#define log_w(...) HL_LOG(Level::Warn, __VA_ARGS__)
#define log_i(...) HL_LOG(Level::Info, __VA_ARGS__)
#define log_d(...) HL_LOG(Level::Debug, __VA_ARGS__)
