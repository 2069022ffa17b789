// Fuzz target: the HTTP request parser and the chunked-body decoder.
//
// The input is what a peer sends. It goes three ways:
// - the pure functions: header block length, request line and headers,
//   body framing (every slice must lie inside the header block);
// - the chunked decoder on the whole input at once and on the same bytes
//   arriving in pieces: both must agree on the result and the body;
// - the HTTP layer of a connection (no socket), fed in pieces and then
//   closed by the peer, with a handler that checks every request it gets
//   and answers it as the service does.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_check.h"
#include "http_parse.h"
#include "internal.h"

namespace {

bool Inside(const mg_str &s, const char *base, size_t n) {
  return s.len == 0 || (s.p >= base && s.len <= n && s.p - base <= static_cast<ptrdiff_t>(n - s.len));
}

bool HasBlankEdge(const mg_str &s) { return s.len > 0 && (s.p[0] == ' ' || s.p[s.len - 1] == ' '); }

void CheckMessage(const http_message &hm, const char *base, size_t n) {
  FUZZ_CHECK(hm.method.len > 0 && Inside(hm.method, base, n));
  FUZZ_CHECK(Inside(hm.uri, base, n) && Inside(hm.query_string, base, n) && Inside(hm.proto, base, n));
  FUZZ_CHECK(memchr(hm.method.p, ' ', hm.method.len) == nullptr);
  FUZZ_CHECK(hm.uri.len == 0 || memchr(hm.uri.p, '?', hm.uri.len) == nullptr);
  for (int i = 0; i < MG_MAX_HTTP_HEADERS && hm.header_names[i].len > 0; i++) {
    FUZZ_CHECK(Inside(hm.header_names[i], base, n) && Inside(hm.header_values[i], base, n));
    FUZZ_CHECK(memchr(hm.header_names[i].p, ':', hm.header_names[i].len) == nullptr);
    FUZZ_CHECK(!HasBlankEdge(hm.header_values[i]));
    FUZZ_CHECK(hm.header_names[i].p[hm.header_names[i].len - 1] != ' ');
  }
}

void CheckHead(const char *buf, size_t size) {
  long hl = http_head_len(buf, size);
  FUZZ_CHECK(hl >= -1 && hl <= static_cast<long>(size));
  if (hl <= 0) return;
  FUZZ_CHECK(hl >= 2 && buf[hl - 1] == '\n');
  http_message hm;
  if (http_parse_head(buf, static_cast<size_t>(hl), &hm) != 0) return;
  CheckMessage(hm, buf, static_cast<size_t>(hl));
  uint64_t length = 1;
  http_body_kind kind = http_body_framing(&hm, &length);
  if (kind != HTTP_BODY_LENGTH) {
    FUZZ_CHECK(length == 0);
    return;
  }
  // The announced length is the header's decimal text.
  mg_str *cl = mg_get_http_header(&hm, "Content-Length");
  FUZZ_CHECK(cl != nullptr && cl->len > 0 && cl->len <= 19);
  uint64_t v = 0;
  for (size_t i = 0; i < cl->len; i++) {
    FUZZ_CHECK(cl->p[i] >= '0' && cl->p[i] <= '9');
    v = v * 10 + static_cast<uint64_t>(cl->p[i] - '0');
  }
  FUZZ_CHECK(v == length);
}

struct Dechunked {
  int result;
  std::string body;  // decoded data
  std::string rest;  // what followed the message
};

Dechunked DechunkWhole(const uint8_t *data, size_t size, size_t max_body) {
  std::string buf(reinterpret_cast<const char *>(data), size);
  size_t decoded = 0, len_out = 0;
  int r = http_dechunk(&buf[0], size, &decoded, &len_out, max_body);
  FUZZ_CHECK(r >= -2 && r <= 1);
  if (r < 0) return {r, "", ""};
  FUZZ_CHECK(decoded <= len_out && len_out <= size && decoded <= max_body);
  return {r, buf.substr(0, decoded), buf.substr(decoded, len_out - decoded)};
}

// The same bytes arriving in pieces, decoded as the HTTP layer does after
// every read.
Dechunked DechunkPieces(const uint8_t *data, size_t size, size_t max_body) {
  FuzzPieces pieces(data, size, 17);
  std::string acc;
  size_t decoded = 0, fed = 0;
  int r = 0;
  while (fed < size && r == 0) {
    size_t n = pieces.next();
    if (n > size - fed) n = size - fed;
    acc.append(reinterpret_cast<const char *>(data) + fed, n);
    fed += n;
    size_t len_out = 0;
    size_t before = decoded;
    r = http_dechunk(&acc[0], acc.size(), &decoded, &len_out, max_body);
    if (r < 0) return {r, "", ""};
    FUZZ_CHECK(decoded >= before && decoded <= len_out && len_out <= acc.size());
    acc.resize(len_out);
  }
  if (r == 0) return {0, "", ""};
  std::string rest = acc.substr(decoded);
  rest.append(reinterpret_cast<const char *>(data) + fed, size - fed);
  return {r, acc.substr(0, decoded), rest};
}

// Longest line (bytes up to a LF) of the input: a size line or trailer over
// the decoder's limits may be refused when it arrives in pieces only.
size_t LongestLine(const uint8_t *data, size_t size) {
  size_t longest = 0, cur = 0;
  for (size_t i = 0; i < size; i++) {
    cur = data[i] == '\n' ? 0 : cur + 1;
    if (cur > longest) longest = cur;
  }
  return longest;
}

void CheckDechunk(const uint8_t *data, size_t size) {
  const size_t max_body = size > 0 ? static_cast<size_t>(data[0]) * 4 : 0;
  Dechunked whole = DechunkWhole(data, size, max_body);
  Dechunked split = DechunkPieces(data, size, max_body);
  if (split.result == 1) {
    FUZZ_CHECK(whole.result == 1);
    FUZZ_CHECK(whole.body == split.body && whole.rest == split.rest);
  }
  if (whole.result == 1 && LongestLine(data, size) <= 1024) FUZZ_CHECK(split.result == 1);
  if (whole.result == -2 && LongestLine(data, size) <= 1024) FUZZ_CHECK(split.result == -2);
}

// The handler of the connection: every request must point into the receive
// buffer; it is answered like the service answers.
void OnEvent(mg_connection *nc, int ev, void *ev_data) {
  const char *base = nc->recv_mbuf.buf;
  size_t n = nc->recv_mbuf.len;
  if (ev == MG_EV_HTTP_REQUEST || ev == MG_EV_WEBSOCKET_HANDSHAKE_REQUEST) {
    auto *hm = static_cast<http_message *>(ev_data);
    CheckMessage(*hm, base, n);
    if (ev == MG_EV_HTTP_REQUEST) {
      FUZZ_CHECK(hm->message.p == base && hm->message.len <= n);
      FUZZ_CHECK(Inside(hm->body, base, n) && hm->body.len <= MG_MAX_HTTP_BODY_SIZE);
      mg_printf(nc, "HTTP/1.1 200 OK\r\nContent-Length: %d\n\n", static_cast<int>(hm->body.len));
      mg_send(nc, hm->body.p, static_cast<int>(hm->body.len));
    }
  } else if (ev == MG_EV_WEBSOCKET_FRAME || ev == MG_EV_WEBSOCKET_CONTROL_FRAME) {
    auto *wm = static_cast<websocket_message *>(ev_data);
    FUZZ_CHECK(wm->size <= MG_MAX_WEBSOCKET_MESSAGE_SIZE);
    FUZZ_CHECK(wm->size == 0 || (reinterpret_cast<const char *>(wm->data) >= base &&
                                 reinterpret_cast<const char *>(wm->data) + wm->size <= base + n));
    if (ev == MG_EV_WEBSOCKET_FRAME) mg_send_websocket_frame(nc, WEBSOCKET_OP_TEXT, wm->data, wm->size);
  }
}

void FeedConnection(const uint8_t *data, size_t size) {
  mg_connection nc;
  memset(&nc, 0, sizeof nc);
  nc.sock = -1;
  nc.file_fd = -1;
  nc.handler = OnEvent;
  nc.proto_handler = mg_http_proto_handler;
  FuzzPieces pieces(data, size, 300);
  size_t fed = 0;
  while (fed < size && (nc.flags & MG_F_CLOSING) == 0) {
    size_t n = pieces.next();
    if (n > size - fed) n = size - fed;
    FUZZ_CHECK(mbuf_append(&nc.recv_mbuf, data + fed, n) == n);
    fed += n;
    nc.proto_handler(&nc, MG_PROTO_DATA, nullptr);
    FUZZ_CHECK(nc.recv_mbuf.len <= MG_MAX_RECV_BUFFER);
  }
  if ((nc.flags & MG_F_CLOSING) == 0) nc.proto_handler(&nc, MG_PROTO_EOF, nullptr);
  mbuf_free(&nc.recv_mbuf);
  mbuf_free(&nc.send_mbuf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CheckHead(reinterpret_cast<const char *>(data), size);
  CheckDechunk(data, size);
  FeedConnection(data, size);
  return 0;
}
