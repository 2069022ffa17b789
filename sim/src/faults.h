// Faults injected from the control interface, each taken by the next
// command(s) that reach a matching node address.
#pragma once
#include <deque>
#include <optional>
#include <string>

#include "bytes.h"

namespace vr {

struct Fault {
  enum Kind { NoAnswer, Garble, Short, Sw, Delay, Cut } kind = NoAnswer;
  unsigned value = 0;  // status word, delay in ms, or data bytes kept by Cut
  int nad = -1;        // -1: any unit
  int count = 1;       // commands still to hit
  Bytes cmd;           // only commands that begin with these bytes (any when empty)
  int skip = 0;        // matching commands to let through first
};

// Parses "noanswer|garble|short|sw XXXX|delay MS|cut N [nad=N] [count=N] [cmd=HEX] [skip=N]".
// cut N: the command runs and its reply keeps N data bytes and the status word.
bool parseFault(const std::string& args, Fault& f, std::string& err);
const char* faultName(Fault::Kind k);

class FaultQueue {
 public:
  static constexpr size_t kMax = 32;
  bool add(const Fault& f);  // false when the queue is full
  void clear() { q_.clear(); }
  // The first fault that matches `nad` and the command, counted down.
  std::optional<Fault> take(int nad, const Bytes& cmd = Bytes());
  std::string json() const;
  size_t size() const { return q_.size(); }

 private:
  std::deque<Fault> q_;
};

}  // namespace vr
