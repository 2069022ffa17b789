// The event manager: listening socket, the poll loop and connection I/O.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "internal.h"

// Reads per connection and pass, so one fast sender cannot starve the others.
static const int kMaxReadsPerPass = 16;
static const size_t kReadSize = 1024;
static const int kMaxAcceptsPerPass = 64;
// After a failed accept (descriptors or memory exhausted) the listener is
// left out of the poll set this long, instead of waking the loop at once.
static const int64_t kAcceptBackoffMs = 100;

static time_t default_clock(void *) { return time(nullptr); }

static int64_t monotonic_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void mg_call(struct mg_connection *nc, int ev, void *ev_data) {
  if (nc->handler != nullptr) nc->handler(nc, ev, ev_data);
}

void mg_mgr_init(struct mg_mgr *mgr, void *user_data) {
  memset(mgr, 0, sizeof *mgr);
  mgr->user_data = user_data;
  mgr->clock = default_clock;
  mgr->max_conns = MG_MAX_CONNECTIONS;
  mgr->wake_fd = -1;
}

int mg_mgr_set_wakeup(struct mg_mgr *mgr, void (*handler)(struct mg_mgr *, void *), void *arg) {
  if (mgr->wake_fd < 0) mgr->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (mgr->wake_fd < 0) return -1;
  mgr->wake_handler = handler;
  mgr->wake_arg = arg;
  return 0;
}

void mg_mgr_wakeup(struct mg_mgr *mgr) {
  const uint64_t one = 1;
  // A full counter (never in practice) still leaves the loop woken.
  if (mgr->wake_fd >= 0 && write(mgr->wake_fd, &one, sizeof one) < 0) return;
}

void mg_mgr_set_clock(struct mg_mgr *mgr, mg_clock_t clock, void *arg) {
  mgr->clock = clock != nullptr ? clock : default_clock;
  mgr->clock_arg = arg;
}

static struct mg_connection *new_conn(struct mg_mgr *mgr, int sock) {
  auto *nc = static_cast<struct mg_connection *>(calloc(1, sizeof(struct mg_connection)));
  if (nc == nullptr) return nullptr;
  nc->mgr = mgr;
  nc->sock = sock;
  nc->file_fd = -1;
  nc->next = mgr->active_connections;
  if (nc->next != nullptr) nc->next->prev = nc;
  mgr->active_connections = nc;
  return nc;
}

static void close_conn(struct mg_connection *nc) {
  struct mg_mgr *mgr = nc->mgr;
  if (nc->prev != nullptr)
    nc->prev->next = nc->next;
  else
    mgr->active_connections = nc->next;
  if (nc->next != nullptr) nc->next->prev = nc->prev;
  mg_call(nc, MG_EV_CLOSE, nullptr);
  if (nc->sock >= 0) close(nc->sock);
  if (nc->file_fd >= 0) close(nc->file_fd);
  mbuf_free(&nc->recv_mbuf);
  mbuf_free(&nc->send_mbuf);
  if (nc->listener != nullptr) mgr->num_conns--;
  free(nc);
  // A descriptor came free: a paused listener may accept again.
  mgr->accept_resume_ms = 0;
}

void mg_mgr_free(struct mg_mgr *mgr) {
  while (mgr->active_connections != nullptr) close_conn(mgr->active_connections);
  free(mgr->pfds);
  free(mgr->pconns);
  if (mgr->wake_fd >= 0) close(mgr->wake_fd);
  mgr->wake_fd = -1;
  mgr->pfds = nullptr;
  mgr->pconns = nullptr;
  mgr->pcap = 0;
}

static bool parse_address(const char *address, struct sockaddr_in *sa) {
  memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  const char *colon = strrchr(address, ':');
  const char *port = colon != nullptr ? colon + 1 : address;
  if (colon != nullptr) {
    char host[INET_ADDRSTRLEN];
    size_t n = static_cast<size_t>(colon - address);
    if (n == 0 || n >= sizeof host) return false;
    memcpy(host, address, n);
    host[n] = '\0';
    if (inet_pton(AF_INET, host, &sa->sin_addr) != 1) return false;
  } else {
    sa->sin_addr.s_addr = htonl(INADDR_ANY);
  }
  if (*port == '\0' || strlen(port) > 5) return false;
  unsigned long v = 0;
  for (const char *p = port; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<unsigned long>(*p - '0');
  }
  if (v > 65535) return false;
  sa->sin_port = htons(static_cast<uint16_t>(v));
  return true;
}

struct mg_connection *mg_bind(struct mg_mgr *mgr, const char *address, mg_event_handler_t handler) {
  struct sockaddr_in sa;
  if (address == nullptr || !parse_address(address, &sa)) return nullptr;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  int on = 1;
  socklen_t slen = sizeof sa;
  struct mg_connection *nc = nullptr;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) != 0 || listen(fd, 4096) != 0 ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK) != 0 ||
      getsockname(fd, reinterpret_cast<struct sockaddr *>(&sa), &slen) != 0 ||
      (nc = new_conn(mgr, fd)) == nullptr) {
    close(fd);
    return nullptr;
  }
  nc->sa = sa;
  nc->flags = MG_F_LISTENING;
  nc->handler = handler;
  nc->last_io_time = mgr->clock(mgr->clock_arg);
  return nc;
}

void mg_set_protocol_http_websocket(struct mg_connection *nc) { nc->proto_handler = mg_http_proto_handler; }

void mg_send(struct mg_connection *nc, const void *data, int len) {
  if (len > 0) mbuf_append(&nc->send_mbuf, data, static_cast<size_t>(len));
}

int mg_vprintf(struct mg_connection *nc, const char *fmt, va_list ap) {
  char stack[1024];
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(stack, sizeof stack, fmt, ap2);
  va_end(ap2);
  if (n <= 0) return 0;
  if (static_cast<size_t>(n) < sizeof stack)
    return static_cast<int>(mbuf_append(&nc->send_mbuf, stack, static_cast<size_t>(n)));
  // Longer than the stack buffer: format on the heap.
  char *heap = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
  if (heap == nullptr) return 0;
  va_copy(ap2, ap);
  vsnprintf(heap, static_cast<size_t>(n) + 1, fmt, ap2);
  va_end(ap2);
  int r = static_cast<int>(mbuf_append(&nc->send_mbuf, heap, static_cast<size_t>(n)));
  free(heap);
  return r;
}

int mg_printf(struct mg_connection *nc, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = mg_vprintf(nc, fmt, ap);
  va_end(ap);
  return n;
}

static void accept_conns(struct mg_connection *ls, time_t now) {
  struct mg_mgr *mgr = ls->mgr;
  for (int i = 0; i < kMaxAcceptsPerPass; i++) {
    struct sockaddr_in sa;
    socklen_t slen = sizeof sa;
    int fd = accept4(ls->sock, reinterpret_cast<struct sockaddr *>(&sa), &slen, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) mgr->accept_resume_ms = monotonic_ms() + kAcceptBackoffMs;
      return;
    }
    // Past the cap the peer learns at once that it is not served, rather
    // than waiting in the backlog.
    if (mgr->num_conns >= mgr->max_conns) {
      close(fd);
      mgr->refused_conns++;
      continue;
    }
    struct mg_connection *nc = new_conn(mgr, fd);
    if (nc == nullptr) {
      close(fd);
      mgr->accept_resume_ms = monotonic_ms() + kAcceptBackoffMs;
      return;
    }
    // Replies go out in one write; no reason to hold them back.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    nc->sa = sa;
    nc->listener = ls;
    mgr->num_conns++;
    nc->handler = ls->handler;
    nc->proto_handler = ls->proto_handler;
    nc->user_data = ls->user_data;
    nc->last_io_time = now;
  }
}

static void read_conn(struct mg_connection *nc, time_t now) {
  char buf[kReadSize];
  for (int i = 0; i < kMaxReadsPerPass; i++) {
    ssize_t n = recv(nc->sock, buf, sizeof buf, 0);
    if (n > 0) {
      nc->last_io_time = now;
      if (nc->flags & MG_F_CLOSING) continue; // input of a closing connection is dropped
      if (nc->recv_mbuf.len + static_cast<size_t>(n) > MG_MAX_RECV_BUFFER ||
          mbuf_append(&nc->recv_mbuf, buf, static_cast<size_t>(n)) == 0) {
        nc->flags |= MG_F_CLOSE_IMMEDIATELY;
        return;
      }
      if (nc->proto_handler != nullptr) nc->proto_handler(nc, MG_PROTO_DATA, nullptr);
      if (static_cast<size_t>(n) < sizeof buf || nc->file_fd >= 0 || nc->send_mbuf.len >= MG_MAX_SEND_BACKLOG)
        return;
    } else if (n == 0) {
      nc->flags |= MG_F_PEER_EOF;
      if (nc->proto_handler != nullptr && (nc->flags & MG_F_CLOSING) == 0)
        nc->proto_handler(nc, MG_PROTO_EOF, nullptr);
      // Replies already queued still go out to a peer that only half-closed.
      nc->flags |= MG_F_SEND_AND_CLOSE;
      return;
    } else if (errno == EINTR) {
      continue;
    } else {
      if (errno != EAGAIN && errno != EWOULDBLOCK) nc->flags |= MG_F_CLOSE_IMMEDIATELY;
      return;
    }
  }
}

static void write_conn(struct mg_connection *nc, time_t now) {
  for (;;) {
    if (nc->file_fd >= 0 && nc->send_mbuf.len < MG_FILE_CHUNK) {
      mg_file_refill(nc);
      if (nc->file_fd < 0 && (nc->flags & MG_F_CLOSING) == 0 && nc->recv_mbuf.len > 0 &&
          nc->proto_handler != nullptr) {
        // The file is out: requests that waited behind it go on.
        nc->proto_handler(nc, MG_PROTO_DATA, nullptr);
      }
    }
    if (nc->send_mbuf.len == 0) return;
    ssize_t n = send(nc->sock, nc->send_mbuf.buf, nc->send_mbuf.len, MSG_NOSIGNAL);
    if (n > 0) {
      nc->last_io_time = now;
      bool partial = static_cast<size_t>(n) < nc->send_mbuf.len;
      mbuf_remove(&nc->send_mbuf, static_cast<size_t>(n));
      if (partial) {
        nc->flags |= MG_F_WANT_WRITE; // socket full: wait for POLLOUT
        return;
      }
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      nc->flags |= MG_F_WANT_WRITE;
      return;
    } else {
      nc->flags |= MG_F_CLOSE_IMMEDIATELY;
      return;
    }
  }
}

static bool grow_poll_set(struct mg_mgr *mgr, size_t n) {
  if (n <= mgr->pcap) return true;
  size_t cap = n + n / 2 + 16;
  void *p = realloc(mgr->pfds, cap * sizeof(struct pollfd));
  if (p == nullptr) return false;
  mgr->pfds = p;
  void *c = realloc(mgr->pconns, cap * sizeof(struct mg_connection *));
  if (c == nullptr) return false;
  mgr->pconns = static_cast<struct mg_connection **>(c);
  mgr->pcap = cap;
  return true;
}

time_t mg_mgr_poll(struct mg_mgr *mgr, int timeout_ms) {
  size_t count = 1;  // the wake-up descriptor
  for (struct mg_connection *nc = mgr->active_connections; nc; nc = nc->next) count++;
  if (!grow_poll_set(mgr, count)) {
    // Without memory for the poll set nothing can be watched this pass.
    if (timeout_ms > 0) poll(nullptr, 0, timeout_ms);
    return mgr->clock(mgr->clock_arg);
  }
  auto *pfds = static_cast<struct pollfd *>(mgr->pfds);
  int64_t now_ms = monotonic_ms();
  nfds_t n = 0;
  for (struct mg_connection *nc = mgr->active_connections; nc; nc = nc->next) {
    short events = 0;
    if (nc->flags & MG_F_LISTENING) {
      if (now_ms >= mgr->accept_resume_ms) {
        events = POLLIN;
      } else if (timeout_ms < 0 || mgr->accept_resume_ms - now_ms < timeout_ms) {
        timeout_ms = static_cast<int>(mgr->accept_resume_ms - now_ms);
      }
    } else {
      if (nc->flags & MG_F_CLOSE_IMMEDIATELY) timeout_ms = 0;
      // A peer that does not read its replies is not read from either.
      if ((nc->flags & MG_F_PEER_EOF) == 0 && nc->file_fd < 0 && nc->send_mbuf.len < MG_MAX_SEND_BACKLOG)
        events = POLLIN;
      if (nc->send_mbuf.len > 0 || nc->file_fd >= 0) events |= POLLOUT;
    }
    pfds[n].fd = nc->sock;
    pfds[n].events = events;
    pfds[n].revents = 0;
    mgr->pconns[n] = nc;
    n++;
  }

  const nfds_t nconns = n;
  if (mgr->wake_fd >= 0) {
    pfds[n].fd = mgr->wake_fd;
    pfds[n].events = POLLIN;
    pfds[n].revents = 0;
    n++;
  }

  int ready = poll(pfds, n, timeout_ms);
  time_t now = mgr->clock(mgr->clock_arg);

  if (ready > 0 && n > nconns && (pfds[nconns].revents & POLLIN)) {
    uint64_t count;
    if (read(mgr->wake_fd, &count, sizeof count) > 0 && mgr->wake_handler != nullptr)
      mgr->wake_handler(mgr, mgr->wake_arg);
  }

  // Connections accepted below join the list head and are not in pconns;
  // none is freed before the closing step at the end.
  for (nfds_t i = 0; ready > 0 && i < nconns; i++) {
    short re = pfds[i].revents;
    if (re == 0) continue;
    struct mg_connection *nc = mgr->pconns[i];
    if (nc->flags & MG_F_LISTENING) {
      if (re & POLLIN) accept_conns(nc, now);
      continue;
    }
    if (re & POLLNVAL) {
      nc->flags |= MG_F_CLOSE_IMMEDIATELY;
      continue;
    }
    // On an error or hang-up the next write attempt finds out and closes.
    if (re & (POLLOUT | POLLERR | POLLHUP)) nc->flags &= ~MG_F_WANT_WRITE;
    if ((re & (POLLIN | POLLHUP | POLLERR)) && (nc->flags & MG_F_PEER_EOF) == 0) read_conn(nc, now);
  }

  // Write what is pending at once where the socket can take it, instead of
  // waiting for the next pass; then close what is finished.
  for (struct mg_connection *nc = mgr->active_connections, *next; nc; nc = next) {
    next = nc->next;
    if (nc->flags & MG_F_LISTENING) continue;
    mg_ws_idle_check(nc, now);
    if ((nc->send_mbuf.len > 0 || nc->file_fd >= 0) && (nc->flags & (MG_F_WANT_WRITE | MG_F_CLOSE_IMMEDIATELY)) == 0)
      write_conn(nc, now);
    // A peer that does not read its replies is not kept at any cost; an idle
    // keep-alive connection is not kept for ever.
    if (nc->send_mbuf.len > MG_MAX_SEND_BUFFER ||
        ((nc->flags & (MG_F_IS_WEBSOCKET | MG_F_HOLD)) == 0 && now - nc->last_io_time > MG_HTTP_IDLE_TIMEOUT))
      nc->flags |= MG_F_CLOSE_IMMEDIATELY;
    if ((nc->flags & MG_F_CLOSE_IMMEDIATELY) ||
        ((nc->flags & MG_F_SEND_AND_CLOSE) && nc->send_mbuf.len == 0 && nc->file_fd < 0 &&
         (nc->flags & MG_F_HOLD_EOF) == 0))
      close_conn(nc);
  }
  return now;
}
