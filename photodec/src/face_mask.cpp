#include "face_mask.h"

#include <algorithm>
#include <cstring>

#include "adaptive_model.h"

namespace facet {

namespace {

// Freeman directions, row index growing downward: (column, row) steps.
constexpr int kStepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kStepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};
// Turn selected by each symbol of the direction model.
constexpr int kTurn[8] = {0, -1, 1, -2, 2, -3, 3, -4};

}  // namespace

CWorkField::CWorkField(int width, int height)
    : width_(width),
      height_(height),
      mask_(size_t(width) * height, 0),
      toggles_(size_t(width + 1) * height, 0) {}

void CWorkField::ReadBackground(AritDecoder& dec) {
  background_.mode = dec.decode_bit();
  if (background_.mode == 1) {
    for (BackgroundPoint& p : background_.points) {
      p.x = dec.decode_bits(9);
      p.y = dec.decode_bits(9);
      for (uint8_t& v : p.rgb) v = uint8_t(dec.decode_bits(8));
    }
  } else {
    for (uint8_t& v : background_.colour) v = uint8_t(dec.decode_bits(8));
  }
}

int CWorkField::Decoder(AritDecoder& dec) {
  ReadBackground(dec);
  contours_ = dec.decode_bits(8);
  Adaptive_Model directions(8);  // shared by all contours
  int totalSteps = 0;
  for (int i = 0; i < contours_; ++i) {
    const int length = dec.decode_bits(16);
    // A zero length still carries its first direction: one step.
    const int steps = std::max(length, 1);
    totalSteps += steps;
    if (totalSteps > kMaxChainSteps) return -1;
    int x = dec.decode_bits(12);
    int y = dec.decode_bits(12);
    int dir = directions.decode(dec);

    std::fill(toggles_.begin(), toggles_.end(), 0);
    int left = x;
    int lastRowStep = -1;
    SetPixel(x, y);
    for (int s = 0; s < steps; ++s) {
      if (s > 0) dir = (dir + kTurn[directions.decode(dec)]) & 7;
      const int nx = x + kStepX[dir];
      const int ny = y + kStepY[dir];
      const int rowStep = kStepY[dir];
      if (rowStep != 0) {
        // A turn in vertical direction closes the span on both rows; a
        // continued run opens or closes it on the next row only.
        if (rowStep == -lastRowStep) Toggle(y, x);
        Toggle(ny, nx);
        lastRowStep = rowStep;
      }
      x = nx;
      y = ny;
      left = std::min(left, x);
      SetPixel(x, y);
    }
    // Toggles ran from the far left; the fill only covers the box from its
    // left edge.
    const int from = std::max(left, 0);
    for (int r = 0; r < height_; ++r) {
      const uint8_t* t = &toggles_[size_t(r) * (width_ + 1)];
      uint8_t* m = &mask_[size_t(r) * width_];
      uint8_t on = 0;
      for (int c = 0; c < width_; ++c) {
        on ^= t[c];
        if (on && c >= from) m[c] = 1;
      }
    }
  }
  if (contours_ >= 1) dec.decode_bit();  // carries nothing
  return contours_;
}

void CWorkField::Toggle(int row, int col) {
  if (row < 0 || row >= height_ || col < 0) return;
  uint8_t* t = &toggles_[size_t(row) * (width_ + 1)];
  t[0] ^= 1;
  t[std::min(col, width_ - 1) + 1] ^= 1;
}

void CWorkField::SetPixel(int x, int y) {
  if (x >= 0 && x < width_ && y >= 0 && y < height_) mask_[size_t(y) * width_ + x] = 1;
}

void CWorkField::Output(uint8_t* mask) const {
  if (contours_ == 0) {
    std::memset(mask, 1, mask_.size());
  } else {
    std::memcpy(mask, mask_.data(), mask_.size());
  }
}

}  // namespace facet
