// The face mask: fields of the mask segment, chain codes, the fill, and the
// background outside the mask.
#include <gtest/gtest.h>

#include <string>

#include "background.h"
#include "face_mask.h"
#include "photo_encoder.h"

namespace {

using facet_test::Chain;
using facet_test::EncoderOptions;
using facet_test::kH;
using facet_test::kW;

struct Decoded {
  int contours;
  std::vector<uint8_t> mask;
  facet::Background bg;
};

Decoded DecodeMask(const std::vector<Chain>& chains, const EncoderOptions& opt = {}) {
  std::vector<uint8_t> seg{0x6F};
  const std::vector<uint8_t> body = facet_test::EncodeMaskSegment(chains, opt);
  seg.insert(seg.end(), body.begin(), body.end());
  seg.push_back(0);
  facet::AritDecoder dec(facet::Segment(seg.data(), seg.size(), 0, seg.size()));
  facet::CWorkField field(kW, kH);
  Decoded d;
  d.contours = field.Decoder(dec);
  d.mask.resize(size_t(kW) * kH);
  field.Output(d.mask.data());
  d.bg = field.background();
  return d;
}

std::vector<uint8_t> Shape(const std::vector<std::string>& rows, int x0, int y0) {
  std::vector<uint8_t> m(size_t(kW) * kH, 0);
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c)
      if (rows[r][c] == '#') m[(y0 + r) * kW + x0 + c] = 1;
  return m;
}

int Count(const std::vector<uint8_t>& m) {
  int n = 0;
  for (uint8_t v : m) n += v;
  return n;
}

TEST(FaceMask, SquareFromEveryStartAndBothWaysIsFilledCompletely) {
  // 3 x 3 square at (10, 20): chains starting at a corner or mid-side.
  const std::vector<uint8_t> want = Shape({"###", "###", "###"}, 10, 20);
  const std::vector<Chain> chains = {
      {10, 20, {0, 0, 2, 2, 4, 4, 6, 6}},  // clockwise from the top-left
      {10, 20, {2, 2, 0, 0, 6, 6, 4, 4}},  // counter-clockwise
      {10, 21, {6, 0, 0, 2, 2, 4, 4, 6}},  // from the left side, going up first
  };
  for (const Chain& c : chains) {
    const Decoded d = DecodeMask({c});
    EXPECT_EQ(d.contours, 1);
    EXPECT_EQ(d.mask, want) << "start " << c.x << "," << c.y << " first " << c.dirs[0];
  }
}

TEST(FaceMask, TracedShapesComeBackExactly) {
  const std::vector<std::vector<uint8_t>> shapes = {
      Shape({"..#..", ".###.", "#####", ".###.", "..#.."}, 40, 40),    // diamond, diagonal steps
      Shape({"#######", "#######", "##...##", "##...##"}, 5, 5),        // arch (two feet)
      Shape({"####", "#..#", "#..#", "####"}, 60, 90),                   // ring, hole filled
      facet_test::MakePortrait().mask,                                   // touches three edges
  };
  for (size_t i = 0; i < shapes.size(); ++i) {
    const Decoded d = DecodeMask(facet_test::TraceContours(shapes[i], kW, kH));
    std::vector<uint8_t> want = shapes[i];
    if (i == 2)  // the outer boundary of a ring encloses its hole
      for (int y = 91; y <= 92; ++y)
        for (int x = 61; x <= 62; ++x) want[size_t(y) * kW + x] = 1;
    EXPECT_EQ(d.mask, want) << "shape " << i;
  }
}

TEST(FaceMask, SeveralContoursUnite) {
  std::vector<uint8_t> two = Shape({"####", "####"}, 3, 3);
  const std::vector<uint8_t> other = Shape({".#.", "###", ".#."}, 80, 100);
  for (size_t i = 0; i < two.size(); ++i) two[i] |= other[i];
  const std::vector<Chain> chains = facet_test::TraceContours(two, kW, kH);
  ASSERT_EQ(chains.size(), 2u);
  const Decoded d = DecodeMask(chains);
  EXPECT_EQ(d.contours, 2);
  EXPECT_EQ(d.mask, two);
}

TEST(FaceMask, NoContourMeansAllOnesAndFieldsAreStillRead) {
  EncoderOptions opt;
  opt.colour[0] = 12, opt.colour[1] = 34, opt.colour[2] = 56;
  const Decoded d = DecodeMask({}, opt);
  EXPECT_EQ(d.contours, 0);
  EXPECT_EQ(Count(d.mask), kW * kH);
  EXPECT_EQ(d.bg.mode, 0);
  EXPECT_EQ(d.bg.colour[0], 12);
  EXPECT_EQ(d.bg.colour[1], 34);
  EXPECT_EQ(d.bg.colour[2], 56);
}

TEST(FaceMask, PolygonPointsAreReadWithTheirColours) {
  EncoderOptions opt;
  opt.backgroundMode = 1;
  opt.points[0] = {511, 7, {1, 2, 3}};
  opt.points[1] = {100, 511, {4, 5, 6}};
  opt.points[2] = {0, 0, {7, 8, 9}};
  opt.points[3] = {3, 4, {250, 251, 252}};
  const Decoded d = DecodeMask(facet_test::TraceContours(Shape({"##", "##"}, 9, 9), kW, kH), opt);
  EXPECT_EQ(d.bg.mode, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(d.bg.points[i].x, opt.points[i].x) << i;
    EXPECT_EQ(d.bg.points[i].y, opt.points[i].y) << i;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(d.bg.points[i].rgb[k], opt.points[i].rgb[k]) << i;
  }
  EXPECT_EQ(Count(d.mask), 4);
}

TEST(FaceMask, TrailingBitHasNoEffect) {
  const std::vector<Chain> chains = facet_test::TraceContours(facet_test::MakePortrait(1).mask, kW, kH);
  EncoderOptions a, b;
  b.trailingBit = 1;
  EXPECT_EQ(DecodeMask(chains, a).mask, DecodeMask(chains, b).mask);
}

TEST(FaceMask, ContoursReachingOutsideTheImageAreClipped) {
  // A square far outside, and one across the bottom-right corner: only the
  // part inside the image is set.
  const Decoded d = DecodeMask({{4090, 4090, {0, 2, 4, 6}}, {100, 124, {0, 0, 0, 2, 2, 2, 4, 4, 4, 6, 6, 6}}});
  // Second contour: box 100..103 x 124..127, image keeps columns 100..101,
  // rows 124..125.
  EXPECT_EQ(Count(d.mask), 4);
  EXPECT_EQ(d.mask[124 * kW + 100], 1);
  EXPECT_EQ(d.mask[125 * kW + 101], 1);
}

// Mask segment with N contours whose lengths are all 65535; everything past
// the first length reads from an exhausted segment.
int DecodeLongContours(int n) {
  facet_test::QmEncoder enc;
  facet_test::QmEncoder::Context bit;
  for (int i = 0; i < 25; ++i) enc.encode(bit, 0);  // one-colour mode, colour 0
  for (int b = 7; b >= 0; --b) enc.encode(bit, (n >> b) & 1);
  for (int i = 0; i < 16; ++i) enc.encode(bit, 1);
  std::vector<uint8_t> seg{0x6F};
  const std::vector<uint8_t> body = enc.finish();
  seg.insert(seg.end(), body.begin(), body.end());
  facet::AritDecoder dec(facet::Segment(seg.data(), seg.size(), 0, seg.size() + 1));
  facet::CWorkField field(kW, kH);
  return field.Decoder(dec);
}

TEST(FaceMask, OneFullLengthContourIsWalkedMoreStepsAreRefused) {
  EXPECT_EQ(DecodeLongContours(1), 1);
  // The zeros keep the length model on its last sense: 65535 again.
  EXPECT_EQ(DecodeLongContours(2), -1);
}

// ---- background ----

facet::Background Polygon() {
  facet::Background bg;
  bg.mode = 1;
  bg.points[0] = {101, 0, {200, 0, 0}};
  bg.points[1] = {101, 125, {200, 200, 0}};
  bg.points[2] = {0, 125, {0, 200, 0}};
  bg.points[3] = {0, 0, {0, 0, 0}};
  return bg;
}

const uint8_t* Px(const std::vector<uint8_t>& img, int x, int y) { return &img[(size_t(y) * kW + x) * 3]; }

TEST(Background, SingleColourEverywhere) {
  facet::Background bg;
  bg.colour[0] = 9, bg.colour[1] = 99, bg.colour[2] = 199;
  std::vector<uint8_t> img(size_t(kW) * kH * 3, 1);
  facet::interpolation(bg, kW, kH, img.data());
  for (int y : {0, 60, 125})
    for (int x : {0, 50, 101}) {
      EXPECT_EQ(Px(img, x, y)[0], 9);
      EXPECT_EQ(Px(img, x, y)[1], 99);
      EXPECT_EQ(Px(img, x, y)[2], 199);
    }
}

TEST(Background, PolygonInterpolatesAlongEdgesAndSpans) {
  std::vector<uint8_t> img(size_t(kW) * kH * 3, 1);
  facet::interpolation(Polygon(), kW, kH, img.data());
  // Corners take the points' colours; the last row repeats the row above.
  EXPECT_EQ(Px(img, 0, 0)[0], 0);
  EXPECT_EQ(Px(img, 101, 0)[0], 200);
  EXPECT_EQ(Px(img, 101, 0)[1], 0);
  EXPECT_EQ(std::vector<uint8_t>(Px(img, 0, 125), Px(img, 0, 125) + kW * 3),
            std::vector<uint8_t>(Px(img, 0, 124), Px(img, 0, 124) + kW * 3));
  // Red runs 0 -> 200 across each row, green 0 -> 200 down the rows.
  EXPECT_EQ(Px(img, 50, 0)[0], 99);   // 200 * 50 / 101 = 99.01
  EXPECT_EQ(Px(img, 25, 0)[0], 50);   // 49.50 rounds up
  EXPECT_EQ(Px(img, 0, 62)[1], 99);   // 200 * 62 / 125 = 99.2
  EXPECT_EQ(Px(img, 101, 62)[0], 200);
  EXPECT_EQ(Px(img, 101, 62)[1], 99);
}

TEST(Background, RowsOutsideThePolygonRepeatTheNearestFilledRow) {
  facet::Background bg = Polygon();
  bg.points[0] = {101, 40, {100, 0, 0}};
  bg.points[1] = {101, 80, {100, 0, 0}};
  bg.points[2] = {0, 80, {100, 0, 0}};
  bg.points[3] = {0, 40, {100, 0, 0}};
  bg.points[0].rgb[1] = 10;
  std::vector<uint8_t> img(size_t(kW) * kH * 3, 1);
  facet::interpolation(bg, kW, kH, img.data());
  for (int x : {0, 101}) {
    EXPECT_EQ(Px(img, x, 0)[1], Px(img, x, 40)[1]);
    EXPECT_EQ(Px(img, x, 125)[1], Px(img, x, 79)[1]);
  }
  EXPECT_EQ(Px(img, 101, 40)[1], 10);
}

TEST(Background, PointsAtTheOriginAreSkippedExceptTheFourth) {
  facet::Background bg = Polygon();
  bg.points[3] = {101, 0, {0, 0, 0}};  // duplicates point 0's corner
  bg.points[2] = {0, 0, {255, 255, 255}};  // skipped: at the origin, not fourth
  std::vector<uint8_t> img(size_t(kW) * kH * 3, 1);
  facet::interpolation(bg, kW, kH, img.data());
  // Only the right edge remains (a line): no white anywhere.
  for (size_t i = 0; i < img.size(); i += 3) ASSERT_FALSE(img[i] == 255 && img[i + 1] == 255) << i;
}

TEST(Background, PolygonOutsideTheImageFallsBackToTheFourthPoint) {
  facet::Background bg = Polygon();
  for (auto& p : bg.points) p.x = 300, p.y = 300 + int(&p - bg.points);
  bg.points[3].rgb[0] = 77;
  std::vector<uint8_t> img(size_t(kW) * kH * 3, 1);
  facet::interpolation(bg, kW, kH, img.data());
  EXPECT_EQ(Px(img, 0, 0)[0], 77);
  EXPECT_EQ(Px(img, 101, 125)[0], 77);
}

}  // namespace
