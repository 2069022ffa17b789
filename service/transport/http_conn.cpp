// The HTTP layer of a connection: finds complete requests in the receive
// buffer, enforces the limits and delivers them as MG_EV_HTTP_REQUEST.
#include <string.h>

#include "http_parse.h"
#include "internal.h"

// Refuses the request with a bodiless reply and ends the connection; input
// still buffered or arriving later is dropped.
static void http_refuse(struct mg_connection *nc, int code, const char *reason) {
  mg_printf(nc, "HTTP/1.1 %d %s\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", code, reason);
  nc->flags |= MG_F_SEND_AND_CLOSE;
  nc->recv_mbuf.len = 0;
  nc->chunk_decoded = 0;
}

static void http_deliver(struct mg_connection *nc, struct http_message *hm, size_t head_len,
                         size_t body_len) {
  hm->message = {nc->recv_mbuf.buf, head_len + body_len};
  hm->body = {nc->recv_mbuf.buf + head_len, body_len};
  mg_call(nc, MG_EV_HTTP_REQUEST, hm);
  // The handler may have switched protocols or dropped the buffer.
  if (nc->recv_mbuf.len >= head_len + body_len) mbuf_remove(&nc->recv_mbuf, head_len + body_len);
}

// Handles every complete request buffered; returns when more bytes are
// needed, the connection is closing, or a file reply is still being sent
// (its bytes must not mix with the next reply).
static void http_on_data(struct mg_connection *nc) {
  struct mbuf *mb = &nc->recv_mbuf;
  struct http_message hm;
  while ((nc->flags & (MG_F_CLOSING | MG_F_HOLD)) == 0 && nc->file_fd < 0 &&
         nc->proto_handler == mg_http_proto_handler) {
    // Empty lines before a request line are ignored (e.g. a CR LF after a body).
    size_t skip = 0;
    if (nc->chunk_decoded == 0)
      while (skip < mb->len && (mb->buf[skip] == '\r' || mb->buf[skip] == '\n')) skip++;
    if (skip > 0) mbuf_remove(mb, skip);
    if (mb->len == 0) return;

    long hl = http_head_len(mb->buf, mb->len);
    if (hl < 0 || (hl == 0 && mb->len >= MG_MAX_HTTP_HEADER_SIZE) || hl > MG_MAX_HTTP_HEADER_SIZE) {
      nc->flags |= MG_F_CLOSE_IMMEDIATELY; // no reply
      return;
    }
    if (hl == 0) return;
    size_t head_len = static_cast<size_t>(hl);
    if (http_parse_head(mb->buf, head_len, &hm) != 0) {
      http_refuse(nc, 400, "Bad Request");
      return;
    }
    if (mg_get_http_header(&hm, "Sec-WebSocket-Key") != nullptr) {
      mg_ws_upgrade(nc, &hm, head_len);
      return;
    }
    uint64_t length = 0;
    switch (http_body_framing(&hm, &length)) {
      case HTTP_BODY_BAD_LENGTH:
        http_refuse(nc, 400, "Bad Request");
        return;
      case HTTP_BODY_NONE:
        http_deliver(nc, &hm, head_len, 0);
        break;
      case HTTP_BODY_LENGTH:
        if (length > MG_MAX_HTTP_BODY_SIZE) {
          http_refuse(nc, 413, "Payload Too Large");
          return;
        }
        if (mb->len - head_len < length) return;
        http_deliver(nc, &hm, head_len, static_cast<size_t>(length));
        break;
      case HTTP_BODY_TO_CLOSE:
        // Delivered when the peer closes (see http_on_eof).
        if (mb->len - head_len > MG_MAX_HTTP_BODY_SIZE) http_refuse(nc, 413, "Payload Too Large");
        return;
      case HTTP_BODY_CHUNKED: {
        size_t new_len = 0;
        int r = http_dechunk(mb->buf + head_len, mb->len - head_len, &nc->chunk_decoded, &new_len,
                             MG_MAX_HTTP_BODY_SIZE);
        if (r == -2) {
          http_refuse(nc, 413, "Payload Too Large");
          return;
        }
        if (r < 0) {
          http_refuse(nc, 400, "Bad Request");
          return;
        }
        mb->len = head_len + new_len;
        if (r == 0) return;
        size_t body_len = nc->chunk_decoded;
        nc->chunk_decoded = 0;
        // Dechunking moved bytes but not the header block, so hm still holds.
        http_deliver(nc, &hm, head_len, body_len);
        break;
      }
    }
  }
}

// A PUT or POST without length ends with the peer's close.
static void http_on_eof(struct mg_connection *nc) {
  struct mbuf *mb = &nc->recv_mbuf;
  if ((nc->flags & (MG_F_CLOSING | MG_F_HOLD)) || nc->file_fd >= 0 || mb->len == 0) return;
  long hl = http_head_len(mb->buf, mb->len);
  if (hl <= 0 || hl > MG_MAX_HTTP_HEADER_SIZE) return;
  struct http_message hm;
  if (http_parse_head(mb->buf, static_cast<size_t>(hl), &hm) != 0) return;
  uint64_t length;
  if (http_body_framing(&hm, &length) != HTTP_BODY_TO_CLOSE) return;
  http_deliver(nc, &hm, static_cast<size_t>(hl), mb->len - static_cast<size_t>(hl));
  if (nc->flags & MG_F_HOLD) nc->flags |= MG_F_HOLD_EOF;
}

void mg_resume(struct mg_connection *nc) {
  nc->flags &= ~(MG_F_HOLD | MG_F_HOLD_EOF);
  if ((nc->flags & MG_F_CLOSING) == 0 && nc->recv_mbuf.len > 0 && nc->proto_handler != nullptr)
    nc->proto_handler(nc, MG_PROTO_DATA, nullptr);
}

void mg_http_proto_handler(struct mg_connection *nc, int ev, void *) {
  if (ev == MG_PROTO_DATA)
    http_on_data(nc);
  else if (ev == MG_PROTO_EOF)
    http_on_eof(nc);
}
