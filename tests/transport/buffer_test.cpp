// Growable buffer and text helpers.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "internal.h"

TEST(Buffer, GrowsToOneAndAHalfTimesWhatIsNeeded) {
  mbuf mb;
  mbuf_init(&mb, 0);
  EXPECT_EQ(mbuf_append(&mb, "0123456789", 10), 10u);
  EXPECT_EQ(mb.size, 15u);  // (0 + 10) * 1.5
  EXPECT_EQ(mbuf_append(&mb, "abcde", 5), 5u);
  EXPECT_EQ(mb.size, 15u);  // fits exactly: no reallocation
  EXPECT_EQ(mbuf_append(&mb, "x", 1), 1u);
  EXPECT_EQ(mb.size, 24u);  // 16 * 1.5
  mbuf_free(&mb);
  EXPECT_EQ(mb.buf, nullptr);
  EXPECT_EQ(mb.size, 0u);
  mbuf_init(&mb, 7);
  EXPECT_EQ(mb.size, 7u);
  EXPECT_EQ(mbuf_append(&mb, "abcdefgh", 8), 8u);
  EXPECT_EQ(mb.size, 12u);  // 8 * 1.5
  EXPECT_EQ(std::string(mb.buf, mb.len), "abcdefgh");
  EXPECT_EQ(mbuf_append(&mb, "", 0), 0u);
  mbuf_free(&mb);
}

TEST(Buffer, RemovingMovesTheRestDownAndLargeEmptyBuffersAreReleased) {
  mbuf mb;
  mbuf_init(&mb, 0);
  mbuf_append(&mb, "headTAILrest", 12);
  mbuf_remove(&mb, 4);
  EXPECT_EQ(std::string(mb.buf, mb.len), "TAILrest");
  mbuf_remove_at(&mb, 2, 4);
  EXPECT_EQ(std::string(mb.buf, mb.len), "TAst");
  mbuf_remove(&mb, 100);  // more than held: empties
  EXPECT_EQ(mb.len, 0u);
  EXPECT_NE(mb.buf, nullptr);  // small capacity is kept for the next request

  std::string big(300 * 1024, 'b');
  mbuf_append(&mb, big.data(), big.size());
  mbuf_remove(&mb, big.size());
  EXPECT_EQ(mb.buf, nullptr);
  EXPECT_EQ(mb.size, 0u);
  mbuf_free(&mb);
}

TEST(Text, VcmpIsEqualOnlyForSameLengthAndBytes) {
  mg_str s = {"POSTX", 4};
  EXPECT_EQ(mg_vcmp(&s, "POST"), 0);
  EXPECT_NE(mg_vcmp(&s, "POS"), 0);
  EXPECT_NE(mg_vcmp(&s, "POSTX"), 0);
  EXPECT_NE(mg_vcmp(&s, "post"), 0);
  mg_str empty = {"", 0};
  EXPECT_EQ(mg_vcmp(&empty, ""), 0);
  EXPECT_NE(mg_vcmp(&empty, "a"), 0);
}

TEST(Text, SockAddrRendersIpPortOrBoth) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(7776);
  inet_pton(AF_INET, "192.0.2.33", &sa.sin_addr);
  char buf[32];
  mg_sock_addr_to_str(&sa, buf, sizeof buf, MG_SOCK_STRINGIFY_IP | MG_SOCK_STRINGIFY_PORT);
  EXPECT_STREQ(buf, "192.0.2.33:7776");
  mg_sock_addr_to_str(&sa, buf, sizeof buf, MG_SOCK_STRINGIFY_IP);
  EXPECT_STREQ(buf, "192.0.2.33");
  mg_sock_addr_to_str(&sa, buf, sizeof buf, MG_SOCK_STRINGIFY_PORT);
  EXPECT_STREQ(buf, "7776");
  mg_sock_addr_to_str(&sa, buf, 8, MG_SOCK_STRINGIFY_IP | MG_SOCK_STRINGIFY_PORT);
  EXPECT_STREQ(buf, "192.0.2");  // truncated, still terminated
}
