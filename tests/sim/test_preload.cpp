// A program built against the real hidapi reaches the virtual reader when
// the shim is preloaded, and finds nothing without a daemon.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "vreader_fixture.h"

namespace {
std::string runProbe() {
  std::string cmd = hwemu::ShellPrefix(VREADER_PRELOAD) + "'" + HIDAPI_PROBE + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  int st = pclose(p);
  return out + "exit " + std::to_string(WEXITSTATUS(st));
}
}  // namespace

TEST(Preload, ProbeReadsTheVersionThroughTheShim) {
  VreaderProcess vr;
  ASSERT_TRUE(vr.start());
  EXPECT_EQ(runProbe(), "VREADER-FW 1.4.0\nexit 0");
  vr.stop();
  EXPECT_EQ(runProbe(), "none\nexit 0");
}
