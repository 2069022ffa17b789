#include "serial_readers.h"

#include <stdio.h>

namespace {

const char kHex[] = "0123456789ABCDEF";

std::string hex_of(const Bytes& b) {
  std::string s;
  for (uint8_t v : b) {
    s += kHex[v >> 4];
    s += kHex[v & 15];
  }
  return s;
}

int nibble(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

SerialReader::SerialReader(Kind kind) : kind_(kind), t_([this] { run(); }) {}

SerialReader::~SerialReader() {
  stop_ = true;
  if (t_.joinable()) t_.join();
}

std::vector<std::string> SerialReader::requests() {
  std::lock_guard<std::mutex> g(m_);
  return requests_;
}

Bytes SerialReader::preamble() {
  std::lock_guard<std::mutex> g(m_);
  return preamble_;
}

void SerialReader::log(const std::string& s) {
  std::lock_guard<std::mutex> g(m_);
  requests_.push_back(s);
}

void SerialReader::run() {
  while (!stop_) {
    if (kind_ == kSdandc)
      sdandc_once();
    else
      t10n_once();
  }
}

// "D&C", four hex characters of length, then command, data and check.
bool SerialReader::sdandc_once() {
  int c = pty_.read1(50);
  if (c != 'D') return false;
  Bytes head = pty_.read_exactly(6, 1000);
  if (head.size() != 6 || head[0] != '&' || head[1] != 'C') return false;
  unsigned len = 0;
  for (int i = 2; i < 6; ++i) len = len << 4 | static_cast<unsigned>(nibble(head[i]));
  Bytes body = pty_.read_exactly(len, 1000);
  if (body.size() != len || len < 4) return false;
  std::string text = "D&C" + std::string(head.begin() + 2, head.end()) +
                     std::string(body.begin(), body.end());
  log(text);
  Bytes b;
  for (size_t i = 0; i + 1 < body.size(); i += 2)
    b.push_back(static_cast<uint8_t>(nibble(body[i]) << 4 | nibble(body[i + 1])));
  uint8_t cmd = b[0];
  Bytes data(b.begin() + 1, b.end() - 1);
  uint8_t status = 0;
  Bytes out;
  switch (cmd) {
    case 0x31:
      out = ptcard::power(ptcard::kContact);
      if (out.empty()) status = 1;
      break;
    case 0x32:
      if (data.size() < 2) {
        status = 2;
        break;
      }
      out = ptcard::transmit(ptcard::kContact, Bytes(data.begin() + 2, data.end()));
      if (out.empty()) status = 1;
      break;
    case 0x50:
      if (ptcard::present(ptcard::kContactless))
        out = {0x04, 0x11, 0x22, 0x33, 0x44};
      else
        status = 1;
      break;
    case 0x51:
      out = ptcard::power(ptcard::kContactless);
      if (out.empty()) status = 1;
      break;
    case 0x54:
      if (data.size() < 2) {
        status = 2;
        break;
      }
      out = ptcard::transmit(ptcard::kContactless, Bytes(data.begin() + 2, data.end()));
      if (out.empty()) status = 1;
      break;
    default: break;  // 30, 40, 41: nothing to answer but the status
  }
  Bytes reply{status};
  reply.insert(reply.end(), out.begin(), out.end());
  uint8_t x = 0;
  for (uint8_t v : reply) x ^= v;
  reply.push_back(x);
  std::string hex = hex_of(reply);
  char lenText[5];
  snprintf(lenText, sizeof lenText, "%04X", static_cast<unsigned>(hex.size()));
  std::string frame = std::string("D&C") + lenText + hex;
  pty_.write(Bytes(frame.begin(), frame.end()));
  return true;
}

// STX, nibble characters (0x30 + value) of length, payload and XOR, ETX.
bool SerialReader::t10n_once() {
  int c = pty_.read1(50);
  if (c < 0) return false;
  if (c != 0x02) {
    std::lock_guard<std::mutex> g(m_);
    preamble_.push_back(static_cast<uint8_t>(c));
    return false;
  }
  Bytes chars;
  for (;;) {
    int d = pty_.read1(1000);
    if (d < 0) return false;
    if (d == 0x03) break;
    chars.push_back(static_cast<uint8_t>(d));
  }
  if (chars.size() < 4) return false;
  unsigned len = 0;
  for (int i = 0; i < 4; ++i) len = len << 4 | (chars[i] - 0x30u);
  Bytes payload;
  for (size_t i = 4; i + 1 < chars.size(); i += 2)
    payload.push_back(static_cast<uint8_t>((chars[i] - 0x30) << 4 | (chars[i + 1] - 0x30)));
  if (payload.size() != len + 1) return false;
  payload.pop_back();  // the check byte
  log(hex_of(payload));
  Bytes out;
  bool ok = true;
  if (payload.size() >= 2 && payload[0] == 0x32) {
    switch (payload[1]) {
      case 0x22:
        out = ptcard::power(ptcard::kContact);
        ok = !out.empty();
        break;
      case 0x24:
        out = ptcard::power(ptcard::kContactless);
        ok = !out.empty();
        break;
      case 0x26: {
        if (payload.size() < 7) {
          ok = false;
          break;
        }
        ptcard::Slot s = payload[2] == 0x00 ? ptcard::kContact : ptcard::kContactless;
        out = ptcard::transmit(s, Bytes(payload.begin() + 3, payload.end()));
        ok = !out.empty();
        break;
      }
      default: break;
    }
  }
  Bytes reply{0x00, static_cast<uint8_t>(ok ? 0x00 : 0x01)};
  reply.insert(reply.end(), out.begin(), out.end());
  uint8_t x = 0;
  for (uint8_t v : reply) x ^= v;
  Bytes frame{0x02};
  unsigned n = static_cast<unsigned>(reply.size());
  for (int s = 12; s >= 0; s -= 4) frame.push_back(static_cast<uint8_t>(0x30 + ((n >> s) & 15)));
  reply.push_back(x);
  for (uint8_t v : reply) {
    frame.push_back(static_cast<uint8_t>(0x30 + (v >> 4)));
    frame.push_back(static_cast<uint8_t>(0x30 + (v & 15)));
  }
  frame.push_back(0x03);
  pty_.write(frame);
  return true;
}
