// A scripted libdcrf32 linked into unit tests in place of the stand-in, for
// answers the virtual reader never gives (wrong lengths, parse failures).
#pragma once
#include <deque>
#include <string>
#include <vector>

namespace fake_dc {

struct Answer {
  short result = 0;
  std::vector<unsigned char> bytes;  // ATR or response with its status word
};

extern std::deque<Answer> answers;     // for resets and APDUs, in call order
extern std::vector<std::string> calls;  // "cpuapdu 00C0000010", "pro_reset", "setcpu 0D", ...
extern short readResult, parseResult, otherResult;
extern unsigned textLen;
extern unsigned char text[256];
extern std::string parsed[11];  // parse outputs in the SDK's argument order
extern unsigned photoLen;       // photo length the read reports; bytes 0, 1, 2, ... up to 1024 of them

void reset();

}  // namespace fake_dc
