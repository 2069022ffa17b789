// vreaderctl: sends control lines to a running vreader and prints the replies.
//   vreaderctl [--socket PATH] COMMAND WORDS...   one command
//   vreaderctl [--socket PATH]                    one command per input line
//   vreaderctl [--socket PATH] hold hid|dc        takes that family's reader
//                                                 session, as another program
//                                                 would, until input ends
// Exit status: 0 all replies OK, 1 an ERR reply, 2 no connection.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "sockpath.h"

int main(int argc, char** argv) {
  std::string path = vr::defaultSocketPath();
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "--socket") {
    path = argv[i + 1];
    i += 2;
  }
  int fd = vr::connectTo(path);
  if (fd < 0) {
    std::fprintf(stderr, "vreaderctl: no vreader on %s\n", path.c_str());
    return 2;
  }
  int status = 0;
  auto one = [&](const std::string& line) {
    std::string out = line + "\n", reply;
    if (!vr::writeAll(fd, out.data(), out.size()) || !vr::readLine(fd, reply, 1 << 20, 30000)) {
      std::fprintf(stderr, "vreaderctl: connection lost\n");
      return false;
    }
    std::printf("%s\n", reply.c_str());
    std::fflush(stdout);
    if (reply.compare(0, 2, "OK") != 0) status = 1;
    return true;
  };
  if (i + 2 == argc && std::string(argv[i]) == "hold") {
    // The reader takes one session per family: holding it makes every other
    // program find it busy until this one lets go.
    if (!one("HELLO " + std::string(argv[i + 1]))) status = 2;
    if (status == 0)
      for (std::string line; std::getline(std::cin, line);) {
      }
  } else if (i < argc) {
    std::string line;
    for (; i < argc; ++i) line += (line.empty() ? "" : " ") + std::string(argv[i]);
    if (!one(line)) status = 2;
  } else {
    for (std::string line; std::getline(std::cin, line);) {
      if (line.empty()) continue;
      if (!one(line)) {
        status = 2;
        break;
      }
    }
  }
  close(fd);
  return status;
}
