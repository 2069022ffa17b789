// vreader: the virtual card reader daemon.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "profile.h"
#include "reader.h"
#include "replay.h"
#include "server.h"
#include "sockpath.h"

namespace {

vr::Server* g_server = nullptr;

void onSignal(int) {
  if (g_server) g_server->stop();
}

void usage(FILE* f) {
  std::fputs(
      "usage: vreader [--socket PATH] [--profile NAME|FILE] [--family hid|dc|both]\n"
      "               [--time-scale X] [--background] [--replay TRACE]\n"
      "The socket defaults to $VREADER_SOCKET, $XDG_RUNTIME_DIR/vreader.sock or\n"
      "/tmp/vreader-$UID.sock. Control it with vreaderctl (see sim/README.md).\n",
      f);
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath = vr::defaultSocketPath();
  std::string profileName, family = "hid";
  const char* scaleEnv = getenv("VREADER_TIME_SCALE");
  double scale = scaleEnv ? atof(scaleEnv) : 1.0;
  bool background = false;
  std::string replayPath;
  bool familyGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vreader: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--socket") socketPath = value("--socket");
    else if (a == "--profile") profileName = value("--profile");
    else if (a == "--family") family = value("--family"), familyGiven = true;
    else if (a == "--replay") replayPath = value("--replay");
    else if (a == "--time-scale") scale = atof(value("--time-scale"));
    else if (a == "--background") background = true;
    else if (a == "--help" || a == "-h") return usage(stdout), 0;
    else return usage(stderr), 2;
  }
  if (!(scale >= 0.0001 && scale <= 100)) {
    std::fprintf(stderr, "vreader: time scale must lie between 0.0001 and 100\n");
    return 2;
  }
  vr::Reader reader;
  reader.setTimeScale(scale);
  if (!profileName.empty()) {
    vr::Profile p;
    std::string err;
    if (!vr::loadProfile(profileName, p, err)) {
      std::fprintf(stderr, "vreader: %s\n", err.c_str());
      return 1;
    }
    reader.load(p);
  }
  // A replayed reader enumerates with the recorded serial and attaches the
  // families the trace holds.
  vr::Replay replay;
  if (!replayPath.empty()) {
    std::string err;
    if (!replay.load(replayPath, err)) {
      std::fprintf(stderr, "vreader: %s: %s\n", replayPath.c_str(), err.c_str());
      return 1;
    }
    vr::Profile p = reader.profile();
    if (!replay.serial().empty()) p.serial = replay.serial();
    reader.load(p);
    if (!familyGiven) family = replay.has(vr::Replay::Dc) ? (replay.has(vr::Replay::Hid) ? "both" : "dc") : "hid";
  }
  vr::Server server(reader, socketPath);
  if (!replayPath.empty()) server.setReplay(&replay);
  if (!server.setFamily(family)) {
    std::fprintf(stderr, "vreader: family must be hid, dc or both\n");
    return 2;
  }
  std::string err;
  if (!server.listen(err)) {
    std::fprintf(stderr, "vreader: %s\n", err.c_str());
    return 1;
  }
  if (background) {
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid > 0) {
      std::printf("%d\n", int(pid));
      std::fflush(stdout);
      std::_Exit(0);  // the child owns the socket now
    }
    setsid();
  }
  g_server = &server;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  std::fprintf(stderr, "vreader: listening on %s (family %s)\n", socketPath.c_str(), family.c_str());
  server.run();
  g_server = nullptr;
  return 0;
}
