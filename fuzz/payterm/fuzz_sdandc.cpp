// Fuzz target: the SDANDC receivers of libpayterm ("D&C" hex text).
//
// Input: byte 0 picks an operation, the rest is what the reader sends.
// Checked against a model of the framing ("D&C", four hex characters
// giving the count that follows, then hex of status, data and an XOR check
// that makes all bytes XOR to 0): DC_communication takes exactly the reply
// text, DC_command gives the model's code and data, the device operations
// give 0 or -1 and stay in their 2048-byte buffers; the pure decoder
// agrees with the model and a decoded reply encodes back to its text (hex
// case aside).
#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "line.h"
#include "payterm.h"
#include "sdandc_frame.h"

namespace {

int Hex(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The reply text the framing reads from these bytes, or -1.
long ModelText(const uint8_t *p, size_t n) {
  if (n < 7 || memcmp(p, "D&C", 3) != 0) return -1;
  long follow = 0;
  for (int i = 3; i < 7; i++) {
    if (Hex(p[i]) < 0) return -1;
    follow = follow * 16 + Hex(p[i]);
  }
  if (7 + follow > 4096 || static_cast<size_t>(7 + follow) > n) return -1;
  return 7 + follow;
}

// The hex characters after the length field: status, data, check.
struct Decoded {
  bool ok = false;
  uint8_t status = 0;
  std::vector<uint8_t> data;
};

Decoded ModelDecode(const uint8_t *chars, size_t n) {
  Decoded d;
  if (n < 4 || n % 2 != 0 || n > 4096) return d;
  std::vector<uint8_t> bytes;
  uint8_t x = 0;
  for (size_t i = 0; i < n; i += 2) {
    int hi = Hex(chars[i]), lo = Hex(chars[i + 1]);
    if (hi < 0 || lo < 0) return d;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    x ^= bytes.back();
  }
  if (x != 0) return d;
  d.ok = true;
  d.status = bytes[0];
  d.data.assign(bytes.begin() + 1, bytes.end() - 1);
  return d;
}

// DC_command's outcome for a reply text of len characters at p (or none).
int ModelCommand(const uint8_t *p, long len, std::vector<uint8_t> *data) {
  data->clear();
  if (len < 0) return -1;
  Decoded d = ModelDecode(p + 7, static_cast<size_t>(len) - 7);
  if (!d.ok) return -1;
  if (d.status != 0) return -d.status;
  *data = d.data;
  return 0;
}

void CheckDecoder(const uint8_t *p, size_t n) {
  std::vector<char> text(p, p + n);  // exactly the characters
  uint8_t status = 0;
  size_t dlen = 0;
  std::vector<uint8_t> out(payterm::kSdandcFrameMax / 2, 0xEE);
  int r = payterm::sdandc_decode(text.data(), n, &status, out.data(), &dlen);
  Decoded d = ModelDecode(p, n);
  FUZZ_CHECK((r == 0) == d.ok && (r == 0 || r == -1));
  if (r != 0) return;
  FUZZ_CHECK(status == d.status && dlen == d.data.size());
  FUZZ_CHECK(dlen == 0 || memcmp(out.data(), d.data.data(), dlen) == 0);
  if (dlen > payterm::kSdandcDataMax) return;
  // Encoded again (status in place of the command) it is the same text.
  std::vector<char> enc(2 * dlen + 11);
  FUZZ_CHECK(payterm::sdandc_encode(status, out.data(), dlen, enc.data()) == enc.size());
  for (size_t i = 0; i < n; i++) FUZZ_CHECK(toupper(static_cast<unsigned char>(text[i])) == enc[7 + i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t op = data[0];
  const uint8_t *p = data + 1;
  const size_t n = size - 1;
  CheckDecoder(p, n);

  ReaderLine line(p, n);
  const int fd = line.fd();
  static const uint8_t kApdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
  const long text = ModelText(p, n);
  std::vector<uint8_t> model;
  const int want = ModelCommand(p, text, &model);
  unsigned long rlen = 0xA5A5;
  int r;
  switch (op % 8) {
    case 0: {
      std::vector<char> reply(payterm::kSdandcFrameMax, 'Z');
      int replyLen = -5;
      r = DC_communication(fd, "D&C00044040", 11, reply.data(), &replyLen);
      FUZZ_CHECK(r == (text < 0 ? -1 : 0));
      if (r == 0) FUZZ_CHECK(replyLen == text && memcmp(reply.data(), p, static_cast<size_t>(text)) == 0);
      FUZZ_CHECK(line.written() == "D&C00044040");
      return 0;
    }
    case 1: {
      int outLen = -5;
      uint8_t *out = Buf(2048);
      r = DC_command(fd, 0x32, kApdu, sizeof kApdu, out, &outLen);
      FUZZ_CHECK(r == want);
      if (r == 0) FUZZ_CHECK(outLen == static_cast<int>(model.size()) && (model.empty() || memcmp(out, model.data(), model.size()) == 0));
      FUZZ_CHECK(line.written() == "D&C000E320084000008BE");
      return 0;
    }
    case 2:
      r = SDANDC_Device_CpuReset(fd, 3, 1, 2, &rlen, Buf(2048));
      break;
    case 3:
      r = SDANDC_Device_Cpuapdu(fd, 0x0C, sizeof kApdu, kApdu, &rlen, Buf(2048));
      break;
    case 4:
      r = SDANDC_Device_FindCard(fd, &rlen, Buf(2048));
      if (r == 0) FUZZ_CHECK(rlen + 1 == model.size());
      FUZZ_CHECK(r == (want == 0 && !model.empty() ? 0 : -1));
      return 0;
    case 5:
      r = SDANDC_Device_CardReset(fd, &rlen, Buf(2048));
      break;
    case 6:
      r = SDANDC_Device_CardApdu(fd, sizeof kApdu, kApdu, &rlen, Buf(2048), 7, 56);
      break;
    default:
      r = SDANDC_Device_Reset(fd);
      break;
  }
  FUZZ_CHECK(r == (want == 0 ? 0 : -1));
  if (r == 0 && op % 8 != 7) FUZZ_CHECK(rlen == model.size());
  return 0;
}
