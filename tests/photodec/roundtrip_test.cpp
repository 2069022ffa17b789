// Round trips through the test encoder and the decoder: image quality, the
// exact mask, the background, and graceful loss as the stream gets shorter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "facet.h"
#include "photo_decoder.h"
#include "photo_encoder.h"

namespace {

using facet_test::EncoderOptions;
using facet_test::kH;
using facet_test::kW;

struct Result {
  int rc;
  std::vector<uint8_t> out;
  facet::PhotoDecoder dec;
};

Result Decode(const std::vector<uint8_t>& stream) {
  Result r;
  r.out.assign(FACET_OUT_SIZE, 0);
  r.rc = r.dec.decode(stream.data(), stream.size(), r.out.data());
  return r;
}

// Decoding a record goes through the same working buffer as unpack.
Result DecodeRecord(const std::vector<uint8_t>& record) {
  std::vector<uint8_t> work(facet::kWorkingSize);
  uint8_t mask = 0;
  EXPECT_TRUE(facet::RecoverMask(record.data(), &mask));
  EXPECT_EQ(mask, facet_test::kRecordMask);
  facet::BuildWorkingBuffer(record.data(), mask, work.data());
  return Decode(work);
}

const uint8_t* Px(const std::vector<uint8_t>& out, int x, int y) { return &out[(size_t(kH - 1 - y) * kW + x) * 3]; }

constexpr size_t kLarge = 1 << 16;

TEST(RoundTrip, LongStreamsReconstructNearlyLosslessly) {
  struct Case {
    const char* name;
    int levels, maskMode, bgMode;
    double minPsnr;
  };
  // With a mask only the transform's scaling rounding and the colour
  // conversion remain. Without one, dark low-band coefficients (hair, eyes)
  // are tree roots at the top bit planes and hide larger detail
  // coefficients below them, which are coded later and capped: the format
  // itself stops near 37 dB there.
  for (const Case& c : {Case{"mask, one colour", 4, 1, 0, 40}, Case{"mask, polygon", 5, 2, 1, 40},
                        Case{"no mask", 3, 0, 0, 35}}) {
    const facet_test::Portrait p = facet_test::MakePortrait(1);
    EncoderOptions opt;
    opt.levels = c.levels;
    opt.maskMode = c.maskMode;
    opt.backgroundMode = c.bgMode;
    opt.capacity = kLarge;
    const Result r = Decode(facet_test::EncodeStream(p, opt).stream);
    ASSERT_EQ(r.rc, FACET_OK) << c.name;
    const double psnr = facet_test::PsnrInMask(p, r.out.data());
    std::printf("[ psnr ] %s, 64 KiB stream: %.2f dB\n", c.name, psnr);
    EXPECT_GE(psnr, c.minPsnr) << c.name;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(r.dec.planesDecoded(k), facet_test::EncodeStream(p, opt).startPlane[k] + 1);
  }
}

TEST(RoundTrip, EveryLevelCountRoundTrips) {
  const facet_test::Portrait p = facet_test::MakePortrait(2);
  for (int levels = 0; levels <= facet::kMaxLevels; ++levels) {
    EncoderOptions opt;
    opt.levels = levels;
    opt.capacity = kLarge;
    const Result r = Decode(facet_test::EncodeStream(p, opt).stream);
    ASSERT_EQ(r.rc, FACET_OK) << levels;
    EXPECT_GE(facet_test::PsnrInMask(p, r.out.data()), 40) << levels;
    EXPECT_EQ(r.dec.mask(), p.mask) << levels;
  }
}

TEST(RoundTrip, RecordOfOneKilobyteKeepsTheFace) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  EncoderOptions opt;
  const facet_test::Encoded e = facet_test::EncodeStream(p, opt);
  const Result r = DecodeRecord(facet_test::MakeRecord(e.stream));
  ASSERT_EQ(r.rc, FACET_OK);
  const double psnr = facet_test::PsnrInMask(p, r.out.data());
  std::printf("[ psnr ] colour record (1024 bytes, %lld plane bytes): %.2f dB\n", e.planeTotal, psnr);
  EXPECT_GE(psnr, 30.0);
  EXPECT_EQ(r.dec.mask(), p.mask);
}

TEST(RoundTrip, GreyRecordGivesThreeEqualBytes) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  EncoderOptions opt;
  opt.grey = true;
  opt.maskMode = 0;
  const Result r = DecodeRecord(facet_test::MakeRecord(facet_test::EncodeStream(p, opt).stream));
  ASSERT_EQ(r.rc, FACET_OK);
  EXPECT_EQ(r.dec.header().planes, 1);
  double se = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint8_t* o = Px(r.out, x, y);
      ASSERT_EQ(o[0], o[1]);
      ASSERT_EQ(o[1], o[2]);
      const uint8_t* s = &p.rgb[(size_t(y) * kW + x) * 3];
      const double luma = 0.299 * s[0] + 0.587 * s[1] + 0.114 * s[2];
      se += (luma - o[0]) * (luma - o[0]);
    }
  const double psnr = 10 * std::log10(255.0 * 255.0 * kW * kH / se);
  std::printf("[ psnr ] grey record, whole image: %.2f dB\n", psnr);
  EXPECT_GE(psnr, 30.0);
}

TEST(RoundTrip, GreyRecordWithMaskLeavesTheOutsideBlack) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  EncoderOptions opt;
  opt.grey = true;
  const Result r = DecodeRecord(facet_test::MakeRecord(facet_test::EncodeStream(p, opt).stream));
  ASSERT_EQ(r.rc, FACET_OK);
  EXPECT_EQ(Px(r.out, 0, 0)[0], 0);
  EXPECT_GT(Px(r.out, 51, 55)[0], 100);  // face
}

TEST(RoundTrip, SingleColourBackgroundOutsideAndSmoothedAtTheEdge) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  EncoderOptions opt;
  opt.colour[0] = 10, opt.colour[1] = 200, opt.colour[2] = 30;
  const Result r = DecodeRecord(facet_test::MakeRecord(facet_test::EncodeStream(p, opt).stream));
  ASSERT_EQ(r.rc, FACET_OK);
  int outside = 0, plain = 0, touched = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (p.mask[size_t(y) * kW + x]) continue;
      ++outside;
      const uint8_t* o = Px(r.out, x, y);
      const bool isBg = o[0] == 10 && o[1] == 200 && o[2] == 30;
      bool nearMask = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx >= 0 && yy >= 0 && xx < kW && yy < kH && p.mask[size_t(yy) * kW + xx]) nearMask = true;
        }
      const bool border = x == 0 || y == 0 || x == kW - 1 || y == kH - 1;
      if (!nearMask || border) {
        ASSERT_TRUE(isBg) << x << "," << y;
        ++plain;
      } else if (!isBg) {
        ++touched;
      }
    }
  EXPECT_GT(plain, 1000);
  EXPECT_GT(touched, 100);  // the edge ring blends face and background
  EXPECT_LT(plain + touched, outside + 1);
}

TEST(RoundTrip, PolygonBackgroundMatchesItsCorners) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  EncoderOptions opt;
  opt.backgroundMode = 1;
  const Result r = DecodeRecord(facet_test::MakeRecord(facet_test::EncodeStream(p, opt).stream));
  ASSERT_EQ(r.rc, FACET_OK);
  ASSERT_TRUE(r.dec.hasBackground());
  EXPECT_EQ(std::vector<uint8_t>(Px(r.out, 0, 0), Px(r.out, 0, 0) + 3), (std::vector<uint8_t>{255, 255, 255}));
  EXPECT_EQ(std::vector<uint8_t>(Px(r.out, 101, 0), Px(r.out, 101, 0) + 3), (std::vector<uint8_t>{255, 0, 0}));
}

TEST(RoundTrip, MaskModeZeroHasNoBackgroundAndCodesThePaddedRectangle) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  facet_test::Portrait whole = p;
  std::fill(whole.mask.begin(), whole.mask.end(), 1);
  EncoderOptions opt;
  opt.maskMode = 0;
  opt.levels = 3;  // pads 102 x 126 to 104 x 128
  opt.capacity = kLarge;
  const Result r = Decode(facet_test::EncodeStream(p, opt).stream);
  ASSERT_EQ(r.rc, FACET_OK);
  EXPECT_FALSE(r.dec.hasBackground());
  EXPECT_EQ(r.dec.header().paddedWidth, 104);
  EXPECT_EQ(r.dec.header().paddedHeight, 128);
  EXPECT_GE(facet_test::PsnrInMask(whole, r.out.data()), 35);  // see LongStreams... above
}

TEST(RoundTrip, MaskSegmentWithoutContoursMeansNoMask) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  facet_test::Portrait whole = p;
  std::fill(whole.mask.begin(), whole.mask.end(), 1);
  EncoderOptions opt;
  opt.noContours = true;
  opt.capacity = kLarge;
  const Result r = Decode(facet_test::EncodeStream(p, opt).stream);
  ASSERT_EQ(r.rc, FACET_OK);
  EXPECT_FALSE(r.dec.hasBackground());
  EXPECT_EQ(r.dec.mask(), whole.mask);
  EXPECT_GE(facet_test::PsnrInMask(whole, r.out.data()), 35);
}

TEST(RoundTrip, ShorterStreamsDegradeSmoothlyAndNeverBreak) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  double previous = 1e9;
  std::printf("[ psnr ] plane bytes -> dB:");
  for (long long total : {4000LL, 2000LL, 900LL, 600LL, 400LL, 250LL, 150LL, 80LL, 40LL, 0LL}) {
    EncoderOptions opt;
    opt.capacity = kLarge;
    opt.planeTotal = total;
    const facet_test::Encoded e = facet_test::EncodeStream(p, opt);
    const Result r = Decode(e.stream);
    ASSERT_EQ(r.rc, FACET_OK) << total;
    EXPECT_EQ(r.dec.mask(), p.mask) << total;
    // The stream-end watch stops every plane before its last bit plane.
    for (int k = 0; k < 3 && total <= 900; ++k) EXPECT_LE(r.dec.planesDecoded(k), e.startPlane[k]) << total;
    const double psnr = facet_test::PsnrInMask(p, r.out.data());
    std::printf(" %lld:%.1f", total, psnr);
    EXPECT_LE(psnr, previous + 0.5) << total;
    EXPECT_GE(psnr, total >= 400 ? 25.0 : 8.0) << total;
    previous = psnr;
  }
  std::printf("\n");
}

}  // namespace
