#include "test_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace facet_test {

namespace {

std::string& Dir() {
  static std::string dir;
  return dir;
}

class TempDirEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char name[] = "/tmp/facet-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    Dir() = name;
    ASSERT_EQ(chdir(name), 0);
  }
  void TearDown() override {
    if (chdir("/") != 0) return;
    std::error_code ec;
    std::filesystem::remove_all(Dir(), ec);
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new TempDirEnvironment);

}  // namespace

const std::string& TestDir() { return Dir(); }

}  // namespace facet_test
