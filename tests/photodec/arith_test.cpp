// The QM-coder decoder against the reference table and test sequence, the
// test encoder against the same, and the models' trees.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "adaptive_model.h"
#include "arit_decoder.h"
#include "qe_table.h"
#include "qm_encoder.h"

namespace {

using facet::AritDecoder;
using facet::Segment;

std::vector<uint8_t> Hex(const std::string& s) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < s.size(); i += 2) v.push_back(uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
  return v;
}

std::string K4Value(const std::string& key) {
  std::ifstream in(facet_test::TestDataPath("t81_k4_testsequence.txt"));
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) {
      std::string v = line.substr(line.find('=') + 1);
      return v.erase(0, v.find_first_not_of(' '));
    }
  return "";
}

// A segment as the decoder sees it: marker, data, one byte that reads as 0.
std::vector<uint8_t> AsSegment(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> s{0x6F};
  s.insert(s.end(), data.begin(), data.end());
  s.push_back(0xEE);
  return s;
}

std::vector<int> DecodeBits(const std::vector<uint8_t>& seg, int count) {
  AritDecoder dec(Segment(seg.data(), seg.size(), 0, seg.size()));
  facet::Context cx;
  std::vector<int> bits;
  for (int i = 0; i < count; ++i) bits.push_back(dec.decode(cx));
  return bits;
}

std::vector<int> Bits(const std::vector<uint8_t>& bytes) {
  std::vector<int> bits;
  for (uint8_t b : bytes)
    for (int i = 7; i >= 0; --i) bits.push_back((b >> i) & 1);
  return bits;
}

TEST(ProbabilityTable, MatchesReferenceInAllFourColumns) {
  const facet_test::QmTable& ref = facet_test::ReferenceTable();
  for (int i = 0; i < facet::kQeStateCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(facet::kQeTable[i].qe, ref.qe[i]);
    EXPECT_EQ(facet::kQeTable[i].nlps, ref.nlps[i]);
    EXPECT_EQ(facet::kQeTable[i].nmps, ref.nmps[i]);
    EXPECT_EQ(facet::kQeTable[i].swtch, ref.swtch[i]);
  }
}

TEST(QmDecoder, DecodesTheStandardTestSequence) {
  const std::vector<uint8_t> data = Hex(K4Value("test_data_hex"));
  const std::vector<uint8_t> coded = Hex(K4Value("encoded_hex"));
  ASSERT_EQ(data.size(), 32u);
  ASSERT_EQ(coded.size(), 29u);
  // Past the coded bytes the decoder reads zeros.
  EXPECT_EQ(DecodeBits(AsSegment(coded), 256), Bits(data));
  // Followed by a marker, as printed in the standard: the marker adds nothing.
  std::vector<uint8_t> withMarker = coded;
  withMarker.insert(withMarker.end(), {0xFF, 0xD9, 0x00});
  EXPECT_EQ(DecodeBits(AsSegment(withMarker), 256), Bits(data));
}

TEST(QmDecoder, MarkerStopsTheReadPositionAndFeedsZeros) {
  const std::vector<uint8_t> seg{0x6F, 0x12, 0xFF, 0xD9, 0x55, 0x66, 0x77, 0x00};
  AritDecoder dec(Segment(seg.data(), seg.size(), 0, seg.size()));
  facet::Context cx;
  for (int i = 0; i < 200; ++i) dec.decode(cx);
  EXPECT_EQ(dec.position(), 2u);  // stuck on the 0xFF
  // Same decisions as a segment that simply ends after 0x12.
  const std::vector<uint8_t> shortSeg{0x6F, 0x12, 0x00};
  AritDecoder ref(Segment(shortSeg.data(), shortSeg.size(), 0, shortSeg.size()));
  AritDecoder again(Segment(seg.data(), seg.size(), 0, seg.size()));
  facet::Context a, b;
  for (int i = 0; i < 200; ++i) ASSERT_EQ(again.decode(a), ref.decode(b)) << i;
}

TEST(QmDecoder, StuffedZeroIsSkippedAndCountsAsTwoBytes) {
  const std::vector<uint8_t> seg{0x6F, 0xFF, 0x00, 0x80, 0x00, 0x00};
  AritDecoder dec(Segment(seg.data(), seg.size(), 0, seg.size()));
  EXPECT_EQ(dec.position(), 4u);  // initial two bytes: FF (with its stuffing) and 80
}

TEST(QmDecoder, LastSegmentByteAndBytesPastTheStreamReadAsZero) {
  const std::vector<uint8_t> stream{0x6F, 0x9A, 0x37, 0xC4, 0xEE};
  const Segment seg(stream.data(), stream.size(), 0, 4);
  EXPECT_EQ(seg.at(1), 0x9A);
  EXPECT_EQ(seg.at(2), 0x37);
  EXPECT_EQ(seg.at(3), 0);  // position length - 1
  EXPECT_EQ(seg.at(4), 0);
  const Segment beyond(stream.data(), stream.size(), 3, 100);
  EXPECT_EQ(beyond.marker(), 0xC4);
  EXPECT_EQ(beyond.at(1), 0xEE);
  EXPECT_EQ(beyond.at(2), 0);  // past the stream
  const Segment far(stream.data(), stream.size(), uint64_t(1) << 40, 100);
  EXPECT_EQ(far.marker(), 0);
  EXPECT_EQ(far.at(5), 0);
  const Segment empty(stream.data(), stream.size(), 0, 0);
  EXPECT_EQ(empty.marker(), 0);
  EXPECT_EQ(empty.at(1), 0);
}

TEST(QmDecoder, ValidOnlyWithTheMarker) {
  const std::vector<uint8_t> good{0x6F, 1, 2};
  const std::vector<uint8_t> bad{0x6E, 1, 2};
  EXPECT_TRUE(AritDecoder(Segment(good.data(), good.size(), 0, 3)).valid());
  EXPECT_FALSE(AritDecoder(Segment(bad.data(), bad.size(), 0, 3)).valid());
  EXPECT_FALSE(AritDecoder(Segment(good.data(), good.size(), 0, 0)).valid());
}

TEST(QmDecoder, DecodeBitsReadsMostSignificantFirstAndZeroBitsIsMinusOne) {
  facet_test::QmEncoder enc;
  facet_test::QmEncoder::Context cx;
  for (int v : {1, 0, 1, 1, 0, 0, 0, 1, 1}) enc.encode(cx, v);
  const std::vector<uint8_t> seg = AsSegment(enc.finish());
  AritDecoder dec(Segment(seg.data(), seg.size(), 0, seg.size()));
  EXPECT_EQ(dec.decode_bits(0), -1);
  EXPECT_EQ(dec.decode_bits(4), 0xB);
  EXPECT_EQ(dec.decode_bits(5), 0x3);
}

TEST(QmEncoder, ReproducesTheStandardTestSequence) {
  facet_test::QmEncoder enc;
  facet_test::QmEncoder::Context cx;
  for (int b : Bits(Hex(K4Value("test_data_hex")))) enc.encode(cx, b);
  EXPECT_EQ(enc.finish(), Hex(K4Value("encoded_hex")));
}

TEST(QmCoder, RandomDecisionsInManyContextsRoundTrip) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int contexts = 1 + trial % 5;
    std::vector<std::pair<int, int>> seq;
    std::bernoulli_distribution skew(trial % 2 ? 0.97 : 0.5);
    for (int i = 0; i < 3000; ++i) seq.emplace_back(int(rng() % contexts), skew(rng) ? 0 : 1);
    facet_test::QmEncoder enc;
    std::vector<facet_test::QmEncoder::Context> ec(contexts);
    for (auto& [c, b] : seq) enc.encode(ec[c], b);
    const std::vector<uint8_t> seg = AsSegment(enc.finish());
    AritDecoder dec(Segment(seg.data(), seg.size(), 0, seg.size()));
    std::vector<facet::Context> dc(contexts);
    for (size_t i = 0; i < seq.size(); ++i) ASSERT_EQ(dec.decode(dc[seq[i].first]), seq[i].second) << trial << ":" << i;
  }
}

// Children as (node or leaf) pairs: a leaf is written as -(symbol + 1).
void ExpectTree(int n, const std::vector<std::pair<int, int>>& nodes) {
  facet::Adaptive_Model m(n);
  for (size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(std::to_string(n) + " symbols, node " + std::to_string(i));
    EXPECT_EQ(m.node(int(i)).child[0], nodes[i].first);
    EXPECT_EQ(m.node(int(i)).child[1], nodes[i].second);
  }
}

TEST(AdaptiveModel, FormTreeSplitsLeftHeavyNumbersDepthFirstAndLeavesInOrder) {
  ExpectTree(2, {{-1, -2}});
  ExpectTree(3, {{1, -3}, {-1, -2}});
  ExpectTree(4, {{1, 2}, {-1, -2}, {-3, -4}});
  ExpectTree(5, {{1, 3}, {2, -3}, {-1, -2}, {-4, -5}});
  ExpectTree(8, {{1, 4}, {2, 3}, {-1, -2}, {-3, -4}, {5, 6}, {-5, -6}, {-7, -8}});
}

TEST(AdaptiveModel, SymbolsOfEverySizeRoundTripWithTheEncoderTree) {
  std::mt19937 rng(11);
  for (int n = 2; n <= 8; ++n) {
    std::vector<int> syms;
    for (int i = 0; i < 2000; ++i) syms.push_back(rng() % 4 == 0 ? int(rng() % n) : n - 1);
    facet_test::QmEncoder enc;
    facet_test::SymbolCoder coder(n);
    for (int s : syms) coder.encode(enc, s);
    const std::vector<uint8_t> seg = AsSegment(enc.finish());
    AritDecoder dec(Segment(seg.data(), seg.size(), 0, seg.size()));
    facet::Adaptive_Model model(n);
    for (size_t i = 0; i < syms.size(); ++i) ASSERT_EQ(model.decode(dec), syms[i]) << n << ":" << i;
  }
}

}  // namespace
