// Runs requests through the service's dispatcher on whatever reader the
// process reaches (a replaying vreader in the trace tests) and writes each
// reply text, as the service would send it, to OUT (the dispatcher's own log
// goes to standard output).
#include <cstdio>
#include <string>

#include "dispatcher.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: hwtrace_call OUT REQUEST...\n", stderr);
    return 2;
  }
  FILE* out = std::fopen(argv[1], "w");
  if (!out) return 1;
  for (int i = 2; i < argc; ++i) {
    std::string reply, err;
    if (HandlerICReader(nullptr, argv[i], reply, err) != 0) reply = "turned away: " + err + "\n";
    std::fwrite(reply.data(), 1, reply.size(), out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
