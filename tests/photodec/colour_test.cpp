// Colour conversion, clamping and the softened mask edge.
#include <gtest/gtest.h>

#include "colour.h"

namespace {

std::vector<int> Rgb(int y, int cb, int cr) {
  uint8_t p[3];
  facet::yuv2rgb(y, cb, cr, p);
  return {p[0], p[1], p[2]};
}

TEST(Colour, MidGreyStaysGrey) { EXPECT_EQ(Rgb(128, 128, 128), (std::vector<int>{128, 128, 128})); }

TEST(Colour, ChannelsClampAtBothEnds) {
  EXPECT_EQ(Rgb(255, 128, 255)[0], 255);  // 255 + 1.402 x 127
  EXPECT_EQ(Rgb(0, 0, 128)[2], 0);        // 0 - 1.772 x 128
  EXPECT_EQ(Rgb(255, 255, 128)[2], 255);
  EXPECT_EQ(Rgb(0, 255, 255)[1], 0);
}

TEST(Colour, ResultsTruncateTowardZero) {
  EXPECT_EQ(Rgb(10, 128, 127)[0], 8);    // 10 - 1.402 = 8.598
  EXPECT_EQ(Rgb(100, 129, 128)[2], 101); // 101.772
  EXPECT_EQ(Rgb(100, 130, 131)[1], 97);  // 100 - 0.68828 - 2.14242 = 97.1693
  EXPECT_EQ(Rgb(1, 128, 127)[0], 0);     // -0.402 truncates to 0
  // Exactly representable in decimal: 50 + 1.402 x 5 = 57.01 and
  // 200 - 1.772 x 100 = 22.8.
  EXPECT_EQ(Rgb(50, 128, 133)[0], 57);
  EXPECT_EQ(Rgb(200, 28, 128)[2], 22);
}

TEST(Colour, EdgePixelsOutsideTheMaskAverageTheirNeighbourhoodInRowOrder) {
  const int w = 4, h = 4;
  // Mask: only (2, 2). Image: red channel = 9 x (index), others 0.
  std::vector<uint8_t> mask(w * h, 0);
  mask[2 * w + 2] = 1;
  std::vector<uint8_t> rgb(w * h * 3, 0);
  for (int i = 0; i < w * h; ++i) rgb[i * 3] = uint8_t(9 * i);
  std::vector<uint8_t> before = rgb;
  facet::SmoothEdges(rgb.data(), mask.data(), w, h);
  // Interior non-border pixels touching (2,2): (1,1) (2,1) (1,2), in row order.
  auto at = [&](const std::vector<uint8_t>& v, int x, int y) { return int(v[(y * w + x) * 3]); };
  // (1,1): mean of indexes 0,1,2,4,5,6,8,9,10 = 5 -> 45.
  EXPECT_EQ(at(rgb, 1, 1), 45);
  // (2,1): 1,2,3,5,6,7,9,10,11 with (1,1) already 45: (9*(1+2+3+6+7+9+10+11) + 45) / 9 = 54.
  EXPECT_EQ(at(rgb, 2, 1), (9 * (1 + 2 + 3 + 6 + 7 + 9 + 10 + 11) + 45) / 9);
  // (1,2): 4,5,6,8,9,10,12,13,14 with (1,1) and (2,1) replaced.
  EXPECT_EQ(at(rgb, 1, 2), (9 * (4 + 8 + 9 + 10 + 12 + 13 + 14) + 45 + at(rgb, 2, 1)) / 9);
  // The masked pixel and the border are untouched.
  EXPECT_EQ(at(rgb, 2, 2), at(before, 2, 2));
  for (int x = 0; x < w; ++x) EXPECT_EQ(at(rgb, x, 0), at(before, x, 0));
  EXPECT_EQ(at(rgb, 3, 3), at(before, 3, 3));
}

}  // namespace
