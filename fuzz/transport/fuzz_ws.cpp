// Fuzz target: the WebSocket frame decoder with reassembly.
//
// The input is the byte stream a peer sends after a fixed upgrade request.
// It reaches the WebSocket layer of a connection (no socket) in pieces; the
// handler records every message and echoes data messages as the service
// does. A straightforward model decodes the same stream in one pass; the
// messages delivered and the exact bytes sent back (101 reply, echoes, the
// close frame of a refusal) must be the model's. The frame header codec is
// checked on its own as well (decode of what it encodes).
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "internal.h"
#include "ws_frame.h"

namespace {

const char kUpgrade[] =
    "GET /ws HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
const char kSwitching[] =
    "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

struct Event {
  int ev;
  unsigned flags;
  std::string data;
  bool operator==(const Event &o) const { return ev == o.ev && flags == o.flags && data == o.data; }
};

std::vector<Event> g_events;

void OnEvent(mg_connection *nc, int ev, void *ev_data) {
  if (ev == MG_EV_WEBSOCKET_FRAME || ev == MG_EV_WEBSOCKET_CONTROL_FRAME) {
    auto *wm = static_cast<websocket_message *>(ev_data);
    FUZZ_CHECK(wm->size <= MG_MAX_WEBSOCKET_MESSAGE_SIZE);
    g_events.push_back({ev, wm->flags, std::string(reinterpret_cast<char *>(wm->data), wm->size)});
    if (ev == MG_EV_WEBSOCKET_FRAME) mg_send_websocket_frame(nc, WEBSOCKET_OP_TEXT, wm->data, wm->size);
  } else if (ev == MG_EV_WEBSOCKET_HANDSHAKE_REQUEST || ev == MG_EV_WEBSOCKET_HANDSHAKE_DONE) {
    g_events.push_back({ev, 0, ""});
  } else {
    FUZZ_CHECK(ev != MG_EV_HTTP_REQUEST);
  }
}

void AppendFrame(std::string &out, int op, const std::string &payload) {
  unsigned char h[10];
  size_t hl = ws_encode_frame_header(h, op, payload.size());
  out.append(reinterpret_cast<char *>(h), hl);
  out += payload;
}

// One pass over the whole stream, as the protocol says it is to be read.
struct Model {
  std::vector<Event> events{{MG_EV_WEBSOCKET_HANDSHAKE_REQUEST, 0, ""},
                            {MG_EV_WEBSOCKET_HANDSHAKE_DONE, 0, ""}};
  std::string sent = kSwitching;

  void Run(const uint8_t *p, size_t n) {
    size_t pos = 0;
    std::string frag;
    int frag_op = 0;
    for (;;) {
      ws_frame_header h;
      if (!ParseHeader(p + pos, n - pos, &h)) return;
      bool control = (h.opcode & 8) != 0, continuation = h.opcode == 0;
      uint64_t total = h.payload_len + (continuation ? frag.size() : 0);
      if (h.payload_len > MG_MAX_WEBSOCKET_MESSAGE_SIZE || total > MG_MAX_WEBSOCKET_MESSAGE_SIZE)
        return Fail(1009);
      if (n - pos - h.header_len < h.payload_len) return;
      std::string payload(reinterpret_cast<const char *>(p + pos + h.header_len), h.payload_len);
      for (size_t i = 0; i < payload.size(); i++) payload[i] ^= static_cast<char>(h.mask[i % 4]);
      pos += h.header_len + payload.size();
      if (control) {
        events.push_back({MG_EV_WEBSOCKET_CONTROL_FRAME, h.byte0, payload});
        if (h.opcode == WEBSOCKET_OP_CLOSE) return;
        continue;
      }
      if (continuation != (frag_op != 0)) return Fail(1002);
      if (!continuation && h.fin) {
        Deliver(h.byte0, payload);
        continue;
      }
      if (!continuation) frag_op = h.opcode;
      frag += payload;
      if (h.fin) {
        Deliver(0x80 | frag_op, frag);
        frag.clear();
        frag_op = 0;
      }
    }
  }

  // Header read byte by byte from the frame layout, independent of the codec.
  static bool ParseHeader(const uint8_t *p, size_t n, ws_frame_header *h) {
    if (n < 2) return false;
    h->byte0 = p[0];
    h->fin = (p[0] & 0x80) != 0;
    h->opcode = p[0] & 0x0f;
    h->masked = (p[1] & 0x80) != 0;
    size_t need = 2 + ((p[1] & 0x7f) == 126 ? 2 : (p[1] & 0x7f) == 127 ? 8 : 0) + (h->masked ? 4 : 0);
    if (n < need) return false;
    uint64_t len = p[1] & 0x7f;
    size_t at = 2;
    if (len >= 126) {
      size_t bytes = len == 126 ? 2 : 8;
      len = 0;
      for (size_t i = 0; i < bytes; i++) len = len << 8 | p[at++];
    }
    h->payload_len = len;
    memset(h->mask, 0, 4);
    if (h->masked) memcpy(h->mask, p + at, 4);
    h->header_len = need;
    return true;
  }

  void Deliver(unsigned flags, const std::string &data) {
    events.push_back({MG_EV_WEBSOCKET_FRAME, flags, data});
    AppendFrame(sent, WEBSOCKET_OP_TEXT, data);
  }

  void Fail(unsigned status) {
    std::string code = {static_cast<char>(status >> 8), static_cast<char>(status & 0xff)};
    AppendFrame(sent, WEBSOCKET_OP_CLOSE, code);
  }
};

void CheckHeaderCodec(const uint8_t *data, size_t size) {
  ws_frame_header h, m;
  int r = ws_parse_frame_header(data, size, &h);
  bool mr = Model::ParseHeader(data, size, &m);
  FUZZ_CHECK(r == (mr ? 1 : 0));
  if (r == 1) {
    FUZZ_CHECK(h.header_len == m.header_len && h.payload_len == m.payload_len);
    FUZZ_CHECK(h.opcode == m.opcode && h.fin == m.fin && h.masked == m.masked);
    FUZZ_CHECK(memcmp(h.mask, m.mask, 4) == 0 && h.header_len >= 2 && h.header_len <= 14);
  }
  if (size < 9) return;
  // Encoding any opcode and length gives a header that reads back the same.
  uint64_t len = 0;
  memcpy(&len, data + 1, 8);
  len >>= data[0] & 63;
  unsigned char out[10];
  size_t hl = ws_encode_frame_header(out, data[0] >> 4, len);
  FUZZ_CHECK(ws_parse_frame_header(out, hl, &h) == 1);
  FUZZ_CHECK(h.header_len == hl && h.payload_len == len && h.fin && !h.masked);
  FUZZ_CHECK(h.opcode == (data[0] >> 4));
  FUZZ_CHECK(hl == (len < 126 ? 2u : len <= 0xffff ? 4u : 10u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CheckHeaderCodec(data, size);

  g_events.clear();
  mg_connection nc;
  memset(&nc, 0, sizeof nc);
  nc.sock = -1;
  nc.file_fd = -1;
  nc.handler = OnEvent;
  nc.proto_handler = mg_http_proto_handler;
  std::string stream = kUpgrade;
  stream.append(reinterpret_cast<const char *>(data), size);
  FuzzPieces pieces(data, size, 200);
  size_t fed = 0;
  while (fed < stream.size() && (nc.flags & MG_F_CLOSING) == 0) {
    size_t n = pieces.next();
    if (n > stream.size() - fed) n = stream.size() - fed;
    FUZZ_CHECK(mbuf_append(&nc.recv_mbuf, stream.data() + fed, n) == n);
    fed += n;
    nc.proto_handler(&nc, MG_PROTO_DATA, nullptr);
  }
  if ((nc.flags & MG_F_CLOSING) == 0) nc.proto_handler(&nc, MG_PROTO_EOF, nullptr);

  Model model;
  model.Run(data, size);
  FUZZ_CHECK(nc.flags & MG_F_IS_WEBSOCKET);
  FUZZ_CHECK(g_events.size() == model.events.size());
  for (size_t i = 0; i < g_events.size(); i++) FUZZ_CHECK(g_events[i] == model.events[i]);
  FUZZ_CHECK(std::string(nc.send_mbuf.buf, nc.send_mbuf.len) == model.sent);
  mbuf_free(&nc.recv_mbuf);
  mbuf_free(&nc.send_mbuf);
  return 0;
}
