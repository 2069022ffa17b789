// libhidlink_level.so: HIDLINK_LOG_LEVEL sets the driver's log level when the
// library is loaded, and anything but one digit 0..5 leaves it alone. The
// helper is loaded with dlopen after the variable is set, as the loader does
// for a preloaded library at start.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "hidlink.h"

namespace {

std::string LogText() {
  const char *path = getenv("HIDLINK_LOG_FILE");
  std::ifstream in(path != nullptr ? path : "");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class LevelFromEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getenv("HIDLINK_LOG_FILE"), nullptr) << "CTest sets the driver's log file";
    HV_set_debug_level(HV_DEBUG_LVL_ERROR);
  }
  void TearDown() override {
    unsetenv("HIDLINK_LOG_LEVEL");
    HV_set_debug_level(HV_DEBUG_LVL_ERROR);
  }

  // Loads (and unloads) the helper with HIDLINK_LOG_LEVEL as given (nullptr:
  // unset), which runs its constructor once.
  static void LoadHelper(const char *value) {
    if (value != nullptr)
      setenv("HIDLINK_LOG_LEVEL", value, 1);
    else
      unsetenv("HIDLINK_LOG_LEVEL");
    void *helper = dlopen(HIDLINK_LEVEL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(helper, nullptr) << dlerror();
    dlclose(helper);
  }

  // Writes one driver line at level and tells whether it reached the file.
  static bool Written(uint8_t level) {
    // The file outlives the run: markers carry the process id.
    static int serial = 0;
    const std::string marker =
        "level-probe-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    elog_output(level, "hidlink", __FILE__, __func__, __LINE__, "%s", marker.c_str());
    return LogText().find(marker) != std::string::npos;
  }
};

TEST_F(LevelFromEnvironment, WithoutTheVariableOnlyErrorsAreWritten) {
  LoadHelper(nullptr);
  EXPECT_TRUE(Written(HV_DEBUG_LVL_ERROR));
  EXPECT_FALSE(Written(HV_DEBUG_LVL_WARN));
  EXPECT_FALSE(Written(HV_DEBUG_LVL_DEBUG));
}

TEST_F(LevelFromEnvironment, FourAddsDebugLinesButNotVerbose) {
  LoadHelper("4");
  EXPECT_TRUE(Written(HV_DEBUG_LVL_DEBUG));
  EXPECT_TRUE(Written(HV_DEBUG_LVL_INFO));
  EXPECT_FALSE(Written(HV_DEBUG_LVL_VERBOSE));
}

TEST_F(LevelFromEnvironment, FourAddsTheHexDumps) {
  LoadHelper("4");
  const unsigned char bytes[] = {0x00, 0xA4, 0x04, 0x00};
  elog_hexdump("transmit", 16, bytes, sizeof bytes);
  EXPECT_NE(LogText().find("D/HEX transmit: 0000-000F: 00 A4 04 00"), std::string::npos);
}

TEST_F(LevelFromEnvironment, FiveAddsVerboseLines) {
  LoadHelper("5");
  EXPECT_TRUE(Written(HV_DEBUG_LVL_VERBOSE));
}

TEST_F(LevelFromEnvironment, ZeroKeepsEvenErrorsOut) {
  LoadHelper("0");
  EXPECT_FALSE(Written(HV_DEBUG_LVL_ERROR));
  EXPECT_TRUE(Written(HV_DEBUG_LVL_ASSERT));
}

TEST_F(LevelFromEnvironment, ValuesOutsideTheLevelsChangeNothing) {
  for (const char *value : {"6", "9", "-1", "4x", " 4", "44", "", "debug"}) {
    SCOPED_TRACE(value);
    LoadHelper(value);
    EXPECT_TRUE(Written(HV_DEBUG_LVL_ERROR));
    EXPECT_FALSE(Written(HV_DEBUG_LVL_WARN));
  }
}

}  // namespace
