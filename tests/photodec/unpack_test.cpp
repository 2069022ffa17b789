// The exported entry point: modes, results, the output layout, the bitmap
// file and every failure path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "facet.h"
#include "photo_encoder.h"
#include "stream.h"
#include "test_dir.h"

namespace {

using facet_test::EncoderOptions;

std::vector<uint8_t> Record(const EncoderOptions& opt = {}) {
  static const facet_test::Portrait portrait = facet_test::MakePortrait(0);
  return facet_test::MakeRecord(facet_test::EncodeStream(portrait, opt).stream);
}

int Decode(const std::vector<uint8_t>& rec, std::vector<uint8_t>& out, unsigned mode) {
  return unpack(reinterpret_cast<const char*>(rec.data()), reinterpret_cast<unsigned long>(out.data()), mode);
}

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Sets working-stream byte `at` of a record to `value` (before scrambling).
void SetStreamByte(std::vector<uint8_t>& rec, size_t at, uint8_t value) {
  rec[at + 4] = value ^ facet_test::kRecordMask;
}

class Unpack : public ::testing::Test {
 protected:
  void SetUp() override { std::remove("zp.bmp"); }
  void TearDown() override { std::remove("zp.bmp"); }
};

TEST_F(Unpack, OtherModesReturnZeroAndTouchNothing) {
  const std::vector<uint8_t> rec = Record();
  for (unsigned mode : {0u, 497u, 500u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> out(FACET_OUT_SIZE, 0x5C);
    EXPECT_EQ(Decode(rec, out, mode), 0) << mode;
    EXPECT_EQ(out, std::vector<uint8_t>(FACET_OUT_SIZE, 0x5C)) << mode;
  }
  EXPECT_EQ(unpack(nullptr, 0, 500), 0);
  EXPECT_NE(access("zp.bmp", F_OK), 0);
}

TEST_F(Unpack, NullArgumentsAreRefused) {
  std::vector<uint8_t> out(FACET_OUT_SIZE);
  EXPECT_EQ(unpack(nullptr, reinterpret_cast<unsigned long>(out.data()), 498), FACET_E_ARGUMENT);
  const std::vector<uint8_t> rec = Record();
  EXPECT_EQ(unpack(reinterpret_cast<const char*>(rec.data()), 0, 499), FACET_E_ARGUMENT);
  EXPECT_NE(access("zp.bmp", F_OK), 0);
}

TEST_F(Unpack, DecodeModeFillsExactlyTheImageAndWritesNoFile) {
  const std::vector<uint8_t> rec = Record();
  std::vector<uint8_t> out(FACET_OUT_SIZE + 16, 0xA7);
  EXPECT_EQ(Decode(rec, out, 498), FACET_OK);
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 16, out.end()), std::vector<uint8_t>(16, 0xA7));
  // Bottom row first: the bottom row is clothing (blue), the top background.
  const uint8_t* bottom = &out[51 * 3];
  const uint8_t* top = &out[(125 * 102 + 2) * 3];
  EXPECT_GT(bottom[2], bottom[0]);
  EXPECT_EQ(top[0], 200);
  EXPECT_EQ(top[1], 220);
  EXPECT_EQ(top[2], 240);
  EXPECT_NE(access("zp.bmp", F_OK), 0);
}

TEST_F(Unpack, FileModeWritesTheBitmap) {
  const std::vector<uint8_t> rec = Record();
  std::vector<uint8_t> out(FACET_OUT_SIZE);
  ASSERT_EQ(Decode(rec, out, 499), FACET_OK);
  const std::vector<uint8_t> bmp = ReadFile("zp.bmp");
  ASSERT_EQ(bmp.size(), 54u + 308u * 126u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(Le32(bmp, 2), 38862u);
  EXPECT_EQ(Le32(bmp, 6), 0u);
  EXPECT_EQ(Le32(bmp, 10), 54u);
  EXPECT_EQ(Le32(bmp, 14), 40u);
  EXPECT_EQ(Le32(bmp, 18), 102u);
  EXPECT_EQ(Le32(bmp, 22), 126u);
  EXPECT_EQ(bmp[26] | bmp[27] << 8, 1);
  EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
  for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(Le32(bmp, at), 0u) << at;
  // Rows bottom-up like out, pixels B G R, two zero bytes of padding.
  for (int row = 0; row < 126; ++row) {
    const uint8_t* line = &bmp[54 + size_t(row) * 308];
    for (int x = 0; x < 102; ++x) {
      const uint8_t* px = &out[(size_t(row) * 102 + x) * 3];
      ASSERT_EQ(line[3 * x], px[2]);
      ASSERT_EQ(line[3 * x + 1], px[1]);
      ASSERT_EQ(line[3 * x + 2], px[0]);
    }
    ASSERT_EQ(line[306], 0);
    ASSERT_EQ(line[307], 0);
  }
}

TEST_F(Unpack, UnwritableBitmapIsReportedWithTheImageStillDecoded) {
  const std::vector<uint8_t> rec = Record();
  std::vector<uint8_t> expected(FACET_OUT_SIZE), out(FACET_OUT_SIZE);
  ASSERT_EQ(Decode(rec, expected, 498), FACET_OK);
  ASSERT_EQ(mkdir("zp.bmp", 0755), 0);  // cannot be opened as a file
  EXPECT_EQ(Decode(rec, out, 499), FACET_E_FILE);
  EXPECT_EQ(out, expected);
  ASSERT_EQ(rmdir("zp.bmp"), 0);
  ASSERT_EQ(symlink("/dev/full", "zp.bmp"), 0);  // opens, but the data never fits
  EXPECT_EQ(Decode(rec, out, 499), FACET_E_FILE);
  ASSERT_EQ(unlink("zp.bmp"), 0);
}

TEST_F(Unpack, SegmentsWithoutTheMarkerFailUnderEveryMaskAndLeaveOutUntouched) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  const facet_test::Encoded e = facet_test::EncodeStream(p, EncoderOptions{});
  const std::vector<size_t> markers = {e.maskOffset + 4, e.planeOffset[0] + 1, e.planeOffset[1] + 1,
                                       e.planeOffset[2] + 1};
  for (size_t at : markers) {
    std::vector<uint8_t> damaged = e.stream;
    damaged[at] = 0x6E;
    for (int mask = 0; mask < 256; ++mask) {
      const std::vector<uint8_t> rec = facet_test::MakeRecord(damaged, uint8_t(mask));
      std::vector<uint8_t> out(FACET_OUT_SIZE, 0x33);
      ASSERT_EQ(Decode(rec, out, 499), FACET_E_SEGMENT) << at << " mask " << mask;
      ASSERT_EQ(out, std::vector<uint8_t>(FACET_OUT_SIZE, 0x33)) << at << " mask " << mask;
      ASSERT_NE(access("zp.bmp", F_OK), 0);
    }
  }
}

TEST_F(Unpack, EveryScramblingMaskDecodesToTheSameImage) {
  struct Kind {
    const char* name;
    int maskMode;
    bool grey;
  };
  const Kind kinds[] = {{"colour, mask", 1, false}, {"grey, no mask", 0, true}};
  const facet_test::Portrait p = facet_test::MakePortrait(1);
  for (const Kind& k : kinds) {
    EncoderOptions opt;
    opt.maskMode = k.maskMode;
    opt.grey = k.grey;
    const std::vector<uint8_t> stream = facet_test::EncodeStream(p, opt).stream;
    std::vector<uint8_t> first(FACET_OUT_SIZE);
    ASSERT_EQ(Decode(facet_test::MakeRecord(stream, 0), first, 498), FACET_OK) << k.name;
    for (int mask = 1; mask < 256; ++mask) {
      std::vector<uint8_t> out(FACET_OUT_SIZE);
      ASSERT_EQ(Decode(facet_test::MakeRecord(stream, uint8_t(mask)), out, 498), FACET_OK) << k.name << " " << mask;
      ASSERT_EQ(out, first) << k.name << " mask " << mask;
    }
  }
}

TEST_F(Unpack, FlagsTheDecoderCannotHoldAreRefused) {
  for (uint8_t flags : {0x14, 0x94, 0xD8, 0xDF}) {  // 0 planes, 2 planes, 8 levels, 15 levels
    std::vector<uint8_t> rec = Record();
    SetStreamByte(rec, 6, flags);
    std::vector<uint8_t> out(FACET_OUT_SIZE, 0x44);
    EXPECT_EQ(Decode(rec, out, 498), FACET_E_FORMAT) << int(flags);
    EXPECT_EQ(out, std::vector<uint8_t>(FACET_OUT_SIZE, 0x44));
  }
}

TEST_F(Unpack, StartBitPlaneAbove30IsRefused) {
  const facet_test::Encoded e = facet_test::EncodeStream(facet_test::MakePortrait(0), EncoderOptions{});
  std::vector<uint8_t> out(FACET_OUT_SIZE);
  std::vector<uint8_t> rec = facet_test::MakeRecord(e.stream);
  SetStreamByte(rec, e.planeOffset[1], 31);
  EXPECT_EQ(Decode(rec, out, 498), FACET_E_FORMAT);
  SetStreamByte(rec, e.planeOffset[1], 30);
  EXPECT_EQ(Decode(rec, out, 498), FACET_OK);
}

TEST_F(Unpack, LeadingTenRecordBytesAreIgnored) {
  std::vector<uint8_t> rec = Record();
  std::vector<uint8_t> a(FACET_OUT_SIZE), b(FACET_OUT_SIZE);
  ASSERT_EQ(Decode(rec, a, 498), FACET_OK);
  for (int i = 0; i < 10; ++i) rec[i] = uint8_t(~rec[i]);
  ASSERT_EQ(Decode(rec, b, 498), FACET_OK);
  EXPECT_EQ(a, b);
}

}  // namespace
