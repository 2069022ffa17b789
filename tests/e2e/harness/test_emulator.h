// Programs that tests start, under the emulator of a cross build. An arm64
// build's tests run under qemu-user and cannot exec an arm64 program
// directly (no binfmt registration): the emulator goes in front of it.
// HW_TEST_EMULATOR holds the emulator's words separated by spaces; unset in a
// native build, where everything here is a no-op.
#ifndef TESTS_E2E_HARNESS_TEST_EMULATOR_H
#define TESTS_E2E_HARNESS_TEST_EMULATOR_H

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace hwemu {

inline std::vector<std::string> Words() {
  std::vector<std::string> words;
  const char *e = getenv("HW_TEST_EMULATOR");
  std::istringstream in(e != nullptr ? e : "");
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// argv that runs program with args: the emulator's words first, and then a
// preload meant for the program handed to the emulator (qemu's -E) so that
// the emulator itself does not try to load it.
inline std::vector<std::string> Argv(const std::string &program, const std::vector<std::string> &args,
                                     const std::string &preload = "") {
  std::vector<std::string> argv = Words();
  if (!argv.empty() && !preload.empty()) {
    argv.push_back("-E");
    argv.push_back("LD_PRELOAD=" + preload);
  }
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Execs Argv(program, args) with the PATH search the emulator's name needs;
// returns only on failure.
inline void Exec(const std::string &program, const std::vector<std::string> &args) {
  std::vector<std::string> argv = Argv(program, args);
  std::vector<char *> p;
  for (std::string &a : argv) p.push_back(&a[0]);
  p.push_back(nullptr);
  execvp(p[0], p.data());
}

// A shell command line's start: the emulator's words (quoted) and a space, or
// LD_PRELOAD='preload' natively; "" when there is neither.
inline std::string ShellPrefix(const std::string &preload = "") {
  std::string s;
  std::vector<std::string> words = Words();
  if (words.empty()) return preload.empty() ? s : "LD_PRELOAD='" + preload + "' ";
  for (const std::string &w : words) s += "'" + w + "' ";
  if (!preload.empty()) s += "-E 'LD_PRELOAD=" + preload + "' ";
  return s;
}

}  // namespace hwemu

#endif
