// WebSocket framing and handshake value on byte strings.
#include <gtest/gtest.h>

#include <string>

#include "ws_frame.h"

TEST(WsHandshake, AcceptValueMatchesPublishedSamples) {
  char out[29];
  const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
  ws_accept_key(key.data(), key.size(), out);
  EXPECT_STREQ(out, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  const std::string key2 = "wDqumtseNBJdhkihL6PW7w==";
  ws_accept_key(key2.data(), key2.size(), out);
  EXPECT_STREQ(out, "0FFP+2nmNIf/h+4BP36k9uzrYGk=");
}

TEST(WsFrame, EncodedHeaderUsesTheShortestLengthForm) {
  struct Case {
    uint64_t len;
    std::string header;
  } cases[] = {
      {0, std::string("\x81\x00", 2)},
      {125, "\x81\x7d"},
      {126, std::string("\x81\x7e\x00\x7e", 4)},
      {65535, "\x81\x7e\xff\xff"},
      {65536, std::string("\x81\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10)},
      {0x0102030405060708ull, "\x81\x7f\x01\x02\x03\x04\x05\x06\x07\x08"},
  };
  for (const Case &c : cases) {
    unsigned char h[10];
    size_t n = ws_encode_frame_header(h, 1, c.len);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(h), n), c.header) << c.len;
  }
  unsigned char h[10];
  ws_encode_frame_header(h, 0x19, 0);  // only the opcode's low 4 bits count
  EXPECT_EQ(h[0], 0x89);
}

TEST(WsFrame, HeaderIsReadOnlyWhenComplete) {
  const unsigned char masked64[] = {0x02, 0xff, 0, 0, 0, 0, 0, 1, 0, 0, 0xa1, 0xb2, 0xc3, 0xd4};
  ws_frame_header h;
  for (size_t n = 0; n < sizeof masked64; n++) EXPECT_EQ(ws_parse_frame_header(masked64, n, &h), 0) << n;
  ASSERT_EQ(ws_parse_frame_header(masked64, sizeof masked64, &h), 1);
  EXPECT_FALSE(h.fin);
  EXPECT_EQ(h.opcode, 2);
  EXPECT_TRUE(h.masked);
  EXPECT_EQ(h.payload_len, 65536u);
  EXPECT_EQ(h.header_len, 14u);
  EXPECT_EQ(h.mask[3], 0xd4);

  const unsigned char len16[] = {0x88, 0x7e, 0x01, 0x00};
  ASSERT_EQ(ws_parse_frame_header(len16, 4, &h), 1);
  EXPECT_TRUE(h.fin);
  EXPECT_EQ(h.opcode, 8);
  EXPECT_FALSE(h.masked);
  EXPECT_EQ(h.payload_len, 256u);
  EXPECT_EQ(h.header_len, 4u);
}

TEST(WsFrame, MaskedPayloadIsUnmasked) {
  // The masked "Hello" of the protocol's own examples.
  unsigned char f[] = {0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58};
  ws_frame_header h;
  ASSERT_EQ(ws_parse_frame_header(f, sizeof f, &h), 1);
  ASSERT_EQ(h.header_len + h.payload_len, sizeof f);
  ws_unmask(f + h.header_len, h.payload_len, h.mask);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(f + h.header_len), 5), "Hello");
}
