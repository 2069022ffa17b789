// Fuzz target: the dc_ receivers of libpayterm.
//
// Input: byte 0 picks an operation, byte 1 is its argument, the rest is
// what the reader sends (handshake bytes and reply frames), queued on the
// line before the call. Outputs are heap buffers of exactly their
// documented size.
//
// Checked: receive_cmd against a model of the framing (STX, DLE handshake,
// DLE-stuffed body seq/status/len/data/XOR, DLE ETX): the same result code,
// the same data and the exact bytes the library answers (DLE, or NAK on a
// bad check); the byte-wise reply decoder on its own, whose every complete
// reply must encode back to exactly the bytes it came from; every other
// operation returns one of the documented codes and stays in its buffers.
#include <string.h>

#include <string>
#include <vector>

#include "dc_frame.h"
#include "dc_link.h"
#include "dc_state.h"
#include "fuzz_check.h"
#include "line.h"
#include "payterm.h"

namespace {

constexpr uint8_t STX = 0x02, ETX = 0x03, DLE = 0x10;

struct ModelReply {
  enum { kMore, kDone, kBadFrame, kBadCheck } state = kMore;
  std::vector<uint8_t> body;  // seq, status, len, data, check
  size_t used = 0;            // input bytes taken
};

// Decodes the bytes after STX as the framing defines it.
ModelReply DecodeReply(const uint8_t *p, size_t n) {
  ModelReply m;
  size_t i = 0;
  auto complete = [&] { return m.body.size() >= 4 && m.body.size() == 4u + m.body[2]; };
  while (!complete()) {
    if (i >= n) return m;
    uint8_t b = p[i++];
    if (b == DLE) {
      if (i >= n) return m;
      if (p[i++] != DLE) {
        m.state = ModelReply::kBadFrame;
        m.used = i;
        return m;
      }
    }
    m.body.push_back(b);
  }
  for (uint8_t want : {DLE, ETX}) {
    if (i >= n) return m;
    if (p[i++] != want) {
      m.state = ModelReply::kBadFrame;
      m.used = i;
      return m;
    }
  }
  m.used = i;
  uint8_t x = 0;
  for (uint8_t b : m.body) x ^= b;
  m.state = x == 0 ? ModelReply::kDone : ModelReply::kBadCheck;
  return m;
}

// The decoder of the library, byte by byte, against the model; a complete
// reply re-encoded gives back exactly the bytes it was read from.
void CheckParser(const uint8_t *p, size_t n) {
  payterm::DcReplyParser parser;
  ModelReply m = DecodeReply(p, n);
  for (size_t i = 0; i < n; i++) {
    payterm::DcReplyParser::Result r = parser.feed(p[i]);
    if (r == payterm::DcReplyParser::kMore) continue;
    FUZZ_CHECK(i + 1 == m.used);
    if (r == payterm::DcReplyParser::kBadFrame) FUZZ_CHECK(m.state == ModelReply::kBadFrame);
    if (r == payterm::DcReplyParser::kBadCheck) FUZZ_CHECK(m.state == ModelReply::kBadCheck);
    if (r != payterm::DcReplyParser::kDone) return;
    FUZZ_CHECK(m.state == ModelReply::kDone);
    FUZZ_CHECK(parser.status() == m.body[1] && parser.length() == m.body[2]);
    FUZZ_CHECK(memcmp(parser.data(), m.body.data() + 3, m.body[2]) == 0);
    uint8_t body[260], wire[522];
    size_t bn = payterm::dc_build_body(m.body[0], parser.status(), parser.data(), parser.length(), body);
    size_t wn = payterm::dc_stuff(body, bn, wire);
    wire[wn++] = DLE;
    wire[wn++] = ETX;
    FUZZ_CHECK(wn == i + 1 && memcmp(wire, p, wn) == 0);
    return;
  }
  FUZZ_CHECK(m.state == ModelReply::kMore);
}

// receive_cmd: result code and answer bytes as the framing prescribes.
void CheckReceive(const uint8_t *p, size_t n) {
  ReaderLine line(p, n);
  std::vector<uint8_t> out(255, 0xEE);
  int r = receive_cmd(line.fd(), out.data());
  std::string sent = line.written();
  if (n == 0) {
    FUZZ_CHECK(r == payterm::kDcReadFail && sent.empty());
    return;
  }
  if (p[0] != STX) {
    FUZZ_CHECK(r == payterm::kDcNoSync && sent.empty());
    return;
  }
  ModelReply m = DecodeReply(p + 1, n - 1);
  switch (m.state) {
    case ModelReply::kMore:
      FUZZ_CHECK(r == payterm::kDcReadFail && sent == "\x10");
      return;
    case ModelReply::kBadFrame:
      FUZZ_CHECK(r == payterm::kDcFrameErr && sent == "\x10");
      return;
    case ModelReply::kBadCheck:
      FUZZ_CHECK(r == payterm::kDcFrameErr && sent == std::string("\x10\x15", 2));  // DLE, NAK
      return;
    case ModelReply::kDone:
      FUZZ_CHECK(sent == std::string("\x10\x10", 2));
      if (m.body[1] != 0) {
        FUZZ_CHECK(r == -1);
        return;
      }
      FUZZ_CHECK(r == 0 && memcmp(out.data(), m.body.data() + 3, m.body[2]) == 0);
      for (size_t i = m.body[2]; i < out.size(); i++) FUZZ_CHECK(out[i] == 0xEE);
      return;
  }
}

bool DocumentedCode(int r) {
  return r == 0 || r == -1 || r == payterm::kDcNoSync || r == payterm::kDcBadApdu ||
         r == payterm::kDcFrameErr || r == payterm::kDcReadFail || r == payterm::kDcWriteFail ||
         r == payterm::kDcBadLrc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], arg = data[1];
  const uint8_t *p = data + 2;
  const size_t n = size - 2;
  QuickLineTimings();
  CheckParser(p, n);
  if (op % 12 == 0) {
    CheckReceive(p, n);
    return 0;
  }

  ReaderLine line(p, n);
  const int fd = line.fd();
  payterm::DcCardState &st = payterm::dc_card_state();
  st.tpro = arg & 1;
  static const uint8_t kApdu[] = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01, 0x00};
  std::vector<uint8_t> longApdu(600);
  for (size_t i = 0; i < longApdu.size(); i++) longApdu[i] = static_cast<uint8_t>(i);
  unsigned char rlen = 0;
  unsigned long rlenl = 0;
  int r = 0;
  switch (op % 12) {
    case 1: {
      r = dc_cpureset(fd, &rlen, Buf(255));
      if (r == 0) r = dc_cpuapdu(fd, sizeof kApdu, kApdu, &rlenl, Buf(255));
      if (r == 0) FUZZ_CHECK(rlenl <= 255);
      break;
    }
    case 2:
      r = dc_pro_reset(fd, &rlen, Buf(255));
      if (r == 0) r = dc_pro_command(fd, sizeof kApdu, kApdu, &rlen, Buf(255), 7);
      break;
    case 3: {
      // Chained in segments of fg - 6 bytes.
      const unsigned char fg = static_cast<unsigned char>(7 + arg % 250);
      r = dc_pro_commandlink(fd, 1 + arg * 2, longApdu.data(), &rlenl, Buf(PAYTERM_PRO_RESP_MAX), 7, fg);
      if (r == 0) FUZZ_CHECK(rlenl <= PAYTERM_PRO_RESP_MAX);
      break;
    }
    case 4: {
      unsigned long snr = 0;
      r = dc_card(fd, arg, &snr);
      break;
    }
    case 5: {
      char *hex = reinterpret_cast<char *>(Buf(2 * 255 + 1));
      r = dc_cpureset_hex(fd, &rlen, hex);
      if (r == 0) FUZZ_CHECK(strlen(hex) == 2u * rlen);
      break;
    }
    case 6: {
      char *hex = reinterpret_cast<char *>(Buf(2 * 255 + 1));
      r = dc_cpuapdu_hex(fd, 5, "0084000008", &rlenl, hex);
      if (r == 0) FUZZ_CHECK(strlen(hex) == 2 * rlenl);
      break;
    }
    case 7:
      r = dc_gettime(fd, Buf(7));
      break;
    case 8:
      r = dc_read(fd, arg, Buf(16));
      break;
    case 9:
      // Memory read of exactly the asked length.
      r = dc_read_4442(fd, 0x20, arg, Buf(arg));
      break;
    case 10:
      r = dc_readpin_4442(fd, &rlen, Buf(255));
      break;
    default: {
      unsigned char ver[2];
      r = dc_getver(fd, ver);
      if (r == 0) r = dc_get_status(fd, Buf(1));
      if (r == 0) r = dc_pro_commandsource(fd, 5, kApdu, &rlen, Buf(255), 7);
      break;
    }
  }
  FUZZ_CHECK(DocumentedCode(r));
  return 0;
}
