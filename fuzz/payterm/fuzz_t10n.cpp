// Fuzz target: the T10N receiver of libpayterm (nibble characters between
// STX and ETX) on the terminal channel.
//
// Input: byte 0 picks an operation, byte 1 the read tries, the rest is
// what the reader sends. Checked against a model of the framing (skip to
// STX within the scan limit, four length characters, characters up to
// ETX decoded in pairs, the decoded count minus the unverified check byte
// equal to the length): Dc_T10N_ReadData gives the model's code, status
// and data; the commands write exactly their frame and give 0 only for a
// reply with status 00 00; the pure body decoder agrees with the model.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "line.h"
#include "payterm.h"
#include "t10n.h"
#include "t10n_frame.h"

namespace {

constexpr uint8_t STX = 0x02, ETX = 0x03;

int Nibble(uint8_t c) { return c >= 0x30 && c <= 0x3F ? c - 0x30 : -1; }

struct Reply {
  int code;
  uint8_t status[2];
  std::vector<uint8_t> data;
};

Reply ModelRead(const uint8_t *p, size_t n) {
  Reply r{0, {0, 0}, {}};
  size_t i = 0;
  bool synced = false;
  for (int k = 0; k < 2 * 2048 + 16 && i < n; k++)
    if (p[i++] == STX) {
      synced = true;
      break;
    }
  if (!synced) return {-1, {0, 0}, {}};
  unsigned length = 0;
  for (int k = 0; k < 4; k++) {
    if (i >= n || p[i] == ETX || Nibble(p[i]) < 0) return {-2, {0, 0}, {}};
    length = length << 4 | static_cast<unsigned>(Nibble(p[i++]));
  }
  std::vector<uint8_t> chars;
  for (;;) {
    if (i >= n) return {-3, {0, 0}, {}};
    uint8_t c = p[i++];
    if (c == ETX) break;
    if (chars.size() == 2 * (2048 + 1)) return {-4, {0, 0}, {}};
    chars.push_back(c);
  }
  if (chars.empty()) return {-3, {0, 0}, {}};
  if (chars.size() % 2 != 0) return {-4, {0, 0}, {}};
  std::vector<uint8_t> bytes;
  for (size_t k = 0; k < chars.size(); k += 2) {
    int hi = Nibble(chars[k]), lo = Nibble(chars[k + 1]);
    if (hi < 0 || lo < 0) return {-4, {0, 0}, {}};
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  if (bytes.size() - 1 != length || length < 2) return {-4, {0, 0}, {}};
  r.status[0] = bytes[0];
  r.status[1] = bytes[1];
  r.data.assign(bytes.begin() + 2, bytes.begin() + length);
  return r;
}

// The frame a command must write, built from the framing's definition.
std::string Frame(const std::vector<uint8_t> &payload) {
  std::string f(1, STX);
  for (int shift = 12; shift >= 0; shift -= 4) f += static_cast<char>(0x30 + (payload.size() >> shift & 15));
  uint8_t x = 0;
  for (uint8_t b : payload) {
    f += static_cast<char>(0x30 + (b >> 4));
    f += static_cast<char>(0x30 + (b & 15));
    x ^= b;
  }
  f += static_cast<char>(0x30 + (x >> 4));
  f += static_cast<char>(0x30 + (x & 15));
  f += static_cast<char>(ETX);
  return f;
}

void CheckBodyDecoder(const uint8_t *p, size_t n) {
  std::vector<uint8_t> chars(p, p + n), out(n / 2 + 1, 0xEE);
  size_t nout = 12345;
  bool ok = payterm::t10n_decode_body(chars.data(), n, out.data(), &nout);
  bool model = n % 2 == 0;
  for (size_t i = 0; i < n && model; i++) model = Nibble(p[i]) >= 0;
  FUZZ_CHECK(ok == model);
  if (!ok) return;
  FUZZ_CHECK(nout == n / 2);
  for (size_t i = 0; i < nout; i++) FUZZ_CHECK(out[i] == (Nibble(p[2 * i]) << 4 | Nibble(p[2 * i + 1])));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0];
  const int tries = 1 + data[1] % 4;
  const uint8_t *p = data + 2;
  const size_t n = size - 2;
  QuickLineTimings();
  CheckBodyDecoder(p, n);

  ReaderLine line(p, n);
  payterm::t10n_channel() = line.fd();
  const Reply want = ModelRead(p, n);
  int len = -5;
  uint8_t *out = Buf(2048);
  std::vector<uint8_t> payload;
  int r;
  static const uint8_t kData[] = {0x00, 0x00, 0x00, 0x00};
  switch (op % 4) {
    case 0: {
      uint8_t status[2] = {0xEE, 0xEE};
      r = Dc_T10N_ReadData(out, &len, status, tries);
      payterm::t10n_channel() = -1;
      FUZZ_CHECK(r == want.code && line.written().empty());
      if (r == 0) {
        FUZZ_CHECK(status[0] == want.status[0] && status[1] == want.status[1]);
        FUZZ_CHECK(len == static_cast<int>(want.data.size()));
        FUZZ_CHECK(want.data.empty() || memcmp(out, want.data.data(), want.data.size()) == 0);
      }
      return 0;
    }
    case 1:
      r = Dc_T10N_IC_PowerUp(0x01, 0x00, 0x00, out, &len);
      payload = {0x32, 0x22, 0x01, 0x00, 0x00};
      break;
    case 2:
      r = Dc_T10N_RF_PowerUp(0x01, 0x00, out, &len);
      payload = {0x32, 0x24, 0x01, 0x00};
      break;
    default:
      r = Dc_T10N_APDU(0xFF, 0x00, 0xB0, 0x95, 0x00, sizeof kData, kData, 0x00, out, &len);
      payload = {0x32, 0x26, 0xFF, 0x00, 0xB0, 0x95, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00};
      break;
  }
  payterm::t10n_channel() = -1;
  FUZZ_CHECK(line.written() == Frame(payload));
  const bool ok = want.code == 0 && want.status[0] == 0 && want.status[1] == 0;
  FUZZ_CHECK(r == (ok ? 0 : want.code == 0 ? -1 : want.code));
  if (r == 0) FUZZ_CHECK(len == static_cast<int>(want.data.size()));
  return 0;
}
