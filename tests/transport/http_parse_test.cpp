// HTTP request parsing on byte strings.
#include <gtest/gtest.h>

#include <string>

#include "http_parse.h"

static std::string S(const mg_str &m) { return std::string(m.p, m.len); }

TEST(HttpHead, EndIsLfLfOrLfCrLf) {
  EXPECT_EQ(http_head_len("GET / HTTP/1.1\r\nA: b\r\n\r\nBODY", 28), 24);
  EXPECT_EQ(http_head_len("GET / HTTP/1.1\nA: b\n\nBODY", 25), 21);
  EXPECT_EQ(http_head_len("GET / HTTP/1.1\nA: b\r\n\r\n", 23), 23);
  EXPECT_EQ(http_head_len("GET / HTTP/1.1\r\nA: b\r\n\r", 23), 0);
  EXPECT_EQ(http_head_len("GET / HTTP/1.1\r\nA: b\r\n", 22), 0);
  EXPECT_EQ(http_head_len("", 0), 0);
}

TEST(HttpHead, ControlBytesOtherThanCrLfAreRejected) {
  for (char c : {'\t', '\x01', '\x1f', '\x7f', '\0'}) {
    std::string req = std::string("GET / HTTP/1.1\r\nA: x") + c + "y\r\n\r\n";
    EXPECT_EQ(http_head_len(req.data(), req.size()), -1) << static_cast<int>(c);
    // Rejected as soon as the byte is seen, before the block is complete.
    EXPECT_EQ(http_head_len(req.data(), 22), -1) << static_cast<int>(c);
  }
  std::string high = "GET /\xe4\xbd\xa0 HTTP/1.1\r\nA: \x80\xff\r\n\r\n";
  EXPECT_EQ(http_head_len(high.data(), high.size()), static_cast<long>(high.size()));
  std::string body_tab = "POST / HTTP/1.1\r\n\r\n\t\x01";  // bytes after the block are body
  EXPECT_EQ(http_head_len(body_tab.data(), body_tab.size()), 19);
}

TEST(HttpHead, RequestLineAndHeadersAreSplit) {
  std::string req = "POST /a/b?x=1?y=2 HTTP/1.1\r\nHost:  h  \r\nno colon line\r\nX-Empty:\r\n\r\n";
  http_message hm;
  ASSERT_EQ(http_parse_head(req.data(), req.size(), &hm), 0);
  EXPECT_EQ(S(hm.method), "POST");
  EXPECT_EQ(S(hm.uri), "/a/b");
  EXPECT_EQ(S(hm.query_string), "x=1?y=2");
  EXPECT_EQ(S(hm.proto), "HTTP/1.1");
  EXPECT_EQ(S(hm.header_names[0]), "Host");
  EXPECT_EQ(S(hm.header_values[0]), "h");
  EXPECT_EQ(S(hm.header_names[1]), "X-Empty");
  EXPECT_EQ(S(hm.header_values[1]), "");
  EXPECT_EQ(hm.header_names[2].len, 0u);
  ASSERT_NE(mg_get_http_header(&hm, "host"), nullptr);
  EXPECT_EQ(mg_get_http_header(&hm, "Hos"), nullptr);

  std::string bare = "GET /only\n\n";
  ASSERT_EQ(http_parse_head(bare.data(), bare.size(), &hm), 0);
  EXPECT_EQ(S(hm.uri), "/only");
  EXPECT_EQ(hm.query_string.len, 0u);
  EXPECT_EQ(hm.proto.len, 0u);
  for (const char *bad : {"GET\r\n\r\n", " / HTTP/1.1\r\n\r\n", "\r\n\r\n"})
    EXPECT_EQ(http_parse_head(bad, strlen(bad), &hm), -1) << bad;
}

TEST(HttpHead, HeadersBeyondTheFortiethAreDropped) {
  std::string req = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 45; i++) req += "H" + std::to_string(i) + ": v" + std::to_string(i) + "\r\n";
  req += "\r\n";
  http_message hm;
  ASSERT_EQ(http_parse_head(req.data(), req.size(), &hm), 0);
  EXPECT_EQ(S(hm.header_names[39]), "H39");
  EXPECT_EQ(S(hm.header_values[39]), "v39");
  EXPECT_EQ(mg_get_http_header(&hm, "H40"), nullptr);
}

TEST(HttpBody, FramingFollowsHeadersAndMethod) {
  struct Case {
    const char *req;
    http_body_kind kind;
    uint64_t length;
  } cases[] = {
      {"POST / HTTP/1.1\r\nContent-Length: 12\r\n\r\n", HTTP_BODY_LENGTH, 12},
      {"GET / HTTP/1.1\r\ncontent-length: 0\r\n\r\n", HTTP_BODY_LENGTH, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: Chunked\r\n\r\n", HTTP_BODY_CHUNKED, 0},
      {"POST / HTTP/1.1\r\n\r\n", HTTP_BODY_TO_CLOSE, 0},
      {"PUT / HTTP/1.1\r\n\r\n", HTTP_BODY_TO_CLOSE, 0},
      {"GET / HTTP/1.1\r\n\r\n", HTTP_BODY_NONE, 0},
      {"DELETE / HTTP/1.1\r\n\r\n", HTTP_BODY_NONE, 0},
      {"post / HTTP/1.1\r\n\r\n", HTTP_BODY_NONE, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", HTTP_BODY_LENGTH, 99999999999ull},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", HTTP_BODY_BAD_LENGTH, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n", HTTP_BODY_BAD_LENGTH, 0},
      {"POST / HTTP/1.1\r\nContent-Length:\r\n\r\n", HTTP_BODY_BAD_LENGTH, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", HTTP_BODY_BAD_LENGTH, 0},
  };
  for (const Case &c : cases) {
    http_message hm;
    ASSERT_EQ(http_parse_head(c.req, strlen(c.req), &hm), 0);
    uint64_t len = 77;
    EXPECT_EQ(http_body_framing(&hm, &len), c.kind) << c.req;
    EXPECT_EQ(len, c.length) << c.req;
  }
}

// Feeds raw chunked bytes in pieces of `step`, as the HTTP layer does.
static int Dechunk(const std::string &raw, size_t step, std::string *body, std::string *rest,
                   size_t max = 1 << 20) {
  std::string buf;
  size_t decoded = 0;
  int r = 0;
  for (size_t off = 0; off < raw.size() && r == 0; off += step) {
    buf += raw.substr(off, step);
    size_t len = 0;
    r = http_dechunk(&buf[0], buf.size(), &decoded, &len, max);
    if (r < 0) return r;
    buf.resize(len);
  }
  *body = buf.substr(0, decoded);
  *rest = buf.substr(decoded);
  return r;
}

TEST(HttpChunked, ChunksAreJoinedWhateverTheSegmentation) {
  std::string raw = "5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nTrailer: x\r\n\r\nNEXT";
  for (size_t step : {raw.size(), size_t{1}, size_t{3}, size_t{7}}) {
    std::string body, rest;
    EXPECT_EQ(Dechunk(raw, step, &body, &rest), 1) << step;
    EXPECT_EQ(body, "hello world") << step;
    // With one-byte steps decoding stops at the end; the rest is not yet fed.
    if (step == raw.size()) {
      EXPECT_EQ(rest, "NEXT");
    }
  }
  std::string body, rest;
  EXPECT_EQ(Dechunk("A\nabcdefghij\n0\n\n", 100, &body, &rest), 1);  // bare LF endings
  EXPECT_EQ(body, "abcdefghij");
  EXPECT_EQ(Dechunk("3\r\nabc\r\n", 100, &body, &rest), 0);  // last chunk missing
  EXPECT_EQ(body, "abc");
}

TEST(HttpChunked, MalformedOrOversizedCodingIsRefused) {
  std::string body, rest;
  EXPECT_EQ(Dechunk("zz\r\nab\r\n0\r\n\r\n", 100, &body, &rest), -1);
  EXPECT_EQ(Dechunk("\r\nab\r\n0\r\n\r\n", 100, &body, &rest), -1);
  EXPECT_EQ(Dechunk("2\r\nabXY0\r\n\r\n", 100, &body, &rest), -1);
  EXPECT_EQ(Dechunk("10000000000000000\r\n", 100, &body, &rest), -1);  // 17 hex digits
  EXPECT_EQ(Dechunk(std::string(2000, '1'), 100, &body, &rest), -1);    // endless size line
  EXPECT_EQ(Dechunk("ffffffffffff\r\n", 100, &body, &rest), -2);
  EXPECT_EQ(Dechunk("8\r\n12345678\r\n8\r\n12345678\r\n", 100, &body, &rest, 15), -2);
  EXPECT_EQ(Dechunk("8\r\n12345678\r\n7\r\n1234567\r\n0\r\n\r\n", 100, &body, &rest, 15), 1);
}
