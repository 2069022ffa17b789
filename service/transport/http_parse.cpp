// HTTP/1.1 request parsing over byte buffers.
#include "http_parse.h"

#include <string.h>

#include "internal.h"

long http_head_len(const char *buf, size_t len) {
  const unsigned char *s = reinterpret_cast<const unsigned char *>(buf);
  for (size_t i = 0; i < len; i++) {
    unsigned char c = s[i];
    if ((c < 0x20 && c != '\r' && c != '\n') || c == 0x7f) return -1;
    if (c != '\n') continue;
    if (i + 1 < len && s[i + 1] == '\n') return static_cast<long>(i + 2);
    if (i + 2 < len && s[i + 1] == '\r' && s[i + 2] == '\n') return static_cast<long>(i + 3);
  }
  return 0;
}

static struct mg_str slice(const char *b, const char *e) { return {b, static_cast<size_t>(e - b)}; }

// End of the line starting at p (position of its LF, or end) and the end of
// its content without a trailing CR.
static const char *line_end(const char *p, const char *end, const char **content_end) {
  const char *lf = static_cast<const char *>(memchr(p, '\n', end - p));
  if (lf == nullptr) lf = end;
  const char *ce = lf;
  if (ce > p && ce[-1] == '\r') ce--;
  *content_end = ce;
  return lf;
}

int http_parse_head(const char *buf, size_t head_len, struct http_message *hm) {
  memset(hm, 0, sizeof *hm);
  const char *end = buf + head_len;
  const char *ce;
  const char *lf = line_end(buf, end, &ce);

  // Request line: method SP target SP protocol.
  const char *p = buf;
  const char *tok = p;
  while (p < ce && *p != ' ') p++;
  hm->method = slice(tok, p);
  while (p < ce && *p == ' ') p++;
  tok = p;
  while (p < ce && *p != ' ') p++;
  struct mg_str target = slice(tok, p);
  while (p < ce && *p == ' ') p++;
  const char *pe = ce;
  while (pe > p && pe[-1] == ' ') pe--;
  hm->proto = slice(p, pe);
  if (hm->method.len == 0 || target.len == 0) return -1;

  const char *q = static_cast<const char *>(memchr(target.p, '?', target.len));
  if (q != nullptr) {
    hm->uri = slice(target.p, q);
    hm->query_string = slice(q + 1, target.p + target.len);
  } else {
    hm->uri = target;
  }

  int n = 0;
  for (p = lf + 1; p < end && n < MG_MAX_HTTP_HEADERS; p = lf + 1) {
    lf = line_end(p, end, &ce);
    if (ce == p) break; // the empty line ending the block
    const char *colon = static_cast<const char *>(memchr(p, ':', ce - p));
    if (colon == nullptr) continue; // not a header line; ignored
    const char *ne = colon;
    while (ne > p && ne[-1] == ' ') ne--;
    if (ne == p) continue;
    const char *v = colon + 1;
    while (v < ce && *v == ' ') v++;
    const char *ve = ce;
    while (ve > v && ve[-1] == ' ') ve--;
    hm->header_names[n] = slice(p, ne);
    hm->header_values[n] = slice(v, ve);
    n++;
  }
  return 0;
}

enum http_body_kind http_body_framing(struct http_message *hm, uint64_t *length) {
  *length = 0;
  struct mg_str *te = mg_get_http_header(hm, "Transfer-Encoding");
  if (te != nullptr && te->len == 7 && mg_ncasecmp(te->p, "chunked", 7) == 0) return HTTP_BODY_CHUNKED;
  struct mg_str *cl = mg_get_http_header(hm, "Content-Length");
  if (cl != nullptr) {
    if (cl->len == 0 || cl->len > 19) return HTTP_BODY_BAD_LENGTH;
    uint64_t v = 0;
    for (size_t i = 0; i < cl->len; i++) {
      char c = cl->p[i];
      if (c < '0' || c > '9') return HTTP_BODY_BAD_LENGTH;
      v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *length = v;
    return HTTP_BODY_LENGTH;
  }
  if (mg_vcmp(&hm->method, "PUT") == 0 || mg_vcmp(&hm->method, "POST") == 0) return HTTP_BODY_TO_CLOSE;
  return HTTP_BODY_NONE;
}

static int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Position just after the LF of the line starting at s, or 0 if none yet.
static size_t next_line(const char *p, size_t s, size_t len) {
  const char *lf = static_cast<const char *>(memchr(p + s, '\n', len - s));
  return lf == nullptr ? 0 : static_cast<size_t>(lf - p) + 1;
}

int http_dechunk(char *p, size_t len, size_t *decoded, size_t *len_out, size_t max_body) {
  size_t out = *decoded; // where the next chunk's data goes
  size_t in = *decoded;  // start of the raw bytes not yet decoded
  int result = 0;
  for (;;) {
    // Chunk size line: hex digits, optional ";extension", CR LF (or LF).
    size_t data = next_line(p, in, len);
    if (data == 0) {
      if (len - in > 1024) result = -1; // no size line is that long
      break;
    }
    uint64_t size = 0;
    size_t i = in, digits = 0;
    for (; i < data && hexval(p[i]) >= 0; i++, digits++) {
      if (size > (UINT64_MAX >> 4)) return -1;
      size = size * 16 + static_cast<uint64_t>(hexval(p[i]));
    }
    if (digits == 0 || (p[i] != ';' && p[i] != '\r' && p[i] != '\n' && p[i] != ' ')) return -1;
    if (size > max_body - out) return -2;
    if (size == 0) {
      // Last chunk: skip trailer lines up to the empty one.
      size_t t = data;
      for (;;) {
        size_t nl = next_line(p, t, len);
        if (nl == 0) {
          if (len - t > MG_MAX_HTTP_HEADER_SIZE) return -1;
          goto wait;
        }
        bool empty = nl - t == 1 || (nl - t == 2 && p[t] == '\r');
        t = nl;
        if (empty) break;
      }
      in = t;
      result = 1;
      break;
    }
    // Data, then CR LF (or LF).
    if (len - data < size + 1) break;
    size_t after = data + size;
    size_t next;
    if (p[after] == '\n') {
      next = after + 1;
    } else if (p[after] == '\r') {
      if (len - after < 2) break;
      if (p[after + 1] != '\n') return -1;
      next = after + 2;
    } else {
      return -1;
    }
    memmove(p + out, p + data, size);
    out += size;
    in = next;
  }
wait:
  // Close the gap left by consumed framing.
  memmove(p + out, p + in, len - in);
  *len_out = out + (len - in);
  *decoded = out;
  return result;
}
