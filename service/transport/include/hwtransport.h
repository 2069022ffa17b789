/*
 * hwtransport: the HTTP/1.1 and WebSocket transport of hwservice.
 *
 * Conventions
 * - Single-threaded: every function runs on the thread that drives
 *   mg_mgr_poll(); managers, connections and buffers have no locks.
 * - Memory: the manager owns its connections and their buffers. Texts handed
 *   to event handlers (mg_str, http_message, websocket_message) point into a
 *   connection's receive buffer and are valid only during the handler call.
 *   Strings given to the library (addresses, options) stay owned by the caller.
 * - Writes (mg_send, mg_printf, mg_send_websocket_frame) only append to the
 *   connection's send buffer; the poll loop writes them out, at once when the
 *   socket can take them.
 * - IPv4 only; no TLS, no outgoing connections.
 *
 * Events delivered to a connection's handler, handler(nc, ev, ev_data):
 *   MG_EV_CLOSE (5)                         ev_data NULL; last event of a connection
 *   MG_EV_HTTP_REQUEST (100)                struct http_message *
 *   MG_EV_WEBSOCKET_HANDSHAKE_REQUEST (111) struct http_message * (the upgrade request)
 *   MG_EV_WEBSOCKET_HANDSHAKE_DONE (112)    NULL
 *   MG_EV_WEBSOCKET_FRAME (113)             struct websocket_message * (data message)
 *   MG_EV_WEBSOCKET_CONTROL_FRAME (114)     struct websocket_message * (opcode 8..15)
 *
 * Limits (what one peer can make the service hold):
 * - HTTP header block: MG_MAX_HTTP_HEADER_SIZE bytes; reaching it without the
 *   end of the block closes the connection without a reply.
 * - HTTP body: MG_MAX_HTTP_BODY_SIZE bytes, whether announced by
 *   Content-Length, sent chunked, or read until close (PUT/POST without
 *   length); a larger body is answered with 413 and the connection closed.
 * - WebSocket message: MG_MAX_WEBSOCKET_MESSAGE_SIZE bytes per frame and per
 *   reassembled fragmented message; a larger one is answered with a close
 *   frame (status 1009) and the connection closed.
 * - Pending output: while more than MG_MAX_SEND_BACKLOG bytes wait in a
 *   connection's send buffer, the loop stops reading from that connection;
 *   past MG_MAX_SEND_BUFFER unsent bytes (replies handed in later by the
 *   user, a peer that does not read) the connection is closed.
 * - Open connections: at most mgr->max_conns (MG_MAX_CONNECTIONS) accepted
 *   connections; past it new ones are accepted and closed at once and
 *   counted in mgr->refused_conns.
 * - An HTTP connection (not a WebSocket) with no input or output for more
 *   than MG_HTTP_IDLE_TIMEOUT seconds and no request held is closed.
 *
 * Threads: mg_mgr_wakeup() is the one call safe from any thread.
 */
#ifndef HWTRANSPORT_H
#define HWTRANSPORT_H

#include <netinet/in.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#define HWTRANSPORT_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

#define MG_MAX_HTTP_HEADERS 40
#define MG_MAX_HTTP_HEADER_SIZE 8192
#define MG_MAX_HTTP_BODY_SIZE (1024 * 1024)
#define MG_MAX_WEBSOCKET_MESSAGE_SIZE (1024 * 1024)
#define MG_MAX_SEND_BACKLOG (1024 * 1024)
#define MG_MAX_SEND_BUFFER (4 * 1024 * 1024)
#define MG_MAX_CONNECTIONS 8192
#define MG_HTTP_IDLE_TIMEOUT 600
/* A WebSocket connection silent for more than this many whole seconds gets an
 * empty ping frame. */
#define MG_WEBSOCKET_PING_INTERVAL 5

/* Event codes. */
#define MG_EV_CLOSE 5
#define MG_EV_HTTP_REQUEST 100
#define MG_EV_WEBSOCKET_HANDSHAKE_REQUEST 111
#define MG_EV_WEBSOCKET_HANDSHAKE_DONE 112
#define MG_EV_WEBSOCKET_FRAME 113
#define MG_EV_WEBSOCKET_CONTROL_FRAME 114

/* Connection flags (mg_connection.flags). */
#define MG_F_LISTENING (1u << 0)         /* accepts new connections */
#define MG_F_SEND_AND_CLOSE (1u << 1)    /* close once the send buffer is empty */
#define MG_F_CLOSE_IMMEDIATELY (1u << 2) /* close at the end of this poll pass */
#define MG_F_IS_WEBSOCKET (1u << 3)      /* WebSocket upgrade completed */
#define MG_F_WANT_WRITE (1u << 4)        /* internal: last write would block */
/* Set by the handler of MG_EV_HTTP_REQUEST that answers later: no further
 * request of the connection is delivered until mg_resume(). A peer that
 * closes meanwhile ends the connection (MG_EV_CLOSE) unless the request
 * itself was ended by that close (a body read until close). */
#define MG_F_HOLD (1u << 6)

/* WebSocket opcodes. */
#define WEBSOCKET_OP_CONTINUE 0
#define WEBSOCKET_OP_TEXT 1
#define WEBSOCKET_OP_BINARY 2
#define WEBSOCKET_OP_CLOSE 8
#define WEBSOCKET_OP_PING 9
#define WEBSOCKET_OP_PONG 10

/* mg_sock_addr_to_str flags. */
#define MG_SOCK_STRINGIFY_IP 1
#define MG_SOCK_STRINGIFY_PORT 2

/* Growable byte buffer: len bytes of data in a block of size bytes. */
struct mbuf {
  char *buf;
  size_t len;
  size_t size;
};

/* A text slice, not zero-terminated. */
struct mg_str {
  const char *p;
  size_t len;
};

/* A parsed HTTP request; every slice points into the receive buffer. */
struct http_message {
  struct mg_str message; /* request line, headers and body */
  struct mg_str method;
  struct mg_str uri;          /* path, without the query string */
  struct mg_str proto;
  struct mg_str query_string; /* after the first '?', without it */
  struct mg_str header_names[MG_MAX_HTTP_HEADERS];
  struct mg_str header_values[MG_MAX_HTTP_HEADERS];
  struct mg_str body;
};

/* A received WebSocket message (unmasked, reassembled). */
struct websocket_message {
  unsigned char *data;
  size_t size;
  /* First header byte: 0x80 (FIN) | opcode. For a reassembled message the
   * opcode is that of its first fragment. */
  unsigned char flags;
};

/* File server options; NULL members take the defaults. */
struct serve_options {
  const char *document_root;            /* default "." */
  const char *index_files;              /* default "index.html,index.htm,index.shtml,index.cgi,index.php" */
  const char *enable_directory_listing; /* "yes" to list directories; default "yes" */
  const char *extra_headers;            /* header lines without the final CR LF */
};

struct mg_connection;
struct mg_mgr;
typedef void (*mg_event_handler_t)(struct mg_connection *nc, int ev, void *ev_data);
/* Clock of the manager: whole seconds. Replaceable so tests need not sleep. */
typedef time_t (*mg_clock_t)(void *arg);

struct mg_connection {
  struct mg_connection *next, *prev; /* manager's list */
  struct mg_mgr *mgr;
  struct mg_connection *listener; /* NULL for the listener itself */
  int sock;
  /* Peer address; for a listener the local address it is bound to. */
  struct sockaddr_in sa;
  struct mbuf recv_mbuf;
  struct mbuf send_mbuf;
  mg_event_handler_t handler;       /* user's event handler */
  mg_event_handler_t proto_handler; /* internal: HTTP or WebSocket layer */
  void *user_data;                  /* inherited from the listener */
  unsigned int flags;
  time_t last_io_time; /* last input or output, manager clock */

  /* Internal protocol state. */
  size_t ws_frag_len;   /* reassembled fragment bytes at the buffer front */
  unsigned char ws_frag_op; /* opcode of the first fragment */
  size_t chunk_decoded; /* chunked body: decoded bytes after the header block */
  int file_fd;          /* file being sent by mg_serve_http, or -1 */
  uint64_t file_left;   /* bytes of it still to send */
};

struct mg_mgr {
  struct mg_connection *active_connections;
  void *user_data;
  mg_clock_t clock;
  void *clock_arg;
  /* Internal: poll set reused across passes. */
  void *pfds;
  struct mg_connection **pconns;
  size_t pcap;
  /* Internal: accepting paused until this monotonic time (ms) after a
   * failed accept (for example when descriptors have run out). */
  int64_t accept_resume_ms;
  size_t num_conns;             /* accepted connections open now */
  size_t max_conns;             /* cap on them, MG_MAX_CONNECTIONS by default */
  unsigned long refused_conns;  /* connections closed at once past the cap */
  /* Internal: eventfd of mg_mgr_wakeup and what it calls, or -1. */
  int wake_fd;
  void (*wake_handler)(struct mg_mgr *mgr, void *arg);
  void *wake_arg;
};

/* Buffer helpers. mbuf_append returns the bytes appended: n, or 0 when the
 * buffer could not grow (it is then unchanged). Growth: (len + n) * 1.5. */
HWTRANSPORT_API void mbuf_init(struct mbuf *mb, size_t initial_size);
HWTRANSPORT_API void mbuf_free(struct mbuf *mb);
HWTRANSPORT_API size_t mbuf_append(struct mbuf *mb, const void *data, size_t n);
HWTRANSPORT_API void mbuf_remove(struct mbuf *mb, size_t n); /* from the front */

/* Empty manager. user_data is stored as is. */
HWTRANSPORT_API void mg_mgr_init(struct mg_mgr *mgr, void *user_data);
/* Closes every connection (delivering MG_EV_CLOSE) and frees the manager's memory. */
HWTRANSPORT_API void mg_mgr_free(struct mg_mgr *mgr);
/* Replaces the manager's clock (default: time(NULL)). */
HWTRANSPORT_API void mg_mgr_set_clock(struct mg_mgr *mgr, mg_clock_t clock, void *arg);
/* Lets other threads wake the loop: afterwards mg_mgr_wakeup() makes the
 * current or next mg_mgr_poll() return from its wait and call
 * handler(mgr, arg) on the polling thread. 0, or -1 when no eventfd could be
 * made. */
HWTRANSPORT_API int mg_mgr_set_wakeup(struct mg_mgr *mgr, void (*handler)(struct mg_mgr *, void *),
                                      void *arg);
/* Thread-safe; several wake-ups before the loop runs call the handler once. */
HWTRANSPORT_API void mg_mgr_wakeup(struct mg_mgr *mgr);
/* One pass of the loop, waiting at most timeout_ms. Returns the clock's time. */
HWTRANSPORT_API time_t mg_mgr_poll(struct mg_mgr *mgr, int timeout_ms);

/* Listening TCP connection. address is "PORT" (all IPv4 interfaces) or
 * "A.B.C.D:PORT"; port 0 picks a free port (read it from nc->sa).
 * Returns NULL on any failure. */
HWTRANSPORT_API struct mg_connection *mg_bind(struct mg_mgr *mgr, const char *address,
                                              mg_event_handler_t handler);
/* Gives the listener (and every connection it accepts) the HTTP layer with
 * WebSocket upgrade. */
HWTRANSPORT_API void mg_set_protocol_http_websocket(struct mg_connection *nc);

/* Clears MG_F_HOLD and delivers the requests that waited behind the held
 * one. Call from the polling thread, outside the connection's handler. */
HWTRANSPORT_API void mg_resume(struct mg_connection *nc);

/* Appends to the send buffer. mg_printf has no size limit; it returns the
 * bytes appended (0 on formatting or allocation failure). */
HWTRANSPORT_API void mg_send(struct mg_connection *nc, const void *data, int len);
HWTRANSPORT_API int mg_printf(struct mg_connection *nc, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
HWTRANSPORT_API int mg_vprintf(struct mg_connection *nc, const char *fmt, va_list ap);

/* 0 when str and the zero-terminated s have the same length and bytes. */
HWTRANSPORT_API int mg_vcmp(const struct mg_str *str, const char *s);
/* Value of the first header named name (case-insensitive), or NULL. */
HWTRANSPORT_API struct mg_str *mg_get_http_header(struct http_message *hm, const char *name);
/* "A.B.C.D", "PORT" or "A.B.C.D:PORT" into buf (always terminated when len > 0). */
HWTRANSPORT_API void mg_sock_addr_to_str(const struct sockaddr_in *sa, char *buf, size_t len,
                                         int flags);

/* Answers hm from the file system under opts.document_root: a file, the
 * first index file of a directory, or a directory listing. Never serves a
 * path outside the document root. */
HWTRANSPORT_API void mg_serve_http(struct mg_connection *nc, struct http_message *hm,
                                   struct serve_options opts);

/* Appends one unmasked frame with FIN set and op's low 4 bits. */
HWTRANSPORT_API void mg_send_websocket_frame(struct mg_connection *nc, int op, const void *data,
                                             size_t len);

#ifdef __cplusplus
}
#endif

#endif /* HWTRANSPORT_H */
