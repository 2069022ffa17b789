// A reader played from a recorded trace (trace/README.md): each command is
// answered with the recorded answer while it equals the recorded command, in
// order; the first one that differs ends the replay at that position. Bytes
// of a recorded command that are random numbers the program drew (recorded
// as "random" events) match any value: a host challenge differs each run.
// So do the data bytes of a command that redaction marked "holder_data".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace vr {

class Replay {
 public:
  enum Family { Hid, Dc };
  struct Exchange {
    Family fam = Hid;
    int line = 0;         // trace line of the command
    uint8_t nad = 0;      // USB-HID: the unit; vendor: the wire operation
    Bytes cmd;            // USB-HID: the assembled command; vendor: the payload
    std::vector<bool> random;  // bytes of cmd the program drew at random: any value matches
    bool holderData = false;   // a redacted trace's command that carried holder data:
                               // matched by its first five bytes and its length
    std::vector<Bytes> reports;  // USB-HID: the answer's reports as read
    int16_t result = 0;   // vendor: the call's result
    Bytes payload;        // vendor: the answer on the wire
    int64_t delayUs = 0;  // from the command to its answer
  };

  // Parses a whole trace; false with `err` naming the line at fault.
  bool parse(const std::string& text, std::string& err);
  bool load(const std::string& path, std::string& err);

  // The recorded exchange answering this command, or nullptr once the
  // replay has diverged (this command or an earlier one differed).
  const Exchange* next(Family fam, uint8_t nad, const Bytes& cmd);

  const std::vector<Exchange>& exchanges() const { return ex_; }
  bool has(Family f) const;
  const std::string& serial() const { return serial_; }
  bool diverged() const { return !divergence_.empty(); }
  // "trace line L (exchange K): expected .., received .."; empty while in step.
  const std::string& divergence() const { return divergence_; }
  // A JSON object for `vreaderctl state`.
  std::string stateJson() const;

 private:
  std::string path_, serial_, divergence_;
  std::vector<Exchange> ex_;
  std::vector<Bytes> randoms_;
  size_t pos_[2] = {0, 0};
  unsigned done_ = 0;
};

}  // namespace vr
