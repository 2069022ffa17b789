#include "hidframe.h"

#include <cstring>

namespace vr::hid {

std::vector<Report> split(uint8_t nad, const Bytes& reply) {
  std::vector<Report> out;
  size_t off = 0;
  unsigned seq = 0;
  do {
    size_t n = reply.size() - off;
    bool more = n > kChunk;
    if (more) n = kChunk;
    Report r{};
    r[0] = nad;
    r[1] = static_cast<uint8_t>((seq & 0x1F) | (more ? 0x20 : 0) | ((seq & 1) ? 0x40 : 0));
    r[2] = static_cast<uint8_t>(n);
    if (n) std::memcpy(&r[3], reply.data() + off, n);
    out.push_back(r);
    off += n;
    ++seq;
  } while (off < reply.size());
  return out;
}

Assembler::Result Assembler::fail(const char* why) {
  error_ = why;
  cmd_.clear();
  expected_ = 0;
  return Result::Error;
}

Assembler::Result Assembler::feed(const uint8_t* report, size_t len) {
  if (len < 3) return fail("report shorter than its header");
  uint8_t ctl = report[1];
  unsigned seq = ctl & 0x1F;
  bool more = ctl & 0x20;
  bool toggle = ctl & 0x40;
  size_t n = report[2];
  bool inOrder = seq == (expected_ & 0x1F) && toggle == bool(expected_ & 1);
  if (expected_ != 0 && !inOrder && seq == 0 && !toggle) {
    cmd_.clear();  // a new command replaces one the host abandoned
    expected_ = 0;
  }
  if (expected_ == 0) {
    cmd_.clear();
    error_.clear();
    nad_ = report[0];
  }
  if (ctl & 0x80) return fail("control byte bit 7 set");
  if (n > kChunk) return fail("count above 61");
  if (more && n != kChunk) return fail("report with more-follows not full");
  if (seq != (expected_ & 0x1F)) return fail("sequence number out of order");
  if (toggle != bool(expected_ & 1)) return fail("toggle bit out of order");
  if (report[0] != nad_) return fail("node address changed inside a command");
  if (cmd_.size() + n > kMaxCommand) return fail("command too long");
  for (size_t i = 0; i < n; ++i) cmd_.push_back(3 + i < len ? report[3 + i] : 0);
  ++expected_;
  if (more) return Result::More;
  expected_ = 0;
  if (cmd_.empty()) return fail("empty command");
  return Result::Done;
}

}  // namespace vr::hid
