// Starts a private vreader for one test, on a socket in a fresh temporary
// folder, and talks to its control interface.
#pragma once
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "sockpath.h"
#include "../e2e/harness/test_emulator.h"

class VreaderProcess {
 public:
  ~VreaderProcess() { stop(); }

  static std::string binDir() {
    const char* b = getenv("HW_BINARY_DIR");
    return std::string(b ? b : ".") + "/bin";
  }
  static std::string profileDir() {
    const char* s = getenv("HW_SOURCE_DIR");
    return std::string(s ? s : ".") + "/sim/profiles";
  }

  // Starts the daemon and points VREADER_SOCKET of this process at it.
  bool start(const std::string& profile = profileDir() + "/demo.json", const std::string& family = "both",
             const std::string& scale = "0.01") {
    char tmpl[] = "/tmp/vreader-test-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    dir = tmpl;
    socket = dir + "/vr.sock";
    std::string bin = binDir() + "/vreader";
    pid = fork();
    if (pid == 0) {
      hwemu::Exec(bin, {"--socket", socket, "--profile", profile, "--family", family, "--time-scale", scale});
      _exit(127);
    }
    setenv("VREADER_SOCKET", socket.c_str(), 1);
    // The daemon is ready once it answers; give it up to five seconds.
    for (int i = 0; i < 500; ++i) {
      int fd = vr::connectTo(socket);
      if (fd >= 0) {
        close(fd);
        return ctl("ping") == "OK pong";
      }
      int st;
      if (waitpid(pid, &st, WNOHANG) == pid) {
        pid = -1;
        return false;
      }
      struct timespec ts {0, 10 * 1000 * 1000};
      nanosleep(&ts, nullptr);
    }
    return false;
  }

  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      int st;
      waitpid(pid, &st, 0);
      pid = -1;
    }
    if (!dir.empty()) {
      unlink(socket.c_str());
      rmdir(dir.c_str());
      dir.clear();
    }
  }

  // One control line on a fresh connection; the reply line, or "" when the
  // daemon did not answer.
  std::string ctl(const std::string& line) {
    int fd = vr::connectTo(socket);
    if (fd < 0) return "";
    std::string out = line + "\n", reply;
    bool ok = vr::writeAll(fd, out.data(), out.size()) && vr::readLine(fd, reply, 1 << 20, 5000);
    close(fd);
    return ok ? reply : "";
  }

  bool alive() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

  std::string dir, socket;
  pid_t pid = -1;
};
