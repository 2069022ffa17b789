// The reader's side of the 64-byte report framing.
//
// Report layout, both directions:
//   [0]    node address (NAD) of the unit
//   [1]    control: bits 0-4 sequence number (mod 32), bit 5 more reports
//          follow, bit 6 toggle (0,1,0,... from the first report), bit 7 zero
//   [2]    count of data bytes in this report, at most 61
//   [3..]  61 data bytes, zero after the count
#pragma once
#include <array>
#include <string>
#include <vector>

#include "bytes.h"

namespace vr::hid {

constexpr size_t kReportSize = 64;
constexpr size_t kChunk = 61;
// Longest command the firmware accepts; longer trains are refused so memory
// stays bounded whatever a client sends.
constexpr size_t kMaxCommand = 4200;

using Report = std::array<uint8_t, kReportSize>;

// Cuts a reply (data and status word) into reports addressed with `nad`.
std::vector<Report> split(uint8_t nad, const Bytes& reply);

// Collects the reports of one command.
class Assembler {
 public:
  enum class Result { More, Done, Error };
  // `len` may be below 64 (the rest counts as zero). After Done or Error the
  // next report starts a new command; a report with sequence 0 and toggle 0
  // that does not continue the current command starts a new one (the host
  // gave up on the old one).
  Result feed(const uint8_t* report, size_t len);
  uint8_t nad() const { return nad_; }
  const Bytes& command() const { return cmd_; }
  const std::string& error() const { return error_; }
  bool idle() const { return expected_ == 0; }

 private:
  Result fail(const char* why);
  Bytes cmd_;
  std::string error_;
  uint8_t nad_ = 0;
  unsigned expected_ = 0;  // reports taken so far in the current command
};

}  // namespace vr::hid
