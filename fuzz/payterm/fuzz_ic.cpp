// Fuzz target: the IC_ receivers of libpayterm, directly and through the
// auxiliary port of a terminal.
//
// Input: byte 0 picks an operation, byte 1 is its argument, the rest is
// what the reader sends (answer bytes and replies). For the operations
// through a terminal's auxiliary port, the rest starts with a terminal
// definition text up to a zero byte (parsed by the library's own parser),
// followed by what the terminal sends.
//
// Checked: the plain receiver (marker 0xAA, status, N, N data, additive
// check) and the patient one (0xAA within 300 reads) against a model of
// the framing: result, data, and the exact bytes the library answers;
// the status query; every command returns a documented code and stays in
// its exactly sized buffers; a parsed terminal definition keeps its limits.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "ic_auxterm.h"
#include "ic_frame.h"
#include "ic_link.h"
#include "line.h"
#include "payterm.h"

namespace {

struct Cursor {
  const uint8_t *p;
  size_t n, i = 0;
  bool get(uint8_t *b) {
    if (i >= n) return false;
    *b = p[i++];
    return true;
  }
};

// What a receiver must do with these bytes: result and the bytes it sends.
struct Expect {
  int result;
  std::string sent;
  std::vector<uint8_t> data;
};

// Status, N, data and check after the marker.
bool Body(Cursor &c, uint8_t *s, std::vector<uint8_t> *data, uint8_t *check) {
  uint8_t n;
  if (!c.get(s) || !c.get(&n)) return false;
  data->resize(n);
  for (uint8_t &b : *data)
    if (!c.get(&b)) return false;
  return c.get(check);
}

uint8_t Check(const std::vector<uint8_t> &d) {
  unsigned s = static_cast<unsigned>(d.size());
  for (uint8_t b : d) s += b;
  return static_cast<uint8_t>(s);
}

Expect ModelPlain(const uint8_t *p, size_t n) {
  Cursor c{p, n};
  uint8_t b, s, check;
  std::vector<uint8_t> data;
  if (!c.get(&b)) return {-128, "", {}};
  if (b != 0xAA) return {b == 0 ? -1 : -static_cast<int>(b), "", {}};
  if (!Body(c, &s, &data, &check)) return {-128, std::string(1, '\0'), {}};
  if (check != Check(data)) return {-131, std::string(2, '\0'), {}};
  return {static_cast<int>(data.size()), std::string(2, '\0'), data};
}

Expect ModelPatient(const uint8_t *p, size_t n) {
  Cursor c{p, n};
  uint8_t b = 0, s, check;
  bool marker = false;
  for (int i = 0; i < 300 && !marker; i++)
    if (c.get(&b)) marker = b == 0xAA;
  if (!marker) return {-128, "", {}};
  std::vector<uint8_t> data;
  if (!Body(c, &s, &data, &check)) return {-128, std::string(1, '\0'), {}};
  if (s != 0) return {-static_cast<int>(s), std::string(1, '\0'), {}};
  if (check != Check(data)) return {-131, std::string("\0\x01", 2), {}};
  return {static_cast<int>(data.size()), std::string(2, '\0'), data};
}

void CheckReceiver(bool patient, const uint8_t *p, size_t n) {
  ReaderLine line(p, n);
  std::vector<uint8_t> out(255, 0xEE);
  int r = patient ? IC_RECEIVE1(line.fd(), out.data()) : IC_RECEIVE(line.fd(), out.data());
  Expect e = patient ? ModelPatient(p, n) : ModelPlain(p, n);
  FUZZ_CHECK(r == e.result);
  FUZZ_CHECK(line.written() == e.sent);
  if (r >= 0) {
    FUZZ_CHECK(e.data.empty() || memcmp(out.data(), e.data.data(), e.data.size()) == 0);
    for (size_t i = e.data.size(); i < out.size(); i++) FUZZ_CHECK(out[i] == 0xEE);
  }
}

void CheckTermDef(const payterm::TermDef &d) {
  FUZZ_CHECK(d.open.n <= payterm::Sequence::kMax);
  FUZZ_CHECK(d.close.n <= payterm::kTermSeqMax && d.wr_begin.n <= payterm::kTermSeqMax &&
             d.wr_end.n <= payterm::kTermSeqMax);
}

bool DocumentedCode(int r) { return r >= -255 || r == PAYTERM_E_NOT_SUPPORTED; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const uint8_t op = data[0], arg = data[1];
  const uint8_t *p = data + 2;
  size_t n = size - 2;
  QuickLineTimings();
  payterm::IcState &st = payterm::ic_state();
  st = payterm::IcState();

  const bool aux = op & 0x80;
  if (aux) {
    // A terminal definition, then the bytes of the terminal.
    const uint8_t *end = static_cast<const uint8_t *>(memchr(p, 0, n));
    size_t defLen = end != nullptr ? static_cast<size_t>(end - p) : n;
    std::vector<char> text(p, p + defLen);  // exactly the definition's bytes
    payterm::TermDef def;
    payterm::parse_term_def(text.data(), text.size(), &def);
    CheckTermDef(def);
    st.aux = def;
    st.device_d6 = arg & 1;
    p += defLen < n ? defLen + 1 : n;
    n -= defLen < n ? defLen + 1 : n;
  }

  switch (op & 0x7F) {
    case 0:
      if (!aux) return CheckReceiver(false, p, n), 0;
      break;
    case 1:
      if (!aux) return CheckReceiver(true, p, n), 0;
      break;
    default:
      break;
  }

  ReaderLine line(p, n);
  const int fd = line.fd();
  if (aux) {
    st.aux_active = true;
    st.aux_fd = fd;
  }
  static const uint8_t kApdu[] = {0x00, 0xB2, 0x01, 0x0C, 0x00};
  std::vector<uint8_t> longApdu(600);
  for (size_t i = 0; i < longApdu.size(); i++) longApdu[i] = static_cast<uint8_t>(i * 7);
  unsigned char rlen = 0;
  unsigned long rlenl = 0;
  int r = 0;
  switch ((op & 0x7F) % 11) {
    case 0:
      r = IC_RECEIVE(fd, Buf(255));
      FUZZ_CHECK(r <= 255);
      break;
    case 1:
      r = IC_RECEIVE1(fd, Buf(255));
      FUZZ_CHECK(r <= 255);
      break;
    case 2:
      r = IC_Status(fd);
      FUZZ_CHECK(r == 0 || r == 1 || r == -1);
      break;
    case 3:
      r = IC_CpuReset(fd, &rlen, Buf(255));
      if (r == 0) r = IC_CpuApdu(fd, sizeof kApdu, kApdu, &rlen, Buf(255));
      break;
    case 4:
      r = IC_Pro_Reset(fd, &rlen, Buf(255));
      if (r == 0) {
        // About two segments of fg - 4 bytes.
        r = IC_Pro_Commandlink(fd, 1 + 2 * arg, longApdu.data(), &rlenl, Buf(PAYTERM_PRO_RESP_MAX), 7,
                               static_cast<unsigned char>(5 + arg % 251));
        FUZZ_CHECK(r == 0 || r == -136);
        if (r == 0) FUZZ_CHECK(rlenl <= PAYTERM_PRO_RESP_MAX);
      }
      break;
    case 5: {
      long value = 0;
      r = IC_Read_Value(fd, arg, &value);
      break;
    }
    case 6:
      r = IC_ReadReaderSnr(fd, Buf(16));
      break;
    case 7:
      r = IC_Read(fd, 0x10, arg, Buf(arg));
      break;
    case 8: {
      unsigned long snr = 0;
      r = IC_Card(fd, arg, &snr);
      break;
    }
    case 9:
      r = IC_ReadCount_SLE4442(fd);
      FUZZ_CHECK(r <= 255);
      break;
    default: {
      static const uint8_t kFrame[] = {0x03, 0xFC, 0x00};
      r = IC_DATACOMM(fd, kFrame, Buf(255));
      FUZZ_CHECK(r <= 255);
      break;
    }
  }
  FUZZ_CHECK(DocumentedCode(r));
  st = payterm::IcState();
  return 0;
}
