// The WebSocket layer of an upgraded connection: handshake, frame decoding
// with reassembly, sends and the idle ping.
#include <string.h>

#include "internal.h"
#include "ws_frame.h"

// Ends the connection with a close frame carrying status (1002 protocol
// error, 1009 message too big); further input is dropped.
static void ws_fail(struct mg_connection *nc, unsigned status) {
  unsigned char code[2] = {static_cast<unsigned char>(status >> 8), static_cast<unsigned char>(status)};
  mg_send_websocket_frame(nc, WEBSOCKET_OP_CLOSE, code, sizeof code);
  nc->flags |= MG_F_SEND_AND_CLOSE;
  nc->recv_mbuf.len = 0;
  nc->ws_frag_len = 0;
  nc->ws_frag_op = 0;
}

// Decodes every whole frame buffered. Reassembled fragments are kept at the
// front of the receive buffer (ws_frag_len bytes, first opcode in
// ws_frag_op); frames are read after them.
static void ws_on_data(struct mg_connection *nc) {
  struct mbuf *mb = &nc->recv_mbuf;
  while ((nc->flags & MG_F_CLOSING) == 0) {
    unsigned char *frame = reinterpret_cast<unsigned char *>(mb->buf) + nc->ws_frag_len;
    size_t avail = mb->len - nc->ws_frag_len;
    struct ws_frame_header h;
    if (ws_parse_frame_header(frame, avail, &h) == 0) return;
    bool control = (h.opcode & 0x08) != 0;
    bool continuation = h.opcode == WEBSOCKET_OP_CONTINUE;
    uint64_t total = h.payload_len + (continuation ? nc->ws_frag_len : 0);
    if (h.payload_len > MG_MAX_WEBSOCKET_MESSAGE_SIZE || total > MG_MAX_WEBSOCKET_MESSAGE_SIZE) {
      ws_fail(nc, 1009);
      return;
    }
    size_t plen = static_cast<size_t>(h.payload_len);
    if (avail < h.header_len + plen) return;
    unsigned char *payload = frame + h.header_len;
    if (h.masked) ws_unmask(payload, plen, h.mask);

    if (control) {
      struct websocket_message wm = {payload, plen, h.byte0};
      mg_call(nc, MG_EV_WEBSOCKET_CONTROL_FRAME, &wm);
      if (h.opcode == WEBSOCKET_OP_CLOSE) {
        nc->flags |= MG_F_SEND_AND_CLOSE;
        mb->len = 0;
        return;
      }
      if (mb->len >= nc->ws_frag_len + h.header_len + plen)
        mbuf_remove_at(mb, nc->ws_frag_len, h.header_len + plen);
      continue;
    }
    // A continuation with no message begun, or a new message inside a
    // fragmented one, cannot be reassembled.
    if (continuation != (nc->ws_frag_op != 0)) {
      ws_fail(nc, 1002);
      return;
    }
    if (!continuation && h.fin) {
      struct websocket_message wm = {payload, plen, h.byte0};
      mg_call(nc, MG_EV_WEBSOCKET_FRAME, &wm);
      if (mb->len >= h.header_len + plen) mbuf_remove(mb, h.header_len + plen);
      continue;
    }
    // A fragment: drop its header so its payload joins the ones before.
    if (!continuation) nc->ws_frag_op = static_cast<unsigned char>(h.opcode);
    mbuf_remove_at(mb, nc->ws_frag_len, h.header_len);
    nc->ws_frag_len += plen;
    if (h.fin) {
      size_t size = nc->ws_frag_len;
      struct websocket_message wm = {reinterpret_cast<unsigned char *>(mb->buf), size,
                                     static_cast<unsigned char>(0x80 | nc->ws_frag_op)};
      nc->ws_frag_len = 0;
      nc->ws_frag_op = 0;
      mg_call(nc, MG_EV_WEBSOCKET_FRAME, &wm);
      if (mb->len >= size) mbuf_remove(mb, size);
    }
  }
}

void mg_ws_upgrade(struct mg_connection *nc, struct http_message *hm, size_t head_len) {
  nc->flags |= MG_F_IS_WEBSOCKET;
  nc->proto_handler = mg_ws_proto_handler;
  struct mg_str key = *mg_get_http_header(hm, "Sec-WebSocket-Key");
  char accept[29];
  ws_accept_key(key.p, key.len, accept);
  mg_call(nc, MG_EV_WEBSOCKET_HANDSHAKE_REQUEST, hm);
  mbuf_remove(&nc->recv_mbuf, head_len);
  if (nc->flags & MG_F_CLOSING) return;
  if (nc->send_mbuf.len == 0) {
    mg_printf(nc,
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: %s\r\n\r\n",
              accept);
  }
  mg_call(nc, MG_EV_WEBSOCKET_HANDSHAKE_DONE, nullptr);
  ws_on_data(nc);
}

void mg_ws_proto_handler(struct mg_connection *nc, int ev, void *) {
  if (ev == MG_PROTO_DATA) ws_on_data(nc);
}

void mg_send_websocket_frame(struct mg_connection *nc, int op, const void *data, size_t len) {
  unsigned char header[10];
  size_t hl = ws_encode_frame_header(header, op, len);
  // Header and payload go in together or not at all.
  if (!mbuf_reserve(&nc->send_mbuf, hl + len)) return;
  mbuf_append(&nc->send_mbuf, header, hl);
  if (len > 0) mbuf_append(&nc->send_mbuf, data, len);
}

void mg_ws_idle_check(struct mg_connection *nc, time_t now) {
  if ((nc->flags & MG_F_IS_WEBSOCKET) == 0 || (nc->flags & MG_F_CLOSING)) return;
  if (now - nc->last_io_time > MG_WEBSOCKET_PING_INTERVAL) {
    mg_send_websocket_frame(nc, WEBSOCKET_OP_PING, nullptr, 0);
    nc->last_io_time = now;
  }
}
