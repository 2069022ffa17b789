// Shared inside the transport: protocol-layer hooks of the poll loop and
// small buffer helpers.
#ifndef HWTRANSPORT_INTERNAL_H
#define HWTRANSPORT_INTERNAL_H

#include "hwtransport.h"

// Events the loop gives a connection's protocol layer; never delivered to
// the user's handler.
enum {
  MG_PROTO_DATA = 1000, // new bytes were appended to the receive buffer
  MG_PROTO_EOF = 1001,  // the peer closed its side
};

// The peer has closed its side: no more reads are attempted.
#define MG_F_PEER_EOF (1u << 5)

// A held request was delivered by the peer's close: the connection stays
// until its reply is out.
#define MG_F_HOLD_EOF (1u << 7)

#define MG_F_CLOSING (MG_F_SEND_AND_CLOSE | MG_F_CLOSE_IMMEDIATELY)

// Hard cap on buffered input of any connection, protocol layer or not.
#define MG_MAX_RECV_BUFFER (MG_MAX_HTTP_HEADER_SIZE + MG_MAX_HTTP_BODY_SIZE + 64 * 1024)

// Files up to this size are read into the send buffer at once; larger ones
// are streamed in pieces of this size as the socket drains.
#define MG_FILE_CHUNK (64 * 1024)

void mg_call(struct mg_connection *nc, int ev, void *ev_data);
// Removes n bytes at offset off (off + n <= len).
void mbuf_remove_at(struct mbuf *mb, size_t off, size_t n);
// Makes room for at least n more bytes; false when memory ran out.
bool mbuf_reserve(struct mbuf *mb, size_t n);

void mg_http_proto_handler(struct mg_connection *nc, int ev, void *ev_data);
void mg_ws_proto_handler(struct mg_connection *nc, int ev, void *ev_data);
// Takes over a connection whose request carries Sec-WebSocket-Key; the
// header block of head_len bytes is at the front of the receive buffer.
void mg_ws_upgrade(struct mg_connection *nc, struct http_message *hm, size_t head_len);
// Sends an empty ping when the connection has been silent too long.
void mg_ws_idle_check(struct mg_connection *nc, time_t now);
// Appends up to MG_FILE_CHUNK bytes of the file being served; closes it at
// its end or on a read error (then the connection is closed).
void mg_file_refill(struct mg_connection *nc);

int mg_ncasecmp(const char *a, const char *b, size_t n);

#endif
