// Adaptive models: an n-symbol alphabet coded as a binary decision tree.
#pragma once

#include <array>
#include <cstdint>

#include "arit_decoder.h"

namespace facet {

class Adaptive_Model {
 public:
  static constexpr int kMaxSymbols = 8;

  // A child is a node index (>= 0) or a leaf, stored as -(symbol + 1).
  struct Node {
    int8_t child[2];
  };

  explicit Adaptive_Model(int symbols);

  // Walks the tree from the root, one decision per node with that node's
  // own context; returns the symbol of the leaf reached.
  int decode(AritDecoder& dec);

  int symbols() const { return symbols_; }
  const Node& node(int index) const { return nodes_[index]; }

 private:
  void FormTree(int index, int n);

  int symbols_;
  int leaves_ = 0;
  std::array<Node, kMaxSymbols - 1> nodes_{};
  std::array<Context, kMaxSymbols - 1> contexts_{};
};

}  // namespace facet
