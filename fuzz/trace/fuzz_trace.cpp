// Redaction and replay parsing of a trace (trace/README.md): whatever the
// text, a redacted trace reads back with the same exchanges (the same units,
// command lengths, answer reports and their lengths, results), and redacting
// it again changes nothing.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "fuzz_check.h"
#include "redact.h"
#include "replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string in(reinterpret_cast<const char *>(data), size);
  std::string once, twice, err;
  vr::Replay before, after;
  std::string perr;
  const bool parsed = before.parse(in, perr);
  if (!hwtrace::redactTrace(in, once, err)) {
    FUZZ_CHECK(err.compare(0, 5, "line ") == 0);
    return 0;
  }
  FUZZ_CHECK(hwtrace::redactTrace(once, twice, err));
  FUZZ_CHECK(twice == once);
  if (!parsed) return 0;
  FUZZ_CHECK(after.parse(once, perr));
  FUZZ_CHECK(after.exchanges().size() == before.exchanges().size());
  for (size_t i = 0; i < before.exchanges().size(); ++i) {
    const vr::Replay::Exchange &a = before.exchanges()[i], &b = after.exchanges()[i];
    FUZZ_CHECK(a.fam == b.fam && a.nad == b.nad && a.cmd.size() == b.cmd.size());
    FUZZ_CHECK(a.result == b.result && a.payload.size() == b.payload.size());
    FUZZ_CHECK(a.reports.size() == b.reports.size());
    for (size_t r = 0; r < a.reports.size(); ++r) {
      FUZZ_CHECK(a.reports[r].size() == b.reports[r].size());
      // Unit, control byte and count of every report stay.
      for (size_t k = 0; k < 3 && k < a.reports[r].size(); ++k) FUZZ_CHECK(a.reports[r][k] == b.reports[r][k]);
    }
  }
  return 0;
}
