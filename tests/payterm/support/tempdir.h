// Runs a test in a fresh temporary working directory (for the profile
// files the library reads relative to it) and goes back afterwards.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

class TempWorkDir {
 public:
  TempWorkDir() {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) old_ = cwd;
    char tmpl[] = "/tmp/payterm-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir_ = tmpl;
    if (!dir_.empty() && chdir(dir_.c_str()) != 0) dir_.clear();
  }
  ~TempWorkDir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) return;
    if (!dir_.empty()) {
      std::string cmd = "rm -rf '" + dir_ + "'";
      if (system(cmd.c_str()) != 0) return;
    }
  }
  bool ok() const { return !dir_.empty(); }
  const std::string& path() const { return dir_; }
  static void write(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }

 private:
  std::string old_, dir_;
};
