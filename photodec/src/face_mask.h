// The face mask: background fields and chain-coded contours of the mask
// segment, and the fill that turns contours into the object mask.
#pragma once

#include <cstdint>
#include <vector>

#include "arit_decoder.h"

namespace facet {

struct BackgroundPoint {
  int x = 0;
  int y = 0;
  uint8_t rgb[3] = {0, 0, 0};
};

struct Background {
  int mode = 0;  // 0: one colour; 1: polygon through the points
  uint8_t colour[3] = {0, 0, 0};
  BackgroundPoint points[4];
};

class CWorkField {
 public:
  CWorkField(int width, int height);

  // All contours of a mask together: the outlines of a 102 x 126 mask never
  // need more steps than one contour can declare.
  static constexpr int kMaxChainSteps = 65535;

  // Reads the background fields and the contours from the mask segment and
  // fills every contour into the mask. Returns the number of contours, or
  // -1 when the contours declare more than kMaxChainSteps steps in all (a
  // corrupt segment, which would otherwise cost millions of steps).
  int Decoder(AritDecoder& dec);

  // Writes the object mask (1 inside, width x height, top row first): the
  // union of the filled contours, all ones when there was no contour.
  void Output(uint8_t* mask) const;

  const Background& background() const { return background_; }
  int contours() const { return contours_; }

 private:
  void ReadBackground(AritDecoder& dec);
  void ReadContour(AritDecoder& dec);
  void Toggle(int row, int col);
  void SetPixel(int x, int y);

  int width_;
  int height_;
  int contours_ = 0;
  Background background_;
  std::vector<uint8_t> mask_;
  std::vector<uint8_t> toggles_;  // per row: width + 1 change marks
};

}  // namespace facet
