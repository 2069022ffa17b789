#include "adaptive_model.h"

namespace facet {

Adaptive_Model::Adaptive_Model(int symbols) : symbols_(symbols) {
  if (symbols_ >= 2) FormTree(0, symbols_);
}

// The left side takes the larger half; nodes are numbered depth-first, left
// first, and leaves in the order they are made (left to right).
void Adaptive_Model::FormTree(int index, int n) {
  const int left = n - n / 2;
  const int right = n / 2;
  if (left < 2) {
    nodes_[index].child[0] = int8_t(-(leaves_++) - 1);
  } else {
    nodes_[index].child[0] = int8_t(index + 1);
    FormTree(index + 1, left);
  }
  if (right < 2) {
    nodes_[index].child[1] = int8_t(-(leaves_++) - 1);
  } else {
    nodes_[index].child[1] = int8_t(index + left);
    FormTree(index + left, right);
  }
}

int Adaptive_Model::decode(AritDecoder& dec) {
  if (symbols_ < 2) return 0;
  int node = 0;
  for (;;) {
    const int next = nodes_[node].child[dec.decode(contexts_[node])];
    if (next < 0) return -next - 1;
    node = next;
  }
}

}  // namespace facet
