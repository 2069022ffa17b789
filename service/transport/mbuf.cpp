// Growable byte buffer and small text helpers.
#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

// An emptied buffer larger than this gives its memory back, so that one big
// message does not pin a megabyte to an idle connection.
static const size_t kKeepCapacity = 256 * 1024;

void mbuf_init(struct mbuf *mb, size_t initial_size) {
  mb->buf = nullptr;
  mb->len = 0;
  mb->size = 0;
  if (initial_size > 0 && (mb->buf = static_cast<char *>(malloc(initial_size))) != nullptr)
    mb->size = initial_size;
}

void mbuf_free(struct mbuf *mb) {
  free(mb->buf);
  mb->buf = nullptr;
  mb->len = mb->size = 0;
}

bool mbuf_reserve(struct mbuf *mb, size_t n) {
  if (n > SIZE_MAX / 2 - mb->len) return false;
  size_t need = mb->len + n;
  if (need <= mb->size) return true;
  size_t new_size = need + need / 2; // (len + n) * 1.5, truncated
  char *p = static_cast<char *>(realloc(mb->buf, new_size));
  if (p == nullptr) return false;
  mb->buf = p;
  mb->size = new_size;
  return true;
}

size_t mbuf_append(struct mbuf *mb, const void *data, size_t n) {
  if (n == 0 || !mbuf_reserve(mb, n)) return 0;
  memcpy(mb->buf + mb->len, data, n);
  mb->len += n;
  return n;
}

void mbuf_remove_at(struct mbuf *mb, size_t off, size_t n) {
  if (off >= mb->len) return;
  if (n > mb->len - off) n = mb->len - off;
  memmove(mb->buf + off, mb->buf + off + n, mb->len - off - n);
  mb->len -= n;
  if (mb->len == 0 && mb->size > kKeepCapacity) mbuf_free(mb);
}

void mbuf_remove(struct mbuf *mb, size_t n) { mbuf_remove_at(mb, 0, n); }

int mg_vcmp(const struct mg_str *str, const char *s) {
  size_t n = strlen(s);
  size_t m = str->len < n ? str->len : n;
  int r = m > 0 ? memcmp(str->p, s, m) : 0;
  if (r != 0) return r;
  return str->len < n ? -1 : (str->len > n ? 1 : 0);
}

int mg_ncasecmp(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    int d = tolower(static_cast<unsigned char>(a[i])) - tolower(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return 0;
}

struct mg_str *mg_get_http_header(struct http_message *hm, const char *name) {
  size_t n = strlen(name);
  for (int i = 0; i < MG_MAX_HTTP_HEADERS && hm->header_names[i].len > 0; i++) {
    struct mg_str *h = &hm->header_names[i];
    if (h->len == n && mg_ncasecmp(h->p, name, n) == 0) return &hm->header_values[i];
  }
  return nullptr;
}

void mg_sock_addr_to_str(const struct sockaddr_in *sa, char *buf, size_t len, int flags) {
  if (buf == nullptr || len == 0) return;
  char ip[INET_ADDRSTRLEN] = "";
  if (flags & MG_SOCK_STRINGIFY_IP) inet_ntop(AF_INET, &sa->sin_addr, ip, sizeof ip);
  unsigned port = ntohs(sa->sin_port);
  if ((flags & MG_SOCK_STRINGIFY_IP) && (flags & MG_SOCK_STRINGIFY_PORT))
    snprintf(buf, len, "%s:%u", ip, port);
  else if (flags & MG_SOCK_STRINGIFY_PORT)
    snprintf(buf, len, "%u", port);
  else
    snprintf(buf, len, "%s", ip);
}
