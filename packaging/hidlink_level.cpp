// libhidlink_level.so: raises the USB-HID driver's log level for one run of
// the service. The service itself never changes the level, so its driver
// log (/tmp/hidlink.log) holds errors only; the hwservice launcher preloads
// this library when HIDLINK_LOG_LEVEL is set:
//
//   HIDLINK_LOG_LEVEL=4 hwservice     exchanges and hex dumps of every command
//
// Levels are the driver's: 0 assert, 1 error (the default), 2 warning,
// 3 info, 4 debug (with hex dumps), 5 verbose. Any other value is ignored.
// The library needs libhidlink, so the loader runs the driver's own set-up
// first and this constructor after it.
#include <cstdlib>

#include "hidlink.h"

namespace {

__attribute__((constructor)) void levelFromEnvironment() {
  const char *text = std::getenv("HIDLINK_LOG_LEVEL");
  if (!text || text[0] < '0' || text[0] > '5' || text[1] != '\0') return;
  HV_set_debug_level(static_cast<debug_level_e>(text[0] - '0'));
}

}  // namespace
