// A dc_ reader on the master side of a pseudo-terminal, written from the
// wire format alone: STX/DLE handshakes, DLE doubling, XOR check, NAK.
#pragma once

#include <functional>

#include "pty_peer.h"

struct DcFrame {
  uint8_t seq = 0;
  uint8_t cmd = 0;
  Bytes data;
  Bytes wire;  // every byte the host sent, STX to ETX
};

class DcReader {
 public:
  explicit DcReader(PtyPair& p) : p_(p) {}

  // Receives one frame; answers DLE to the STX and DLE after a good check.
  bool recv(DcFrame* f, int first_ms = 3000) {
    f->wire.clear();
    f->data.clear();
    int b = p_.read1(first_ms);
    if (b != 0x02) return false;
    f->wire.push_back(0x02);
    p_.write1(0x10);
    Bytes body;
    for (int guard = 0; guard < 1200; ++guard) {
      int c = p_.read1(1000);
      if (c < 0) return false;
      f->wire.push_back(static_cast<uint8_t>(c));
      if (c != 0x10) {
        body.push_back(static_cast<uint8_t>(c));
        continue;
      }
      int d = p_.read1(1000);
      if (d < 0) return false;
      f->wire.push_back(static_cast<uint8_t>(d));
      if (d == 0x10) {
        body.push_back(0x10);
      } else if (d == 0x03) {
        break;
      } else {
        return false;
      }
    }
    if (body.size() < 4 || body[2] != body.size() - 4) return false;
    uint8_t x = 0;
    for (uint8_t v : body) x ^= v;
    if (x != 0) return false;
    p_.write1(0x10);
    f->seq = body[0];
    f->cmd = body[1];
    f->data.assign(body.begin() + 3, body.end() - 1);
    return true;
  }

  static Bytes stuffed_body(uint8_t seq, uint8_t status, const Bytes& data, bool corrupt) {
    Bytes body{seq, status, static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    uint8_t x = 0;
    for (uint8_t v : body) x ^= v;
    body.push_back(corrupt ? static_cast<uint8_t>(x ^ 0x5A) : x);
    Bytes wire;
    for (uint8_t v : body) {
      wire.push_back(v);
      if (v == 0x10) wire.push_back(0x10);
    }
    wire.push_back(0x10);
    wire.push_back(0x03);
    return wire;
  }

  // Sends a reply; returns the host's final byte (DLE or NAK) or -1.
  int reply(uint8_t status, const Bytes& data, bool corrupt = false) {
    p_.write1(0x02);
    if (p_.read1() != 0x10) return -1;
    p_.write(stuffed_body(0x00, status, data, corrupt));
    return p_.read1();
  }

  using Handler = std::function<void(const DcFrame&, uint8_t* status, Bytes* out)>;

  // Answers n frames with the handler; records them.
  void serve(int n, const Handler& h) {
    for (int i = 0; i < n; ++i) {
      DcFrame f;
      if (!recv(&f)) return;
      frames.push_back(f);
      uint8_t status = 0;
      Bytes out;
      h(f, &status, &out);
      acks.push_back(reply(status, out));
    }
  }

  std::vector<DcFrame> frames;
  std::vector<int> acks;

 private:
  PtyPair& p_;
};
