// Any 1024 bytes decode without a crash, an out-of-bounds access or a hang:
// random records, mutated and cut encoder records, absurd lengths, and the
// fuzz corpus (every input the fuzzer ever kept).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "facet.h"
#include "photo_encoder.h"
#include "stream.h"

namespace {

using Clock = std::chrono::steady_clock;

// Decodes into a buffer with guard bytes on both sides; checks the result
// is one the library documents and the guards are intact.
int Check(const std::vector<uint8_t>& rec) {
  std::vector<uint8_t> buf(FACET_OUT_SIZE + 64, 0xC3);
  const int rc = unpack(reinterpret_cast<const char*>(rec.data()), reinterpret_cast<unsigned long>(buf.data() + 32),
                        FACET_MODE_DECODE);
  EXPECT_TRUE(rc == FACET_OK || rc == FACET_E_FORMAT || rc == FACET_E_SEGMENT) << rc;
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(buf[i], 0xC3);
    EXPECT_EQ(buf[buf.size() - 1 - i], 0xC3);
  }
  return rc;
}

// Records that pass the marker checks reach deep into the decoder.
std::vector<uint8_t> WithMarkers(std::vector<uint8_t> stream, const facet_test::Encoded& e) {
  if (e.maskOffset) stream[e.maskOffset + 4] = 0x6F;
  for (size_t p : e.planeOffset)
    if (p && p + 1 < stream.size()) stream[p + 1] = 0x6F;
  return stream;
}

void SetLe32(std::vector<uint8_t>& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = uint8_t(v >> (8 * i));
}

TEST(Robustness, RandomRecords) {
  std::mt19937 rng(1234);
  int ok = 0;
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> rec(1024);
    for (uint8_t& b : rec) b = uint8_t(rng());
    ok += Check(rec) == FACET_OK;
  }
  std::vector<uint8_t> zeros(1024, 0);
  Check(zeros);
  std::vector<uint8_t> ones(1024, 0xFF);
  Check(ones);
  SUCCEED() << ok << " random records decoded";
}

TEST(Robustness, MutatedEncoderRecords) {
  std::mt19937 rng(99);
  const facet_test::Portrait p = facet_test::MakePortrait(1);
  std::vector<facet_test::Encoded> bases;
  for (int v = 0; v < 4; ++v) {
    facet_test::EncoderOptions opt;
    opt.levels = 2 + v;
    opt.backgroundMode = v & 1;
    opt.grey = v == 3;
    bases.push_back(facet_test::EncodeStream(p, opt));
  }
  int decoded = 0;
  for (int i = 0; i < 800; ++i) {
    const facet_test::Encoded& e = bases[i % bases.size()];
    std::vector<uint8_t> s = e.stream;
    const int flips = 1 + int(rng() % 8);
    for (int f = 0; f < flips; ++f) {
      const size_t at = 6 + rng() % (s.size() - 6);
      if (rng() % 2)
        s[at] ^= uint8_t(1u << (rng() % 8));
      else
        s[at] = uint8_t(rng());
    }
    decoded += Check(facet_test::MakeRecord(WithMarkers(s, e))) == FACET_OK;
  }
  EXPECT_GT(decoded, 400);  // most mutations still reach the output stage
}

TEST(Robustness, CutRecordsAndAbsurdLengths) {
  const facet_test::Portrait p = facet_test::MakePortrait(0);
  const facet_test::Encoded e = facet_test::EncodeStream(p, facet_test::EncoderOptions{});
  for (size_t keep = 7; keep < e.stream.size(); keep += 13) {
    std::vector<uint8_t> s = e.stream;
    std::fill(s.begin() + long(keep), s.end(), 0);
    Check(facet_test::MakeRecord(s));
    Check(facet_test::MakeRecord(WithMarkers(s, e)));
  }
  const auto start = Clock::now();
  for (uint32_t len : {0u, 1u, 2u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    std::vector<uint8_t> s = e.stream;
    SetLe32(s, e.maskOffset, len);
    Check(facet_test::MakeRecord(s));
    s = e.stream;
    SetLe32(s, e.planeOffset[0] - 4, len);  // the stored total
    Check(facet_test::MakeRecord(s));
  }
  // Grey with an enormous total: its only plane reads zeros far past the
  // record, the stream-end watch never fires, the bit planes still end.
  facet_test::EncoderOptions grey;
  grey.grey = true;
  const facet_test::Encoded g = facet_test::EncodeStream(p, grey);
  std::vector<uint8_t> s = g.stream;
  SetLe32(s, g.planeOffset[0] - 4, 0xFFFFFFFFu);
  s[g.planeOffset[0]] = 30;
  EXPECT_EQ(Check(facet_test::MakeRecord(s)), FACET_OK);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 20.0);
}

TEST(Robustness, FuzzCorpusDecodes) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(FACET_CORPUS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> rec{std::istreambuf_iterator<char>(in), {}};
    rec.resize(1024, 0);
    SCOPED_TRACE(entry.path().string());
    Check(rec);
    ++files;
  }
  EXPECT_GE(files, 8u);
}

}  // namespace
