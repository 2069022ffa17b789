// hwservice-trace: runs hwservice (or any program) with the recording
// layers preloaded, so that what the reader said can be sent to support;
// --redact blanks the card holders' data in a trace (trace/README.md).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "redact.h"

namespace {

const char kPrivacy[] =
    "The trace contains personal data (card holders' names, numbers and photos): keep it private.\n";

std::string exeDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string p = n > 0 ? std::string(buf, size_t(n)) : ".";
  return p.substr(0, p.rfind('/'));
}

bool exists(const std::string& p) { return access(p.c_str(), R_OK) == 0; }

// Package layout: lib/ beside the program; build tree: bin/ and lib/.
std::string findLib(const std::string& name) {
  for (const std::string& d : {exeDir() + "/lib", exeDir() + "/../lib"})
    if (exists(d + "/" + name)) return d + "/" + name;
  return "";
}

std::string traceDir() {
  const char* home = getenv("HOME");
  std::string d = std::string(home && *home ? home : ".") + "/hwservice-traces";
  mkdir(d.c_str(), 0700);
  return d;
}

int usage(FILE* f) {
  std::fputs(
      "usage: hwservice-trace [--out FILE] [PROGRAM [ARGS...]]\n"
      "       hwservice-trace --redact FILE [--out FILE]\n"
      "Runs PROGRAM (default: hwservice beside this tool) and records every exchange\n"
      "with the card reader into FILE (default ~/hwservice-traces/trace-TIME.jsonl).\n"
      "--redact writes a copy with the card holders' data blanked (FILE.redacted).\n",
      f);
  return f == stdout ? 0 : 2;
}

bool writePrivate(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  fchmod(fd, 0600);
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
  return close(fd) == 0 && ok;
}

int redact(const std::string& in, std::string out) {
  std::ifstream f(in, std::ios::binary);
  if (!f) return std::fprintf(stderr, "hwservice-trace: cannot read %s\n", in.c_str()), 1;
  std::stringstream ss;
  ss << f.rdbuf();
  std::string text, err;
  if (!hwtrace::redactTrace(ss.str(), text, err))
    return std::fprintf(stderr, "hwservice-trace: %s: %s\n", in.c_str(), err.c_str()), 1;
  if (out.empty()) out = in + ".redacted";
  if (!writePrivate(out, text)) return std::fprintf(stderr, "hwservice-trace: cannot write %s\n", out.c_str()), 1;
  std::printf("Redacted trace: %s\nNames, numbers, addresses and photos are blanked; lengths and status words are kept.\n",
              out.c_str());
  return 0;
}

int record(std::string out, std::vector<std::string> argv) {
  // Installed, the launcher starts the user's copy of the program (its
  // config.ini and logs); it keeps LD_PRELOAD.
  if (argv.empty()) argv.push_back(exeDir() == "/opt/hwservice" && exists("/usr/bin/hwservice") ? "/usr/bin/hwservice"
                                                                                               : exeDir() + "/hwservice");
  const std::string hid = findLib("libhidtrace.so"), dc = findLib("libdctrace.so");
  if (hid.empty() || dc.empty()) return std::fprintf(stderr, "hwservice-trace: recording layers not found beside %s\n", exeDir().c_str()), 1;
  if (out.empty()) {
    char when[32];
    time_t now = time(nullptr);
    struct tm tmv;
    localtime_r(&now, &tmv);
    strftime(when, sizeof when, "%Y%m%d-%H%M%S", &tmv);
    out = traceDir() + "/trace-" + when + ".jsonl";
  }
  if (!writePrivate(out, "")) return std::fprintf(stderr, "hwservice-trace: cannot write %s\n", out.c_str()), 1;
  // The sanitizer runtime of an instrumented program must stay first.
  std::string preload = hid + ":" + dc, old = getenv("LD_PRELOAD") ? getenv("LD_PRELOAD") : "";
  if (!old.empty()) {
    size_t colon = old.find(':');
    std::string first = old.substr(0, colon);
    if (first.find("libasan") != std::string::npos)
      preload = first + ":" + preload + (colon == std::string::npos ? "" : old.substr(colon));
    else
      preload += ":" + old;
  }
  std::printf("Recording the reader traffic of %s into\n  %s\n%s", argv[0].c_str(), out.c_str(), kPrivacy);
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) return std::perror("hwservice-trace: fork"), 1;
  if (pid == 0) {
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("HWTRACE_FILE", out.c_str(), 1);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(&a[0]);
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "hwservice-trace: cannot start %s\n", args[0]);
    _exit(127);
  }
  // Ctrl-C reaches the program too; this process waits for it to finish.
  signal(SIGINT, SIG_IGN);
  signal(SIGTERM, SIG_IGN);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  std::printf(
      "\nTrace written: %s\n%s"
      "To send it: run  hwservice-trace --redact %s\n"
      "and attach %s.redacted to your message to your hwservice support contact.\n",
      out.c_str(), kPrivacy, out.c_str(), out.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, redactIn;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--out" || a == "--redact") && i + 1 < argc) (a == "--out" ? out : redactIn) = argv[++i];
    else if (a == "--help" || a == "-h") return usage(stdout);
    else if (a == "--") {
      ++i;
      break;
    } else if (a.compare(0, 2, "--") == 0) return usage(stderr);
    else break;
  }
  if (!redactIn.empty()) return i < argc ? usage(stderr) : redact(redactIn, out);
  return record(out, std::vector<std::string>(argv + i, argv + argc));
}
