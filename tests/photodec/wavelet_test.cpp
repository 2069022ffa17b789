// The shape-adaptive transform: mask splitting, run synthesis and the 2-D
// inverse against the test encoder's forward transform.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "photo_encoder.h"
#include "sa_wavelet.h"

namespace {

std::vector<int64_t> Synth(const std::vector<int64_t>& line, const std::vector<uint8_t>& mask) {
  std::vector<int64_t> out(line.size(), 0x5555);
  facet::SynthesiseLine(line.data(), mask.data(), int(line.size()), out.data());
  return out;
}

TEST(SaWavelet, MaskRunsSplitByPositionAndLoneSamplesGoLow) {
  const std::vector<uint8_t> m{0, 1, 1, 1, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0};
  std::vector<uint8_t> low(7), high(7);
  facet::SplitMaskLine(m.data(), 14, low.data(), high.data());
  // Run 1..3: odd 1, 3 high at 0, 1; even 2 low at 1. Lone 5 -> low 2; lone
  // 8 -> low 4; run 11..12: odd 11 high 5, even 12 low 6.
  EXPECT_EQ(low, (std::vector<uint8_t>{0, 1, 1, 0, 1, 0, 1}));
  EXPECT_EQ(high, (std::vector<uint8_t>{1, 1, 0, 0, 0, 1, 0}));
}

TEST(SaWavelet, LoneSampleIsTheScaledLowValueRoundedHalfAwayFromZero) {
  // 5000 x 0.7071 = 3535.5 exactly: away from zero.
  EXPECT_EQ(Synth({5000, 0, 0, 0}, {1, 0, 0, 0})[0], 3536);
  EXPECT_EQ(Synth({-5000, 0, 0, 0}, {1, 0, 0, 0})[0], -3536);
  // A lone sample at an odd position still comes from the low band.
  const std::vector<int64_t> y = Synth({0, 100, 7, 7}, {0, 0, 0, 1});
  EXPECT_EQ(y, (std::vector<int64_t>{0, 0, 0, 71}));
}

TEST(SaWavelet, TwoSampleRunUndoesBothLiftingSteps) {
  // Run at 0..1: s = 10 (x0.7071 -> 7), d = 3 (x1.4142 -> 4).
  // x0 = 7 - floor((4 + 4 + 2) / 4) = 5; x1 = 4 + floor((5 + 5) / 2) = 9.
  EXPECT_EQ(Synth({10, 3}, {1, 1}), (std::vector<int64_t>{5, 9}));
  // Phase-shifted run at 1..2: 1 is high (index 0), 2 is low (index 1).
  // x2 = round(20 x 0.7071) - floor((d1 + d1 + 2) / 4) with d1 = round(-6 x 1.4142) = -8:
  // 14 - floor(-14 / 4) = 14 + 4 = 18; x1 = -8 + floor((18 + 18) / 2) = 10.
  EXPECT_EQ(Synth({0, 20, -6, 0}, {0, 1, 1, 0}), (std::vector<int64_t>{0, 10, 18, 0}));
}

TEST(SaWavelet, SamplesOutsideTheObjectAreZero) {
  const std::vector<int64_t> y = Synth({50, 60, 70, 80, 90, 100}, {1, 1, 0, 0, 1, 0});
  EXPECT_EQ(y[2], 0);
  EXPECT_EQ(y[3], 0);
  EXPECT_EQ(y[5], 0);
}

TEST(SaWavelet, InverseUndoesTheEncoderForwardTransformOverRandomShapes) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 30; ++trial) {
    const int levels = trial % 6;
    const int step = 1 << levels;
    const int pw = (facet_test::kW + step - 1) / step * step;
    const int ph = (facet_test::kH + step - 1) / step * step;
    std::vector<uint8_t> mask(size_t(pw) * ph);
    std::vector<int32_t> plane(mask.size(), 0), original;
    // Blobs of random rectangles, some one sample wide, over smooth data.
    for (int b = 0; b < 6; ++b) {
      const int x0 = int(rng() % pw), y0 = int(rng() % ph);
      const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 40);
      for (int y = y0; y < std::min(ph, y0 + h); ++y)
        for (int x = x0; x < std::min(pw, x0 + w); ++x) mask[size_t(y) * pw + x] = 1;
    }
    for (int y = 0; y < ph; ++y)
      for (int x = 0; x < pw; ++x)
        if (mask[size_t(y) * pw + x]) plane[size_t(y) * pw + x] = (x * 3 + y * 2 + int(rng() % 9)) % 256;
    original = plane;
    const std::vector<uint8_t> spatial = mask;
    facet::ShapeMask shape;
    shape.do_IDWT_Mask(spatial.data(), pw, ph, levels);
    facet_test::ForwardTransform(plane, mask, pw, ph, levels);
    ASSERT_EQ(std::vector<uint8_t>(shape.coefficients(), shape.coefficients() + mask.size()), mask) << trial;
    facet::SA_IDWT(plane.data(), shape);
    int worst = 0;
    for (size_t i = 0; i < plane.size(); ++i) {
      if (!spatial[i]) {
        ASSERT_EQ(plane[i], 0) << trial << " at " << i;
        continue;
      }
      worst = std::max(worst, std::abs(plane[i] - original[i]));
    }
    // Only the scaling's rounding is lost: at most a few levels apart.
    EXPECT_LE(worst, 2 + levels) << "trial " << trial << " levels " << levels;
  }
}

TEST(SaWavelet, SavedMasksAreThoseBeforeEachForwardStep) {
  const int pw = 8, ph = 4;
  std::vector<uint8_t> m(size_t(pw) * ph, 0);
  for (int x = 1; x < 6; ++x) m[size_t(1) * pw + x] = m[size_t(2) * pw + x] = 1;
  facet::ShapeMask shape;
  shape.do_IDWT_Mask(m.data(), pw, ph, 2);
  EXPECT_EQ(std::vector<uint8_t>(shape.beforeRows(1), shape.beforeRows(1) + 32), m);
  // After the row step: run 1..5 -> low {1,2} (2, 4), high {0,1,2} (1, 3, 5).
  const std::vector<uint8_t> row{0, 1, 1, 0, 1, 1, 1, 0};
  for (int c = 0; c < 8; ++c)  // kept column by column
    EXPECT_EQ(std::vector<uint8_t>(shape.beforeColumns(1) + c * 4, shape.beforeColumns(1) + c * 4 + 4),
              (std::vector<uint8_t>{0, row[c], row[c], 0}))
        << c;
  // Level 2 works on the 4 x 2 low band: of rows 1..2 only the even row 2
  // lands there, as its row 1.
  EXPECT_EQ(std::vector<uint8_t>(shape.beforeRows(2), shape.beforeRows(2) + 8),
            (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 1, 0}));
}

TEST(SaWavelet, HugeCoefficientsSaturateInsteadOfOverflowing) {
  const int pw = 8, ph = 8;
  std::vector<uint8_t> m(size_t(pw) * ph, 1);
  facet::ShapeMask shape;
  shape.do_IDWT_Mask(m.data(), pw, ph, 3);
  std::vector<int32_t> plane(m.size(), 0);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = i % 2 ? INT32_MAX : INT32_MIN;
  facet::SA_IDWT(plane.data(), shape);
  EXPECT_TRUE(std::any_of(plane.begin(), plane.end(), [](int32_t v) { return v == INT32_MAX || v == INT32_MIN; }));
}

}  // namespace
