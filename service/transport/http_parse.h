// HTTP request parsing: pure functions over byte buffers, no sockets.
#ifndef HWTRANSPORT_HTTP_PARSE_H
#define HWTRANSPORT_HTTP_PARSE_H

#include <stddef.h>
#include <stdint.h>

#include "hwtransport.h"

// Length of the header block at buf, through the empty line that ends it
// (LF LF or LF CR LF); 0 while that end has not arrived; -1 when a control
// byte other than CR and LF (TAB and DEL included) comes before it.
long http_head_len(const char *buf, size_t len);

// Parses the request line and the headers of a complete header block of
// head_len bytes into hm (message and body left empty; headers beyond the
// 40th are dropped). Returns 0, or -1 when the request line lacks a method
// or a target.
int http_parse_head(const char *buf, size_t head_len, struct http_message *hm);

// How the body of a parsed request is delimited.
enum http_body_kind {
  HTTP_BODY_NONE,       // no body
  HTTP_BODY_LENGTH,     // Content-Length bytes (length)
  HTTP_BODY_CHUNKED,    // Transfer-Encoding: chunked
  HTTP_BODY_TO_CLOSE,   // PUT or POST without length: until the peer closes
  HTTP_BODY_BAD_LENGTH, // Content-Length that is not a decimal number
};
enum http_body_kind http_body_framing(struct http_message *hm, uint64_t *length);

// Decodes chunked transfer coding in place. p[0, *decoded) is body already
// decoded, p[*decoded, len) raw chunked bytes not yet decoded. Every complete
// chunk's data is moved down behind the decoded body and its framing dropped;
// *len_out receives the new length of p's content. Returns 1 when the last
// chunk and its trailer have been consumed (then p[*decoded, *len_out) is
// whatever followed the message), 0 when more bytes are needed, -1 for
// malformed coding, -2 when the body would exceed max_body.
int http_dechunk(char *p, size_t len, size_t *decoded, size_t *len_out, size_t max_body);

#endif
