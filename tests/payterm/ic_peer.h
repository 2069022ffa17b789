// An IC_ reader on the master side of a pseudo-terminal, written from the
// wire format alone: 0x55 attention and answer bytes, L-prefixed frame
// with additive check, replies behind 0xAA with their own check.
#pragma once

#include <functional>

#include "pty_peer.h"

struct IcFrame {
  Bytes frame;  // L, command, parameters
  uint8_t check = 0;
  bool sum_ok = false;
  uint8_t cmd() const { return frame.size() > 1 ? frame[1] : 0; }
  Bytes params() const { return frame.size() > 2 ? Bytes(frame.begin() + 2, frame.end()) : Bytes{}; }
};

class IcReader {
 public:
  explicit IcReader(PtyPair& p) : p_(p) {}

  // One handshaken frame; a1 answers the attention byte, a2 the frame.
  bool recv(IcFrame* f, uint8_t a1 = 0, uint8_t a2 = 0, int first_ms = 3000) {
    if (p_.read1(first_ms) != 0x55) return false;
    p_.write1(a1);
    if (a1 != 0) return true;
    int l = p_.read1();
    if (l < 2) return false;
    Bytes rest = p_.read_exactly(static_cast<size_t>(l));  // L-1 bytes and the check
    if (rest.size() != static_cast<size_t>(l)) return false;
    f->frame.assign(1, static_cast<uint8_t>(l));
    f->frame.insert(f->frame.end(), rest.begin(), rest.end() - 1);
    f->check = rest.back();
    unsigned s = 0;
    for (uint8_t v : f->frame) s += v;
    f->sum_ok = static_cast<uint8_t>(s) == f->check;
    p_.write1(a2);
    return true;
  }

  // Reply behind the marker; returns the host's last answer byte or -1.
  int reply(uint8_t status, const Bytes& data, bool corrupt = false) {
    p_.write1(0xAA);
    if (p_.read1() != 0x00) return -1;
    Bytes r;
    r.reserve(data.size() + 3);
    r.push_back(status);
    r.push_back(static_cast<uint8_t>(data.size()));
    for (uint8_t v : data) r.push_back(v);
    unsigned s = static_cast<unsigned>(data.size());
    for (uint8_t v : data) s += v;
    r.push_back(static_cast<uint8_t>(corrupt ? s + 1 : s));
    p_.write(r);
    if (status != 0) return -2;  // the host answers nothing to a failed status
    return p_.read1();
  }

  using Handler = std::function<void(const IcFrame&, uint8_t* status, Bytes* out)>;

  void serve(int n, const Handler& h) {
    for (int i = 0; i < n; ++i) {
      IcFrame f;
      if (!recv(&f)) return;
      frames.push_back(f);
      uint8_t st = 0;
      Bytes out;
      h(f, &st, &out);
      acks.push_back(reply(st, out));
    }
  }

  std::vector<IcFrame> frames;
  std::vector<int> acks;

 private:
  PtyPair& p_;
};
