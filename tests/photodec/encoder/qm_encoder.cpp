#include "qm_encoder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace facet_test {

std::string TestDataPath(const std::string& name) { return std::string(FACET_TEST_DATA_DIR) + "/" + name; }

const QmTable& ReferenceTable() {
  static const QmTable table = [] {
    QmTable t{};
    std::ifstream in(TestDataPath("t81_table_d3.tsv"));
    if (!in) throw std::runtime_error("t81_table_d3.tsv missing");
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#' || line.rfind("index", 0) == 0) continue;
      std::istringstream f(line);
      int index, nlps, nmps, sw;
      std::string qe;
      f >> index >> qe >> nlps >> nmps >> sw;
      if (!f || index != rows || index >= 113) throw std::runtime_error("bad table row: " + line);
      t.qe[index] = uint16_t(std::stoul(qe, nullptr, 16));
      t.nlps[index] = uint8_t(nlps);
      t.nmps[index] = uint8_t(nmps);
      t.swtch[index] = uint8_t(sw);
      ++rows;
    }
    if (rows != 113) throw std::runtime_error("table has wrong row count");
    return t;
  }();
  return table;
}

void QmEncoder::encode(Context& cx, int bit) {
  const QmTable& t = ReferenceTable();
  const uint64_t qe = t.qe[cx.index];
  a_ -= qe;
  if (bit == cx.mps) {
    if (a_ >= 0x8000) return;
    if (a_ < qe) {  // exchange: the MPS takes the upper sub-interval
      c_ += a_;
      a_ = qe;
    }
    cx.index = t.nmps[cx.index];
  } else {
    if (a_ >= qe) {  // no exchange: the LPS takes the upper sub-interval
      c_ += a_;
      a_ = qe;
    }
    if (t.swtch[cx.index]) cx.mps = 1 - cx.mps;
    cx.index = t.nlps[cx.index];
  }
  renormalise();
}

void QmEncoder::renormalise() {
  do {
    a_ <<= 1;
    c_ <<= 1;
    if (--ct_ == 0) {
      byteOut();
      ct_ = 8;
    }
  } while (a_ < 0x8000);
}

void QmEncoder::byteOut() {
  const uint64_t t = c_ >> 19;
  if (t > 0xFF) {
    if (out_.back() == 0xFF) throw std::logic_error("carry into 0xFF");
    ++out_.back();
    if (out_.back() == 0xFF) out_.push_back(0);
    for (; stacked_ > 0; --stacked_) out_.push_back(0);  // the carry turned them to 0x00
    if ((t & 0xFF) == 0xFF) throw std::logic_error("0xFF after a carry");
    out_.push_back(uint8_t(t & 0xFF));
  } else if (t == 0xFF) {
    ++stacked_;
  } else {
    for (; stacked_ > 0; --stacked_) {
      out_.push_back(0xFF);
      out_.push_back(0x00);
    }
    out_.push_back(uint8_t(t));
  }
  c_ &= 0x7FFFF;
}

std::vector<uint8_t> QmEncoder::finish() {
  // The value in the final interval with the most trailing zero bits.
  uint64_t t = (c_ + a_ - 1) & 0xFFFF0000;
  if (t < c_) t += 0x8000;
  c_ = t << ct_;
  byteOut();
  c_ <<= 8;
  byteOut();
  for (; stacked_ > 0; --stacked_) {
    out_.push_back(0xFF);
    out_.push_back(0x00);
  }
  std::vector<uint8_t> bytes(out_.begin() + 1, out_.end());
  while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
  return bytes;
}

void SymbolCoder::encodeIn(QmEncoder& enc, int symbol, int first, int n, int node) {
  if (n < 2) return;
  const int left = n - n / 2;
  const int bit = symbol >= first + left ? 1 : 0;
  enc.encode(contexts_[node], bit);
  if (bit == 0)
    encodeIn(enc, symbol, first, left, node + 1);
  else
    encodeIn(enc, symbol, first + left, n / 2, node + left);
}

}  // namespace facet_test
