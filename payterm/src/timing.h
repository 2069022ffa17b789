// Line timings of the link code. The defaults are the readers' own; tests
// shorten them so that silent peers do not hold a run for minutes.
#pragma once

namespace payterm {

struct LinkTiming {
  int tenth_ms = 100;      // one VTIME unit (a tenth of a second)
  int delay_pct = 100;     // scale of fixed pauses (beep, power-down, IC_Card)
  int t10n_read_ms = 100;  // one single-byte read of the T10N receiver
};

extern LinkTiming g_link_timing;

// Milliseconds of n VTIME units under the current scale.
int vtime_ms(int tenths);
// Sleeps (never spins) for about ms milliseconds, scaled by delay_pct.
void pause_ms(long ms);

}  // namespace payterm
