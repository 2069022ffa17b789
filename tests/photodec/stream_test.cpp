// The working stream: the buffer built from a record and the plane budgets.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream.h"

namespace {

TEST(Budgets, SplitTheStoredTotal) {
  // T = 904: 900 bytes -> 775, 82, 900 - 775 - 82 + 30 = 73.
  facet::PlaneBudgets b = facet::ComputeBudgets(904);
  EXPECT_EQ(b.budget[0], 775);
  EXPECT_EQ(b.budget[1], 82);
  EXPECT_EQ(b.budget[2], 73);
  b = facet::ComputeBudgets(0xFFFFFFFFu);  // no overflow
  EXPECT_EQ(b.budget[0], (0xFFFFFFFFLL - 4) * 85 / 100 + 10);
  EXPECT_EQ(b.budget[0] + b.budget[1] + b.budget[2], 0xFFFFFFFFLL - 4 + 30);
  b = facet::ComputeBudgets(0);  // -4 bytes: floors stay positive
  EXPECT_EQ(b.budget[0], 6);
  EXPECT_EQ(b.budget[1], 9);
  EXPECT_EQ(b.budget[2], 11);
}

TEST(WorkingBuffer, HeaderThenUnscrambledBytesThenZeros) {
  std::vector<uint8_t> rec(1024);
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = uint8_t(i * 7);
  uint8_t work[1024];
  std::memset(work, 0xEE, sizeof work);
  facet::BuildWorkingBuffer(rec.data(), 0x96, work);
  EXPECT_EQ(std::vector<uint8_t>(work, work + 6), (std::vector<uint8_t>{0x57, 0x4C, 0x66, 0x00, 0x7E, 0x00}));
  for (size_t i = 6; i < 1020; ++i) ASSERT_EQ(work[i], uint8_t(rec[i + 4] ^ 0x96)) << i;
  for (size_t i = 1020; i < 1024; ++i) EXPECT_EQ(work[i], 0) << i;
}

}  // namespace
