#include "timing.h"

#include <time.h>
#include <errno.h>

namespace payterm {

LinkTiming g_link_timing;

int vtime_ms(int tenths) { return tenths * g_link_timing.tenth_ms; }

void pause_ms(long ms) {
  long scaled = ms * g_link_timing.delay_pct / 100;
  if (scaled <= 0) return;
  struct timespec ts;
  ts.tv_sec = scaled / 1000;
  ts.tv_nsec = (scaled % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace payterm
