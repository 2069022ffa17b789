// Test-only QM-coder arithmetic encoder, written from the encoder procedures
// of ITU-T T.81 Annex D, and the tree coding of n-symbol models.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace facet_test {

struct QmTable {
  uint16_t qe[113];
  uint8_t nlps[113];
  uint8_t nmps[113];
  uint8_t swtch[113];
};

// The probability table read from the reference file t81_table_d3.tsv.
const QmTable& ReferenceTable();
std::string TestDataPath(const std::string& name);

class QmEncoder {
 public:
  struct Context {
    int index = 0;
    int mps = 0;
  };

  void encode(Context& cx, int bit);
  // Flushes and returns the coded bytes, trailing zero bytes discarded.
  std::vector<uint8_t> finish();

 private:
  void renormalise();
  void byteOut();

  uint64_t a_ = 0x10000;
  uint64_t c_ = 0;
  int ct_ = 11;
  int stacked_ = 0;                 // 0xFF bytes held back for a carry
  std::vector<uint8_t> out_{0};     // out_[0] stands before the first byte
};

// An n-symbol model: the left side of each node takes n - n/2 symbols, the
// right n/2; the left root is node + 1, the right root node + (n - n/2).
class SymbolCoder {
 public:
  explicit SymbolCoder(int symbols) : symbols_(symbols), contexts_(symbols > 1 ? symbols - 1 : 0) {}
  void encode(QmEncoder& enc, int symbol) { encodeIn(enc, symbol, 0, symbols_, 0); }

 private:
  void encodeIn(QmEncoder& enc, int symbol, int first, int n, int node);
  int symbols_;
  std::vector<QmEncoder::Context> contexts_;
};

}  // namespace facet_test
