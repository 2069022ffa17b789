#include "arit_decoder.h"

#include "qe_table.h"

namespace facet {

AritDecoder::AritDecoder(const Segment& segment)
    : segment_(segment), valid_(segment.marker() == Segment::kMarker) {
  byteIn();
  c_ <<= 8;
  byteIn();
  c_ <<= 8;
  ct_ = 0;
}

void AritDecoder::byteIn() {
  const uint8_t b = segment_.at(pos_);
  if (b != 0xFF) {
    c_ += uint32_t(b) << 8;
    ++pos_;
    return;
  }
  if (segment_.at(pos_ + 1) == 0) {  // stuffed zero after 0xFF
    c_ += 0xFF00;
    pos_ += 2;
  }
  // Otherwise a marker: it adds nothing and stays unread, so every further
  // byte reads as zero bits.
}

void AritDecoder::renormalise() {
  do {
    if (ct_ == 0) {
      byteIn();
      ct_ = 8;
    }
    a_ <<= 1;
    c_ <<= 1;
    --ct_;
  } while (a_ < 0x8000);
}

int AritDecoder::decode(Context& cx) {
  const QeState& st = kQeTable[cx.index];
  const uint32_t qe = st.qe;
  int d;
  a_ -= qe;
  if ((c_ >> 16) < a_) {
    if (a_ >= 0x8000) return cx.mps;
    // MPS sub-interval, conditionally exchanged with the LPS one.
    if (a_ < qe) {
      d = 1 - cx.mps;
      if (st.swtch) cx.mps = uint8_t(1 - cx.mps);
      cx.index = st.nlps;
    } else {
      d = cx.mps;
      cx.index = st.nmps;
    }
  } else {
    c_ -= a_ << 16;
    if (a_ < qe) {
      d = cx.mps;
      cx.index = st.nmps;
    } else {
      d = 1 - cx.mps;
      if (st.swtch) cx.mps = uint8_t(1 - cx.mps);
      cx.index = st.nlps;
    }
    a_ = qe;
  }
  renormalise();
  return d;
}

int AritDecoder::decode_bits(int k) {
  if (k <= 0) return -1;
  int v = 0;
  for (int i = 0; i < k; ++i) v = (v << 1) | decode_bit();
  return v;
}

}  // namespace facet
